// Runs a program against the emulated FTDI chip, e.g. qz4826s1 itself, to try
// it (or run it under valgrind) without a board:
//   qz-usb-emulate [ft232h|ft232r|ft2232h] -- program [arguments...]
// The program's output passes through; its exit status is returned.
#include "ftdiemulator.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char **environ;

int main(int argc, char *argv[])
{
    usbemu::Options options;
    int first = 1;
    if (first < argc && std::strcmp(argv[first], "--") != 0) {
        std::string chip = argv[first++];
        if (chip == "ft232r")
            options.chip = usbemu::Chip::FT232R;
        else if (chip == "ft2232h")
            options.chip = usbemu::Chip::FT2232H;
        else if (chip != "ft232h")
            first = argc;  // unknown: usage
    }
    if (first < argc && std::strcmp(argv[first], "--") == 0)
        ++first;
    if (first >= argc) {
        std::fprintf(stderr, "usage: qz-usb-emulate [ft232h|ft232r|ft2232h] -- program [arguments...]\n");
        return 2;
    }
    usbemu::FtdiEmulator emulator(options);
    // built before fork: the emulator's thread may hold the allocator's lock
    std::vector<std::string> env = emulator.environment();
    for (char **e = environ; *e; ++e) {
        if (std::strncmp(*e, "LD_PRELOAD=", 11) != 0 && std::strncmp(*e, "UMOCKDEV_DIR=", 13) != 0)
            env.push_back(*e);
    }
    std::vector<char *> envp;
    for (std::string &entry : env)
        envp.push_back(&entry[0]);
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        execvpe(argv[first], argv + first, envp.data());
        std::perror(argv[first]);
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
