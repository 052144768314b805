// Whole runs of the Windows executables, started as Windows programs start
// them: qz4826s1.exe against stand-in ftd2xx.dll files built from the
// simulated board (or none at all), and the overwrite question without a
// console. Exact standard output, exit status, the files afterwards.
//
// Beside this test program: qz4826s1.exe, qz4826s1-sim.exe, and the
// stand-ins as standin-full, standin-plain and standin-broken\ftd2xx.dll.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string banner =
    "\nQZ4826 USB=>SDRAM test program Version 1.1 (c) the qz4826s1 developers\n";
const std::string deviceOpened =
    "FT_ListDevices OK, number of devices is 1. \n"
    "FT_Open OK, use ftHandle to access device\n";
const std::string noDriverHint =
    "The chip's D2XX driver (ftd2xx.dll) is not installed: plug in the board and let Windows "
    "install it, or install the D2XX driver from the FTDI website.\n";

std::string progress(unsigned long long total, const char *verb)
{
    return std::string(70, '\b') + std::to_string(total) + " Bytes " + verb;
}

fs::path testFolder()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(std::wstring(path, n)).parent_path();
}

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// Different at every position of a block, the same on every run.
std::string patternBytes(size_t n)
{
    std::string bytes(n, '\0');
    uint32_t x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}

// A fresh folder for one test, removed afterwards.
class TempFolder {
public:
    TempFolder()
    {
        path_ = fs::temp_directory_path() / ("qz4826s1-wintest-" + std::to_string(GetCurrentProcessId()) +
                                             "-" + std::to_string(counter++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const fs::path &path() const { return path_; }
    std::string operator/(const char *name) const { return (path_ / name).string(); }

private:
    static int counter;
    fs::path path_;
};
int TempFolder::counter = 0;

struct RunResult {
    std::string out;
    std::string err;
    DWORD status = 0;
    bool timedOut = false;
    double seconds = 0;
};

struct RunOptions {
    fs::path folder;  // current folder of the run ("" = this process's)
    std::vector<std::pair<std::string, std::string>> env;
    fs::path input;   // standard input from this file ("" = NUL)
};

std::string quote(const std::string &arg)
{
    // the arguments here hold no quotes and no trailing backslashes
    return "\"" + arg + "\"";
}

void readAll(HANDLE pipe, std::string *into)
{
    char chunk[4096];
    DWORD n;
    while (ReadFile(pipe, chunk, sizeof chunk, &n, nullptr) && n > 0)
        into->append(chunk, n);
}

// Starts exe detached from any console, as a scheduled task or a service
// would: the overwrite question has nobody to ask.
RunResult run(const fs::path &exe, const std::vector<std::string> &args, const RunOptions &options = {})
{
    std::string commandLine = quote(exe.string());
    for (const std::string &arg : args)
        commandLine += " " + quote(arg);

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    CreatePipe(&outRead, &outWrite, &inherit, 0);
    CreatePipe(&errRead, &errWrite, &inherit, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    std::wstring inputName = options.input.empty() ? L"NUL" : options.input.wstring();
    HANDLE input = CreateFileW(inputName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inherit, OPEN_EXISTING, 0, nullptr);

    // the child gets this process's environment with the additions
    std::vector<std::pair<std::string, std::string>> saved;
    for (const auto &kv : options.env) {
        char old[32768];
        DWORD n = GetEnvironmentVariableA(kv.first.c_str(), old, sizeof old);
        saved.push_back({kv.first, n > 0 && n < sizeof old ? std::string(old, n) : std::string("\x01")});
        SetEnvironmentVariableA(kv.first.c_str(), kv.second.c_str());
    }

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process = {};
    std::string folder = options.folder.string();
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    DWORD started = GetTickCount();
    BOOL ok = CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS,
                             nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &process);

    for (const auto &kv : saved)
        SetEnvironmentVariableA(kv.first.c_str(), kv.second == "\x01" ? nullptr : kv.second.c_str());
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    CloseHandle(input);

    RunResult result;
    if (!ok) {
        CloseHandle(outRead);
        CloseHandle(errRead);
        ADD_FAILURE() << "cannot start " << commandLine << " (error " << GetLastError() << ")";
        return result;
    }
    std::thread errReader(readAll, errRead, &result.err);
    std::thread outReader(readAll, outRead, &result.out);
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 1);
        result.timedOut = true;
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    outReader.join();
    errReader.join();
    result.seconds = (GetTickCount() - started) / 1000.0;
    GetExitCodeProcess(process.hProcess, &result.status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(outRead);
    CloseHandle(errRead);
    return result;
}

// The exit status of main's -1 as a Windows process's exit code.
const DWORD failed = 0xFFFFFFFF;

// qz4826s1.exe copied into a folder, with the chosen stand-in beside it.
struct ToolFolder {
    TempFolder folder;
    fs::path exe = folder.path() / "qz4826s1.exe";
    explicit ToolFolder(const char *standin)
    {
        fs::copy_file(testFolder() / "qz4826s1.exe", exe);
        if (standin)
            fs::copy_file(testFolder() / (std::string("standin-") + standin) / "ftd2xx.dll",
                          folder.path() / "ftd2xx.dll");
    }
};

// On a Windows with the real driver installed the DLL is always found.
bool driverInstalled()
{
    HMODULE dll = LoadLibraryExA("ftd2xx.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (dll)
        FreeLibrary(dll);
    return dll != nullptr;
}

}  // namespace

TEST(DriverDll, MissingDriverEndsTheRunWithAHint)
{
    if (driverInstalled())
        GTEST_SKIP() << "ftd2xx.dll is installed on this system";
    ToolFolder tool(nullptr);
    std::string data = tool.folder / "data.bin";
    writeFile(data, "abc");
    RunResult r = run(tool.exe, {"-w", data});
    EXPECT_EQ(banner + "send data from file " + data + " to SDRAM ...\nFT_ListDevices failed\n" +
                  noDriverHint,
              r.out);
    EXPECT_EQ(failed, r.status);
    EXPECT_EQ("", r.err);
}

TEST(DriverDll, DllInTheCurrentFolderIsNotLoaded)
{
    if (driverInstalled())
        GTEST_SKIP() << "ftd2xx.dll is installed on this system";
    // a DLL beside the user's data must not be run: only the exe's folder counts
    ToolFolder tool(nullptr);
    TempFolder work;
    fs::copy_file(testFolder() / "standin-full" / "ftd2xx.dll", work.path() / "ftd2xx.dll");
    writeFile(work / "data.bin", "abc");
    RunOptions options;
    options.folder = work.path();
    RunResult r = run(tool.exe, {"-w", "data.bin"}, options);
    EXPECT_EQ(banner + "send data from file data.bin to SDRAM ...\nFT_ListDevices failed\n" + noDriverHint,
              r.out);
    EXPECT_EQ(failed, r.status);
}

TEST(DriverDll, UnusableDllIsRefusedWithAHint)
{
    struct Case {
        const char *name;
        const char *standin;   // a stand-in variant, or null for the bytes below
        const char *contents;  // written as ftd2xx.dll
        std::string hint;
    };
    const std::string bits = std::to_string(sizeof(void *) * 8);
    const Case cases[] = {
        {"an operation missing", "broken", nullptr,
         "ftd2xx.dll has no FT_Read: reinstall the chip's D2XX driver from the FTDI website.\n"},
        {"not a DLL", nullptr, "not a DLL",
         "ftd2xx.dll is not a " + bits +
             "-bit Windows DLL (a copy for another Windows, or damaged): reinstall the chip's D2XX "
             "driver from the FTDI website.\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ToolFolder tool(c.standin);
        if (c.contents)
            writeFile(tool.folder.path() / "ftd2xx.dll", c.contents);
        std::string data = tool.folder / "data.bin";
        writeFile(data, "abc");
        RunResult r = run(tool.exe, {"-w", data});
        EXPECT_EQ(banner + "send data from file " + data + " to SDRAM ...\nFT_ListDevices failed\n" + c.hint,
                  r.out);
        EXPECT_EQ(failed, r.status);
    }
}

TEST(DriverDll, RoundTripThroughTheDllIsByteIdentical)
{
    struct Variant {
        const char *standin;
        std::vector<std::string> setup;  // the calls from the count to the time-outs
    };
    const Variant variants[] = {
        {"full",
         {"FT_ListDevices 0x80000000", "FT_Open 0", "FT_SetLatencyTimer 2",
          "FT_SetUSBParameters 65536 65536", "FT_SetTimeouts 500 0"}},
        {"plain", {"FT_ListDevices 0x80000000", "FT_Open 0", "FT_SetTimeouts 500 0"}},
    };
    for (const Variant &v : variants) {
        SCOPED_TRACE(v.standin);
        ToolFolder tool(v.standin);
        std::string data = tool.folder / "data.bin";
        std::string back = tool.folder / "back.bin";
        std::string log = tool.folder / "calls.log";
        std::string bytes = patternBytes(2 * 32768 + 100);
        writeFile(data, bytes);
        RunOptions options;
        options.env = {{"QZ4826_SIM_SDRAM", tool.folder / "sdram.bin"}, {"QZ4826_STANDIN_LOG", log}};

        RunResult w = run(tool.exe, {"-w", data, "100"}, options);
        EXPECT_EQ(banner + "send data from file " + data +
                      " to SDRAM ...\nMemory address offset : 0x00000100\n" + deviceOpened +
                      progress(32768, "send") + progress(65536, "send") + progress(65636, "send") + "\n",
                  w.out);
        EXPECT_EQ(0u, w.status);
        EXPECT_EQ("", w.err);
        std::vector<std::string> calls = lines(readFile(log));
        ASSERT_LE(v.setup.size(), calls.size());
        EXPECT_EQ(v.setup, std::vector<std::string>(calls.begin(), calls.begin() + v.setup.size()));
        EXPECT_EQ("FT_Close", calls.back());

        RunResult r = run(tool.exe, {"-r", back, "10064", "100"}, options);
        EXPECT_EQ(banner + "Receive 65636 bytes data from SDRAM to file " + back +
                      " ...\nMemory address offset : 00000100\n" + deviceOpened +
                      progress(32768, "received") + progress(65536, "received") +
                      progress(65636, "received") + "\n",
                  r.out);
        EXPECT_EQ(0u, r.status);
        EXPECT_TRUE(readFile(back) == bytes) << "the file read back differs from the one written";
    }
}

TEST(DriverDll, DeviceFailuresComeFromTheDriverWithoutAHint)
{
    struct Case {
        const char *name;
        std::pair<std::string, std::string> setting;
        std::string expected;  // after the file message
    };
    const Case cases[] = {
        {"no device", {"QZ4826_SIM_DEVICES", "0"},
         "FT_ListDevices OK, number of devices is 0. \nFT_Open failed\n"},
        {"listing fails", {"QZ4826_SIM_FAULT", "list"}, "FT_ListDevices failed\n"},
        {"open fails", {"QZ4826_SIM_FAULT", "open"},
         "FT_ListDevices OK, number of devices is 1. \nFT_Open failed\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ToolFolder tool("full");
        std::string data = tool.folder / "data.bin";
        writeFile(data, "abc");
        RunOptions options;
        options.env = {{"QZ4826_SIM_SDRAM", tool.folder / "sdram.bin"}, c.setting};
        RunResult r = run(tool.exe, {"-w", data}, options);
        EXPECT_EQ(banner + "send data from file " + data + " to SDRAM ...\n" + c.expected, r.out);
        EXPECT_EQ(failed, r.status);
    }
}

TEST(OverwriteQuestion, NoConsoleIsARefusalWhateverStandardInputHolds)
{
    // standard input is never the answer: only a key on the console is
    const char *inputs[] = {"", "y", "Y\r\n"};
    for (const char *input : inputs) {
        SCOPED_TRACE(std::string("standard input: ") + input);
        TempFolder folder;
        std::string file = folder / "out.bin";
        writeFile(file, "old contents");
        RunOptions options;
        options.env = {{"QZ4826_SIM_SDRAM", folder / "sdram.bin"}};
        if (*input) {
            options.input = folder.path() / "keys.txt";
            writeFile(options.input, input);
        }
        RunResult r = run(testFolder() / "qz4826s1-sim.exe", {"-r", file, "5"}, options);
        EXPECT_FALSE(r.timedOut);
        EXPECT_LT(r.seconds, 10);
        EXPECT_EQ(banner + "Receive 5 bytes data from SDRAM to file " + file + " ...\nOverwrite file:" +
                      file + " OK?(Y/N) ",
                  r.out);
        EXPECT_EQ(failed, r.status);
        EXPECT_EQ("old contents", readFile(file));
    }
}

TEST(Files, DirectoryAsInputIsNotFound)
{
    // Windows does not open a folder as a file at all
    TempFolder folder;
    std::string dir = folder.path().string();
    RunResult r = run(testFolder() / "qz4826s1-sim.exe", {"-w", dir});
    EXPECT_EQ(banner + "send data from file " + dir + " to SDRAM ...\nFile not found " + dir + ".\n", r.out);
    EXPECT_EQ(failed, r.status);
}
