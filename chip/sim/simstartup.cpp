// Linked into qz4826s1-sim only: sets the simulated device up from the
// environment before main runs, so a bad setting stops the run before the
// tool prints anything.
#include "simdevice.h"

#include <cstdio>
#include <cstdlib>

namespace {

bool configureFromEnvironment()
{
    sim::Settings settings;
    std::string error;
    if (!sim::settingsFromEnvironment(settings, error) || !sim::configure(settings, error)) {
        std::fprintf(stderr, "qz4826s1-sim: %s\n", error.c_str());
        std::exit(2);
    }
    return true;
}

const bool configured = configureFromEnvironment();

}  // namespace
