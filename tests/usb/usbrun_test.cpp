// The whole qz4826s1 tool, linked with the libftdi1 chip layer, against an
// emulated FTDI chip: libusb, libftdi and our layer run unchanged, only the
// kernel's usbdevfs is emulated. Each test checks the exact output bytes and
// the exit status of real runs.
#include "ftdiemulator.h"
#include "runchild.h"
#include "texts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using usbemu::Chip;
using usbemu::ChildResult;
using usbemu::FtdiEmulator;
using usbemu::Options;

namespace {

std::string format(const char *fmt, unsigned long long a, const std::string &b = "")
{
    char text[512];
    std::snprintf(text, sizeof text, fmt, a, b.c_str());
    return text;
}

// The progress line after each block: 70 backspaces, then the running total.
std::string progressLines(const std::vector<unsigned long long> &totals, const char *verb)
{
    std::string text;
    for (unsigned long long total : totals)
        text += progress(total, verb);
    return text;
}

// Block totals of a transfer of n bytes in 32 KiB blocks, stopping at cut.
std::vector<unsigned long long> blockTotals(unsigned long long n, unsigned long long cut = ~0ULL)
{
    std::vector<unsigned long long> totals;
    for (unsigned long long done = 0; done < n && done < cut;) {
        done = std::min({done + 32768, n, cut});
        totals.push_back(done);
    }
    return totals;
}

std::vector<uint8_t> pattern(size_t n, unsigned seed)
{
    std::vector<uint8_t> bytes(n);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t &b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

class UsbRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/qz-usb-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        // the permission case runs the tool as another user, who must read the files
        fs::permissions(dir_, fs::perms(0755));
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string path(const std::string &name) const { return dir_ + "/" + name; }

    void writeFile(const std::string &name, const std::vector<uint8_t> &bytes) const
    {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        fs::permissions(path(name), fs::perms(0644));
    }

    std::vector<uint8_t> readFile(const std::string &name) const
    {
        std::ifstream in(path(name), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    ChildResult run(const FtdiEmulator &emulator, const std::vector<std::string> &args, bool asOtherUser = false)
    {
        std::vector<std::string> argv = {QZ_TOOL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return usbemu::runChild(argv, emulator.environment(), asOtherUser);
    }

    std::string dir_;
};

std::string writeHead(const std::string &file, unsigned offset, unsigned devices)
{
    return banner + "send data from file " + file + " to SDRAM ...\n" +
           format("Memory address offset : 0x%08llX\n", offset) +
           format("FT_ListDevices OK, number of devices is %llu. \n", devices) +
           "FT_Open OK, use ftHandle to access device\n";
}

std::string readHead(const std::string &file, unsigned length, unsigned offset, unsigned devices)
{
    return banner + format("Receive %llu bytes data from SDRAM to file %s ...\n", length, file) +
           format("Memory address offset : %08llX\n", offset) +
           format("FT_ListDevices OK, number of devices is %llu. \n", devices) +
           "FT_Open OK, use ftHandle to access device\n";
}

std::string hexText(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

// What one run does to channel A of the chip, from open to close.
std::vector<std::string> openCloseRecord()
{
    return {
        "detach 0",          // the kernel's serial driver lets go
        "claim 0",
        "reset 0",           // libftdi's reset on open
        "bitmode 0 0x0000",  // the mode the EEPROM sets
        "purge out 0",
        "purge in 0",
        "latency 0 2",
        "release 0",
        "attach 0",          // the serial port comes back
    };
}

// The three kinds of chip: packet size, speed and channel count differ.
struct ChipCase {
    const char *name;
    Chip chip;
    unsigned devices;  // FT_ListDevices counts each channel
};

void PrintTo(const ChipCase &c, std::ostream *os) { *os << c.name; }

class UsbChip : public UsbRun, public ::testing::WithParamInterface<ChipCase> {};

TEST_P(UsbChip, WriteThenReadBackIsByteIdentical)
{
    const ChipCase &c = GetParam();
    FtdiEmulator emulator({c.chip});
    const unsigned offset = 0x100;
    const size_t size = 3 * 32768 + 1697;  // full blocks and a part block
    std::vector<uint8_t> data = pattern(size, 1);
    writeFile("in.bin", data);

    ChildResult w = run(emulator, {"-w", path("in.bin"), "100"});
    EXPECT_EQ(w.out, writeHead(path("in.bin"), offset, c.devices) + progressLines(blockTotals(size), "send") + "\n");
    EXPECT_EQ(w.err, "");
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(emulator.readSdram(offset, size), data);
    EXPECT_EQ(emulator.readSdram(0, offset), std::vector<uint8_t>(offset, 0));

    ChildResult r = run(emulator, {"-r", path("out.bin"), hexText(size), "100"});
    EXPECT_EQ(r.out, readHead(path("out.bin"), size, offset, c.devices) + progressLines(blockTotals(size), "received") + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile("out.bin"), data);

    // each run opens channel A only, and gives it back
    std::vector<std::string> twice = openCloseRecord();
    std::vector<std::string> second = openCloseRecord();
    twice.insert(twice.end(), second.begin(), second.end());
    EXPECT_EQ(emulator.record(), twice);
}

INSTANTIATE_TEST_SUITE_P(Chips, UsbChip,
                         ::testing::Values(ChipCase{"FT232H", Chip::FT232H, 1},
                                           ChipCase{"FT232R", Chip::FT232R, 1},
                                           ChipCase{"FT2232H", Chip::FT2232H, 2}),
                         [](const ::testing::TestParamInfo<ChipCase> &info) { return info.param.name; });

TEST_F(UsbRun, OpenPreparesTheChipAndCloseGivesTheSerialDriverBack)
{
    FtdiEmulator emulator({Chip::FT232H});
    writeFile("in.bin", pattern(10, 2));
    ChildResult w = run(emulator, {"-w", path("in.bin")});
    EXPECT_EQ(w.status, 0) << w.out;
    EXPECT_EQ(emulator.record(), openCloseRecord());
    EXPECT_TRUE(emulator.driverBound(0));
}

// A failed open: the tool's message, then one line of advice, exit -1.
struct OpenFailure {
    const char *name;
    Options options;
    bool asOtherUser;
    unsigned devices;
    const char *hint;
};

void PrintTo(const OpenFailure &c, std::ostream *os) { *os << c.name; }

class UsbOpenFailure : public UsbRun, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(UsbOpenFailure, SaysWhatToDo)
{
    const OpenFailure &c = GetParam();
    FtdiEmulator emulator(c.options);
    writeFile("in.bin", pattern(10, 3));
    ChildResult w = run(emulator, {"-w", path("in.bin")}, c.asOtherUser);
    EXPECT_EQ(w.out, banner + "send data from file " + path("in.bin") + " to SDRAM ...\n" +
                         format("FT_ListDevices OK, number of devices is %llu. \n", c.devices) +
                         "FT_Open failed\n" + c.hint + "\n");
    EXPECT_EQ(w.err, "");
    EXPECT_EQ(w.status, 255);
    // nothing was taken from the kernel's serial driver
    if (c.options.attached) {
        EXPECT_TRUE(emulator.driverBound(0));
    }
}

Options noChip()
{
    Options o;
    o.attached = false;
    return o;
}

Options otherProduct()
{
    Options o;
    o.productId = 0x6666;  // reprogrammed ids are not looked for
    return o;
}

Options denied()
{
    Options o;
    o.deniedToUser = true;
    return o;
}

Options busy()
{
    Options o;
    o.claimedElsewhere = true;
    return o;
}

const char noDeviceHint[] = "No FTDI device found: check that the board is plugged in and powered.";

INSTANTIATE_TEST_SUITE_P(
    Cases, UsbOpenFailure,
    ::testing::Values(
        OpenFailure{"NoDevice", noChip(), false, 0, noDeviceHint},
        OpenFailure{"NoDefaultIds", otherProduct(), false, 0, noDeviceHint},
        OpenFailure{"PermissionDenied", denied(), true, 1,
                    "Permission denied on the USB device: install the udev rule from the README "
                    "(then unplug and re-plug the board), or re-plug it if the rule is installed."},
        OpenFailure{"Busy", busy(), false, 1,
                    "The FTDI device is busy: another program or a kernel driver has claimed it; "
                    "close that program and try again."}),
    [](const ::testing::TestParamInfo<OpenFailure> &info) { return info.param.name; });

const size_t readSize = 100000;  // hexadecimal 186A0
const uint64_t arrived = 40000;  // the board's answers stop after this many bytes

TEST_F(UsbRun, BoardStopsAnsweringTheRunEndsWithWhatArrived)
{
    Options o;
    o.answerLimit = arrived;
    FtdiEmulator emulator(o);
    std::vector<uint8_t> data = pattern(readSize, 4);
    emulator.writeSdram(0, data);

    ChildResult r = run(emulator, {"-r", path("out.bin"), "186A0"});
    EXPECT_EQ(r.out, banner + format("Receive %llu bytes data from SDRAM to file %s ...\n", readSize, path("out.bin")) +
                         deviceOpened +
                         progressLines(blockTotals(readSize, arrived), "received") +
                         "\nNo data from the device for 2000 ms: 40000 of 100000 bytes received.\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_LT(r.seconds, 15.0);
    EXPECT_EQ(readFile("out.bin"), std::vector<uint8_t>(data.begin(), data.begin() + arrived));
    EXPECT_TRUE(emulator.driverBound(0));  // closed as usual after the failure
}

TEST_F(UsbRun, ChipUnpluggedDuringReadTheFileHoldsWhatArrived)
{
    Options o;
    o.goneAfterSent = arrived;
    FtdiEmulator emulator(o);
    std::vector<uint8_t> data = pattern(readSize, 5);
    emulator.writeSdram(0x20, data);

    ChildResult r = run(emulator, {"-r", path("out.bin"), "186A0", "20"});
    EXPECT_EQ(r.out, readHead(path("out.bin"), readSize, 0x20, 1) +
                         progressLines(blockTotals(readSize, arrived), "received") +
                         "\nDevice read failed: 40000 of 100000 bytes received.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 255);
    EXPECT_LT(r.seconds, 15.0);
    EXPECT_EQ(readFile("out.bin"), std::vector<uint8_t>(data.begin(), data.begin() + arrived));
}

TEST_F(UsbRun, ChipUnpluggedDuringWriteReportsWhatWentOut)
{
    // idle fill, set address, the first block whole, 1000 bytes of the second
    const uint64_t taken = 64 + 5 + (3 + 32768) + (3 + 1000);
    Options o;
    o.goneAfterReceived = taken;
    FtdiEmulator emulator(o);
    std::vector<uint8_t> data = pattern(readSize, 6);
    writeFile("in.bin", data);

    ChildResult w = run(emulator, {"-w", path("in.bin"), "0"});
    EXPECT_EQ(w.out, writeHead(path("in.bin"), 0, 1) + progressLines({32768}, "send") +
                         "\nDevice write failed: 33768 bytes sent.\n");
    EXPECT_EQ(w.err, "");
    EXPECT_EQ(w.status, 255);
    EXPECT_LT(w.seconds, 15.0);
    EXPECT_EQ(emulator.readSdram(0, 33768), std::vector<uint8_t>(data.begin(), data.begin() + 33768));
}

}  // namespace
