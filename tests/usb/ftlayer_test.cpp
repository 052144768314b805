// The libftdi1 layer's own promises, call by call (qz-ftcalls), under the
// emulated chip: what the vendor's library would give the tool.
#include "ftdiemulator.h"
#include "runchild.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using usbemu::Chip;
using usbemu::FtdiEmulator;
using usbemu::Options;

namespace {

// One line per call, as qz-ftcalls prints them.
std::vector<std::string> calls(const FtdiEmulator &emulator, const std::vector<std::string> &ops)
{
    std::vector<std::string> argv = {QZ_FTCALLS_PATH};
    argv.insert(argv.end(), ops.begin(), ops.end());
    usbemu::ChildResult r = usbemu::runChild(argv, emulator.environment());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// "read 0 1000 312" -> {"read", "0", "1000", "312"}
std::vector<std::string> fields(const std::string &line)
{
    std::vector<std::string> parts;
    std::istringstream in(line);
    for (std::string part; in >> part;)
        parts.push_back(part);
    return parts;
}

const char readBlockCommand[] = "write:02ff7f";  // read data, 32768 bytes

TEST(FtLayer, ReadTimeOutBoundsTheRead)
{
    Options o;
    o.answerLimit = 1000;  // the board sends 1000 of the 32768 bytes asked
    FtdiEmulator emulator(o);
    std::vector<std::string> lines =
        calls(emulator, {"open:0", "timeouts:300:0", readBlockCommand, "read:32768", "close"});
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "write 0 3");
    std::vector<std::string> read = fields(lines[3]);
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(read[0] + " " + read[1] + " " + read[2], "read 0 1000");  // a time-out is no failure
    EXPECT_GE(std::stoi(read[3]), 300);
    EXPECT_LT(std::stoi(read[3]), 1000);
    EXPECT_EQ(lines[4], "close 0");
}

TEST(FtLayer, ReadNeverReturnsMoreThanAsked)
{
    FtdiEmulator emulator({Chip::FT232R});
    std::vector<std::string> lines =
        calls(emulator, {"open:0", "timeouts:200:0", readBlockCommand, "read:100", "queue", "read:40000", "close"});
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(fields(lines[3])[2], "100");
    EXPECT_EQ(fields(lines[4])[2], "32668");  // the rest stays queued
    EXPECT_EQ(fields(lines[5])[1], "0");
    EXPECT_EQ(fields(lines[5])[2], "32668");  // all there was, after the time-out
    for (const std::string &line : lines)
        EXPECT_EQ(line.find("overrun"), std::string::npos) << line;
}

TEST(FtLayer, QueueQueryWaitsForTheChipInsteadOfSpinning)
{
    FtdiEmulator emulator({Chip::FT232H});
    std::vector<std::string> ops = {"open:0"};
    const int queries = 20;
    for (int i = 0; i < queries; ++i)
        ops.push_back("queue");
    ops.push_back("close");
    std::vector<std::string> lines = calls(emulator, ops);
    ASSERT_EQ(lines.size(), size_t(queries + 2));
    long long total = 0;
    for (int i = 1; i <= queries; ++i) {
        std::vector<std::string> q = fields(lines[i]);
        ASSERT_EQ(q.size(), 4u);
        EXPECT_EQ(q[1] + " " + q[2], "0 0");
        EXPECT_LT(std::stoi(q[3]), 150);  // about the 2 ms latency time, not the read time-out
        total += std::stoi(q[3]);
    }
    EXPECT_GE(total, queries * 1);  // each query asked the chip, which waited its latency time
    EXPECT_GE(emulator.stats().inEmpty, uint64_t(queries));
}

TEST(FtLayer, EachChannelIsADeviceOfItsOwn)
{
    FtdiEmulator emulator({Chip::FT2232H});
    std::vector<std::string> lines = calls(emulator, {"list", "open:2", "open:1", "close"});
    EXPECT_EQ(lines, (std::vector<std::string>{"list 0 2", "open 2", "open 0", "close 0"}));
    std::vector<std::string> record = emulator.record();
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(record.front(), "detach 1");  // channel B
    EXPECT_EQ(record.back(), "attach 1");
    EXPECT_TRUE(emulator.driverBound(0));
}

TEST(FtLayer, HandleThatWasNeverOpenedIsRefused)
{
    FtdiEmulator emulator({Chip::FT232H});
    EXPECT_EQ(calls(emulator, {"stray"}), std::vector<std::string>{"stray 1"});
}

}  // namespace
