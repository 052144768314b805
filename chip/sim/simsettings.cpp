// The simulator's settings from QZ4826_SIM_* environment variables. Only the
// simulator reads the environment; a bad value is refused, never guessed at.
#include "simdevice.h"

#include <cstdlib>
#include <filesystem>

namespace sim {
namespace {

// A whole decimal number, nothing else; false if it isn't one or is too large.
bool parseCount(const std::string &text, uint64_t max, uint64_t &value)
{
    if (text.empty() || text.size() > 19)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value <= max;
}

bool parseFault(const std::string &fault, Settings &settings, std::string &error)
{
    if (fault == "list") {
        settings.failList = true;
        return true;
    }
    if (fault == "open") {
        settings.failOpen = true;
        return true;
    }
    if (fault == "stale") {
        settings.stale = true;
        return true;
    }
    const struct {
        const char *name;
        uint64_t Settings::*field;
    } counted[] = {
        {"stall:", &Settings::stallAfter},
        {"writefail:", &Settings::writeFailAfter},
        {"unplug:", &Settings::unplugAfter},
    };
    for (const auto &c : counted) {
        std::string prefix = c.name;
        if (fault.compare(0, prefix.size(), prefix) == 0) {
            if (parseCount(fault.substr(prefix.size()), UINT64_MAX - 1, settings.*c.field))
                return true;
            error = "QZ4826_SIM_FAULT: '" + fault + "' needs a decimal byte count after '" +
                    prefix + "'";
            return false;
        }
    }
    error = "QZ4826_SIM_FAULT: unknown fault '" + fault +
            "' (known: list, open, stale, stall:N, writefail:N, unplug:N)";
    return false;
}

}  // namespace

std::string defaultSdramPath()
{
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec)
        dir = ".";
    return (dir / "qz4826s1-sim-sdram.bin").string();
}

bool settingsFromEnvironment(Settings &settings, std::string &error)
{
    settings = Settings{};
    settings.sdramPath = defaultSdramPath();

    if (const char *devices = std::getenv("QZ4826_SIM_DEVICES")) {
        uint64_t n = 0;
        if (!parseCount(devices, 127, n)) {
            error = std::string("QZ4826_SIM_DEVICES: '") + devices +
                    "' is not a device count from 0 to 127";
            return false;
        }
        settings.devices = static_cast<unsigned>(n);
    }
    if (const char *faults = std::getenv("QZ4826_SIM_FAULT")) {
        // several faults may be combined with commas, e.g. stale,stall:100
        std::string list = faults;
        size_t start = 0;
        for (;;) {
            size_t comma = list.find(',', start);
            if (!parseFault(list.substr(start, comma - start), settings, error))
                return false;
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    if (const char *trace = std::getenv("QZ4826_SIM_TRACE")) {
        if (!*trace) {
            error = "QZ4826_SIM_TRACE: empty file name";
            return false;
        }
        settings.tracePath = trace;
    }
    if (const char *sdram = std::getenv("QZ4826_SIM_SDRAM")) {
        if (!*sdram) {
            error = "QZ4826_SIM_SDRAM: empty file name";
            return false;
        }
        settings.sdramPath = sdram;
    }
    return true;
}

}  // namespace sim
