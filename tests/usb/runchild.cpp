#include "runchild.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

extern char **environ;

namespace usbemu {

ChildResult runChild(const std::vector<std::string> &argv, const std::vector<std::string> &environment,
                     bool asOtherUser, int timeLimitSeconds)
{
    // everything the child needs is built before fork: the emulator's thread
    // may hold the allocator's lock at that moment
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const std::string &mine : environment) {
            std::string name = mine.substr(0, mine.find('=') + 1);  // "NAME="
            replaced = replaced || entry.compare(0, name.size(), name) == 0;
        }
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<char *> envp;
    for (std::string &entry : env)
        envp.push_back(&entry[0]);
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char *> argp;
    for (std::string &arg : args)
        argp.push_back(&arg[0]);
    argp.push_back(nullptr);
    bool dropRoot = asOtherUser && geteuid() == 0;

    ChildResult result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        result.err = "pipe failed";
        return result;
    }
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        setpgid(0, 0);  // no controlling terminal reads; killed as a group
        if (dropRoot && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(126);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open = 2;
    auto deadline = start + std::chrono::seconds(timeLimitSeconds);
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(-pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char chunk[65536];
            ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd &fd : fds) {
        if (fd.fd >= 0)
            close(fd.fd);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

}  // namespace usbemu
