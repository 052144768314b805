// Failures in the middle of a transfer: each ends the run in bounded time with
// its message and -1, and the file keeps exactly the bytes that did arrive.
#include "runner.h"
#include "texts.h"

#include <gtest/gtest.h>

namespace {

const size_t idleAndAddress = 64 + 5;  // host bytes before the first data command

struct Board {
    TempDir dir;
    std::string data = patternBytes(65536 + 100, 5);
    Board()
    {
        // the board's memory holds a known pattern from address 0 on
        writeFile(dir.path("sdram.bin"), data);
    }
    RunResult run(const std::vector<std::string> &args, const std::string &fault, long long fileLimit = -1)
    {
        RunOptions options;
        options.env = {{"QZ4826_SIM_SDRAM", dir.path("sdram.bin")}};
        if (!fault.empty())
            options.env.push_back({"QZ4826_SIM_FAULT", fault});
        options.fileSizeLimit = fileLimit;
        options.timeoutSeconds = 20;
        return runTool(args, options);
    }
};

struct ReadFault {
    const char *fault;
    std::string tail;  // output after the device lines
    size_t kept;       // bytes the file holds afterwards
};

}  // namespace

TEST(ReadFaults, ReportWhatArrivedAndKeepIt)
{
    const ReadFault cases[] = {
        {"stall:40000",
         progress(32768, "received") + progress(40000, "received") +
             "\nNo data from the device for 2000 ms: 40000 of 65536 bytes received.\n",
         40000},
        {"stall:0", "\nNo data from the device for 2000 ms: 0 of 65536 bytes received.\n", 0},
        {"unplug:40000",
         progress(32768, "received") + "\nDevice read failed: 32768 of 65536 bytes received.\n", 32768},
        {"writefail:72",  // the second read command does not go out
         progress(32768, "received") + "\nDevice read failed: 32768 of 65536 bytes received.\n", 32768},
    };
    for (const ReadFault &c : cases) {
        SCOPED_TRACE(c.fault);
        Board board;
        std::string out = board.dir.path("out.bin");
        RunResult r = board.run({"-r", out, "10000"}, c.fault);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(banner + "Receive 65536 bytes data from SDRAM to file " + out + " ...\n" +
                      deviceOpened + c.tail,
                  r.out);
        EXPECT_EQ(255, r.status);
        EXPECT_EQ("", r.err);
        EXPECT_TRUE(readFile(out) == board.data.substr(0, c.kept));
        EXPECT_LT(r.seconds, 10);
    }
}

TEST(WriteFaults, ReportHowMuchWasSentAndStop)
{
    const struct {
        std::string fault;
        unsigned long long sent;
        std::string progressShown;
    } cases[] = {
        // the second block breaks off after 1000 of its 32771 bytes
        {"writefail:" + std::to_string(idleAndAddress + 32771 + 1000), 32768 + 997,
         progress(32768, "send")},
        {"writefail:10", 0, ""},
        {"unplug:0", 0, ""},  // gone right after the idle fill
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fault);
        Board board;
        std::string in = board.dir.path("in.bin");
        std::string file = patternBytes(65536 + 100, 9);
        writeFile(in, file);
        RunResult r = board.run({"-w", in}, c.fault);
        EXPECT_EQ(banner + "send data from file " + in + " to SDRAM ...\n" + deviceOpened +
                      c.progressShown + "\nDevice write failed: " + std::to_string(c.sent) +
                      " bytes sent.\n",
                  r.out);
        EXPECT_EQ(255, r.status);
        EXPECT_EQ("", r.err);
        // exactly the bytes that went out landed; the old contents follow unchanged
        std::string sdram = readFile(board.dir.path("sdram.bin"));
        EXPECT_TRUE(sdram.substr(0, c.sent) == file.substr(0, c.sent));
        EXPECT_TRUE(sdram.substr(c.sent) == board.data.substr(c.sent));
    }
}

// POSIX only: on Windows a directory does not open at all ("File not found").
TEST(FileFaults, UnreadableInputFailsTheRun)
{
    Board board;
    RunResult unreadable = board.run({"-w", board.dir.path("")}, "");  // a directory opens but can't be read
    EXPECT_EQ(banner + "send data from file " + board.dir.path("") + " to SDRAM ...\n" + deviceOpened +
                  "\nFile read failed: 0 bytes sent.\n",
              unreadable.out);
    EXPECT_EQ(255, unreadable.status);
}

TEST(FileFaults, FullDiskFailsTheRun)
{
    Board board;
    std::string out = board.dir.path("out.bin");
    RunResult full = board.run({"-r", out, "10000"}, "", 40000);
    EXPECT_EQ(255, full.status);
    EXPECT_EQ("", full.err);
    std::string expectedStart = banner + "Receive 65536 bytes data from SDRAM to file " + out +
                                " ...\n" + deviceOpened + progress(32768, "received") +
                                "\nFile write failed: ";
    EXPECT_EQ(expectedStart, full.out.substr(0, expectedStart.size()));
    EXPECT_EQ(" of 65536 bytes saved.\n", full.out.substr(full.out.size() - 23));
    std::string kept = readFile(out);
    EXPECT_LE(32768u, kept.size());
    EXPECT_TRUE(kept == board.data.substr(0, kept.size()));
}
