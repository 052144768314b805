// Runs the tool as a separate process, the way a user does, and captures
// exactly what it printed and how it ended.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct RunResult {
    std::string out;      // standard output, byte for byte
    std::string err;      // standard error
    int status = -1;      // exit status, 0-255; -1 if killed or timed out
    bool timedOut = false;
    bool restoredTerminal = true;  // terminal back in cooked mode, echo on, afterwards
    std::string leftInTerminal;    // bytes still unread on the terminal afterwards
    std::string outBeforeKeys;     // standard output as it was when the keys were typed
    std::string terminalOut;       // what the tool wrote on the terminal itself
    double seconds = 0;
};

enum class Terminal {
    None,     // no controlling terminal at all; standard input is /dev/null
    Control,  // a pseudo-terminal is the controlling terminal; output goes to pipes
};

struct RunOptions {
    std::vector<std::pair<std::string, std::string>> env;  // added to the environment
    Terminal terminal = Terminal::None;
    std::string keys;       // typed on the terminal once the tool waits for a key in raw mode
    int timeoutSeconds = 30;
    long long fileSizeLimit = -1;  // bytes a file may grow to (a full disk), -1 for none
};

// The tool under test: the simulated build unless QZ_TEST_TOOL names another
// binary; QZ_TEST_LAUNCHER (e.g. "wine") is put in front when set.
std::string toolPath();

// False when the tool runs under a launcher such as wine.
bool toolRunsNatively();

RunResult runTool(const std::vector<std::string> &args, const RunOptions &options = {});

// A fresh directory for one test, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string path(const std::string &name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

std::string readFile(const std::string &path);
// n bytes from offset on (fewer at the end of the file), without reading the rest.
std::string readFileRange(const std::string &path, uint64_t offset, size_t n);
uint64_t fileSize(const std::string &path);
void writeFile(const std::string &path, const std::string &bytes);
bool fileExists(const std::string &path);
// Deterministic bytes that differ at every position within a block.
std::string patternBytes(size_t n, unsigned seed = 1);
