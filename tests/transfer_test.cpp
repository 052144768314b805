// Whole runs that move data: the bytes on the link, the progress line, and
// files that come back from SDRAM exactly as they went in.
#include "runner.h"
#include "texts.h"

#include <gtest/gtest.h>

namespace {

std::string idleFillAndAddress(uint32_t address)
{
    std::string bytes(64, '\0');
    bytes += '\x03';
    for (int shift = 0; shift < 32; shift += 8)
        bytes += static_cast<char>(address >> shift);
    return bytes;
}

std::string header(char command, uint32_t n)
{
    return std::string{command, static_cast<char>((n - 1) & 0xFF), static_cast<char>((n - 1) >> 8)};
}

std::string hex(uint64_t value)
{
    char text[32];
    snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
    return text;
}

struct Board {
    TempDir dir;
    RunOptions options;
    Board()
    {
        options.env = {{"QZ4826_SIM_SDRAM", dir.path("sdram.bin")},
                       {"QZ4826_SIM_TRACE", dir.path("trace.bin")}};
    }
    std::string trace() const { return readFile(dir.path("trace.bin")); }
    std::string sdram(uint64_t from, size_t n) const { return readFileRange(dir.path("sdram.bin"), from, n); }
};

}  // namespace

TEST(WriteRun, SendsBlocksBehindTheirHeadersAndCountsDataBytes)
{
    Board board;
    std::string data = patternBytes(32768 + 100);
    std::string file = board.dir.path("in.bin");
    writeFile(file, data);
    RunResult r = runTool({"-w", file, "100"}, board.options);
    EXPECT_EQ(banner + "send data from file " + file + " to SDRAM ...\n" +
                  "Memory address offset : 0x00000100\n" + deviceOpened +
                  progress(32768, "send") + progress(32868, "send") + "\n",
              r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(idleFillAndAddress(0x100) + header(1, 32768) + data.substr(0, 32768) +
                  header(1, 100) + data.substr(32768),
              board.trace());
    EXPECT_EQ(std::string(0x100, '\0') + data, board.sdram(0, 0x100 + data.size() + 1));
}

TEST(WriteRun, WholeBlocksAndEmptyFilesSendNoEmptyCommand)
{
    for (size_t size : {size_t(0), size_t(65536)}) {
        Board board;
        std::string data = patternBytes(size);
        std::string file = board.dir.path("in.bin");
        writeFile(file, data);
        RunResult r = runTool({"-w", file}, board.options);
        std::string expectedTrace = idleFillAndAddress(0);
        std::string expectedOut = banner + "send data from file " + file + " to SDRAM ...\n" + deviceOpened;
        for (size_t at = 0; at < size; at += 32768) {
            expectedTrace += header(1, 32768) + data.substr(at, 32768);
            expectedOut += progress(at + 32768, "send");
        }
        EXPECT_EQ(expectedTrace, board.trace()) << size;
        EXPECT_EQ(expectedOut + "\n", r.out);
        EXPECT_EQ(0, r.status);
    }
}

TEST(ReadRun, AsksBlockByBlockAndWritesEveryByte)
{
    Board board;
    std::string data = patternBytes(40000, 3);
    std::string in = board.dir.path("in.bin");
    writeFile(in, data);
    ASSERT_EQ(0, runTool({"-w", in, "20"}, board.options).status);
    std::remove(board.dir.path("trace.bin").c_str());

    std::string out = board.dir.path("out.bin");
    RunResult r = runTool({"-r", out, "9000", "20"}, board.options);  // 32768 + 4096 bytes
    EXPECT_EQ(banner + "Receive 36864 bytes data from SDRAM to file " + out + " ...\n" +
                  "Memory address offset : 00000020\n" + deviceOpened +
                  progress(32768, "received") + progress(36864, "received") + "\n",
              r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(idleFillAndAddress(0x20) + header(2, 32768) + header(2, 4096), board.trace());
    EXPECT_EQ(data.substr(0, 36864), readFile(out));
}

TEST(ReadRun, LengthZeroIsRefusedAndLeavesAnEmptyFile)
{
    Board board;
    std::string out = board.dir.path("out.bin");
    RunResult r = runTool({"-r", out, "0"}, board.options);
    EXPECT_EQ(banner + "Receive 0 bytes data from SDRAM to file " + out + " ...\n" + deviceOpened +
                  "\nData length must not be 0.\n\n",
              r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", readFile(out));
    EXPECT_EQ(idleFillAndAddress(0), board.trace());
}

TEST(RoundTrip, FilesComeBackByteForByteAtTheirAddress)
{
    const size_t sizes[] = {1, 32767, 32768, 32769, 65536, 65536 + 100};
    const uint32_t offsets[] = {0, 0x100, 0x7FFFF000};
    unsigned seed = 10;
    for (uint32_t offset : offsets) {
        Board board;  // one board per offset: the runs build on each other's memory
        for (size_t size : sizes) {
            SCOPED_TRACE("size " + std::to_string(size) + " offset " + hex(offset));
            std::string data = patternBytes(size, ++seed);
            std::string in = board.dir.path("in.bin");
            std::string out = board.dir.path("out-" + std::to_string(size) + ".bin");
            writeFile(in, data);
            RunResult w = runTool({"-w", in, hex(offset)}, board.options);
            ASSERT_EQ(0, w.status) << w.out;
            RunResult r = runTool({"-r", out, hex(size), hex(offset)}, board.options);
            ASSERT_EQ(0, r.status) << r.out;
            EXPECT_TRUE(readFile(out) == data) << "read back differs";
        }
        // the last write is where it was asked to go, and nothing before it was touched
        EXPECT_EQ(offset + 65636u, fileSize(board.dir.path("sdram.bin")));
        EXPECT_TRUE(board.sdram(offset, 65636) == patternBytes(65636, seed));
        uint32_t before = offset < 4096 ? offset : 4096;
        EXPECT_EQ(std::string(before, '\0'), board.sdram(offset - before, before));
    }
}

TEST(RoundTrip, StaleBoardIsBroughtBackToAKnownState)
{
    Board board;
    board.options.env.push_back({"QZ4826_SIM_FAULT", "stale"});
    std::string data = patternBytes(50000, 7);
    std::string in = board.dir.path("in.bin");
    std::string out = board.dir.path("out.bin");
    writeFile(in, data);
    ASSERT_EQ(0, runTool({"-w", in, "1000"}, board.options).status);
    EXPECT_TRUE(board.sdram(0x1000, data.size() + 1) == data);
    RunResult r = runTool({"-r", out, hex(data.size()), "1000"}, board.options);
    EXPECT_EQ(0, r.status);
    EXPECT_TRUE(readFile(out) == data) << "old answer bytes ended up in the file";
}

TEST(ReadRun, TotalsStayRightPast2GiB)
{
    Board board;  // empty memory: every byte reads as 0x00
    board.options.env.pop_back();  // no trace of this run
    board.options.terminal = Terminal::Control;
    board.options.keys = "y";  // /dev/null exists, so the tool asks first
    board.options.timeoutSeconds = 120;
    RunResult r = runTool({"-r", "/dev/null", "80008000"}, board.options);
    EXPECT_EQ(0, r.status);
    std::string end = progress(2147483648ull, "received") + progress(2147516416ull, "received") + "\n";
    ASSERT_LE(end.size(), r.out.size());
    EXPECT_EQ(end, r.out.substr(r.out.size() - end.size()));
    EXPECT_NE(std::string::npos, r.out.find("Receive 2147516416 bytes data from SDRAM"));
}
