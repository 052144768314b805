#include "runner.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#ifndef QZ_SIM_BINARY
#error "QZ_SIM_BINARY must name the simulated tool"
#endif

std::string toolPath()
{
    const char *tool = std::getenv("QZ_TEST_TOOL");
    return tool && *tool ? tool : QZ_SIM_BINARY;
}

bool toolRunsNatively()
{
    const char *launcher = std::getenv("QZ_TEST_LAUNCHER");
    return !launcher || !*launcher;
}

namespace {

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Reads what is there; false once the other end is closed.
bool drain(int fd, std::string &into)
{
    char chunk[65536];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0) {
            into.append(chunk, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        return false;  // end of file, or EIO from a pty without a slave
    }
}

bool inRawMode(int master)
{
    struct termios t;
    return tcgetattr(master, &t) == 0 && !(t.c_lflag & ICANON) && !(t.c_lflag & ECHO);
}

}  // namespace

RunResult runTool(const std::vector<std::string> &args, const RunOptions &options)
{
    std::vector<std::string> argv;
    if (!toolRunsNatively())
        argv.push_back(std::getenv("QZ_TEST_LAUNCHER"));
    argv.push_back(toolPath());
    argv.insert(argv.end(), args.begin(), args.end());

    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
        throw std::runtime_error("pipe failed");
    int master = -1;
    std::string slaveName;
    if (options.terminal == Terminal::Control) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        slaveName = ptsname(master);
    }
    // the parent keeps the slave open so that bytes left on it can be read afterwards
    int slaveKeep = master >= 0 ? open(slaveName.c_str(), O_RDWR | O_NOCTTY) : -1;

    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        setsid();  // no controlling terminal, unless the pty becomes it below
        if (master >= 0) {
            int slave = open(slaveName.c_str(), O_RDWR);
            ioctl(slave, TIOCSCTTY, 0);
            dup2(slave, STDIN_FILENO);
        } else {
            int null = open("/dev/null", O_RDONLY);
            dup2(null, STDIN_FILENO);
        }
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        if (options.fileSizeLimit >= 0) {
            // writes past the limit fail with EFBIG instead of killing the tool
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit = {static_cast<rlim_t>(options.fileSizeLimit),
                                   static_cast<rlim_t>(options.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        for (const auto &kv : options.env)
            setenv(kv.first.c_str(), kv.second.c_str(), 1);
        std::vector<char *> cargv;
        for (auto &a : argv)
            cargv.push_back(const_cast<char *>(a.c_str()));
        cargv.push_back(nullptr);
        execvp(cargv[0], cargv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (master >= 0)
        setNonBlocking(master);
    setNonBlocking(outPipe[0]);
    setNonBlocking(errPipe[0]);

    RunResult result;
    bool outOpen = true, errOpen = true, keysSent = options.keys.empty();
    auto deadline = start + std::chrono::seconds(options.timeoutSeconds);
    while (outOpen || errOpen) {
        struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        poll(fds, 2, 10);
        // raw mode first: whatever the tool printed before it was set is then in the pipe
        bool waitingForKey = !keysSent && inRawMode(master);
        if (outOpen)
            outOpen = drain(outPipe[0], result.out);
        if (errOpen)
            errOpen = drain(errPipe[0], result.err);
        if (master >= 0)
            drain(master, result.terminalOut);
        if (waitingForKey) {
            result.outBeforeKeys = result.out;
            if (write(master, options.keys.data(), options.keys.size()) < 0)
                throw std::runtime_error("cannot type on the terminal");
            keysSent = true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            result.timedOut = true;
            break;
        }
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    close(outPipe[0]);
    close(errPipe[0]);

    if (master >= 0) {
        drain(master, result.terminalOut);
        struct termios t;
        tcgetattr(master, &t);
        result.restoredTerminal = (t.c_lflag & ICANON) && (t.c_lflag & ECHO);
        // what the next program on this terminal (the shell) would read
        cfmakeraw(&t);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        tcsetattr(slaveKeep, TCSANOW, &t);
        char rest[64];
        ssize_t n;
        while ((n = read(slaveKeep, rest, sizeof rest)) > 0)
            result.leftInTerminal.append(rest, static_cast<size_t>(n));
        close(slaveKeep);
        close(master);
    }
    return result;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "qz4826s1-test.XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string readFileRange(const std::string &path, uint64_t offset, size_t n)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(n, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(n));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

uint64_t fileSize(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::file_size(path, ec);
}

void writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string &path) { return std::filesystem::exists(path); }

std::string patternBytes(size_t n, unsigned seed)
{
    std::string bytes(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;  // a plain LCG: repeatable, no pattern at block size
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}
