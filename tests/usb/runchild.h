// Runs a program as a child process with extra environment variables and
// collects its standard output, standard error and exit status.
#pragma once

#include <string>
#include <vector>

namespace usbemu {

struct ChildResult {
    std::string out;
    std::string err;
    int status = -1;        // exit status; 128 + signal number when killed
    bool timedOut = false;  // killed after the time limit
    double seconds = 0;
};

// argv[0] is the program's path. environment entries are "NAME=value" and
// replace variables of the same name. With asOtherUser, a child started by
// root runs as nobody (65534), so file permissions apply to it.
ChildResult runChild(const std::vector<std::string> &argv, const std::vector<std::string> &environment,
                     bool asOtherUser = false, int timeLimitSeconds = 120);

}  // namespace usbemu
