// The connection and the board protocol, as the simulated chip layer sees them.
#include "board.h"
#include "link.h"
#include "simdevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

typedef std::vector<uint8_t> Bytes;

// A fresh simulated device, opened as the tool opens it.
void openDevice(sim::Settings settings = {})
{
    settings.record = true;
    std::string error;
    ASSERT_TRUE(sim::configure(settings, error)) << error;
    CaptureStdout();
    ASSERT_TRUE(openConnection());
    GetCapturedStdout();
    setConnectionTimeouts();
}

// Host bytes sent after the index-th byte so far.
Bytes sentSince(size_t index)
{
    const Bytes &all = sim::hostBytes();
    return Bytes(all.begin() + static_cast<long>(index), all.end());
}

Bytes setAddressCommand(uint32_t address)
{
    return {0x03, uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16),
            uint8_t(address >> 24)};
}

}  // namespace

TEST(Connection, CountsOpensDeviceZeroSetsTimeoutsAndCloses)
{
    sim::Settings settings;
    settings.devices = 2;
    settings.record = true;
    std::string error;
    ASSERT_TRUE(sim::configure(settings, error));
    CaptureStdout();
    ASSERT_TRUE(openConnection());
    EXPECT_EQ("FT_ListDevices OK, number of devices is 2. \n"
              "FT_Open OK, use ftHandle to access device\n",
              GetCapturedStdout());
    setConnectionTimeouts();
    closeConnection();
    std::vector<std::string> expected = {"FT_ListDevices 2147483648", "FT_Open 0",
                                         "FT_SetTimeouts 500 0", "FT_Close"};
    EXPECT_EQ(expected, sim::calls());
}

TEST(Connection, FailuresStopBeforeTheNextStep)
{
    const struct {
        bool failList, failOpen;
        unsigned devices;
        const char *output;
        std::vector<std::string> calls;
    } cases[] = {
        {true, false, 1, "FT_ListDevices failed\n", {"FT_ListDevices 2147483648"}},
        {false, true, 1, "FT_ListDevices OK, number of devices is 1. \nFT_Open failed\n",
         {"FT_ListDevices 2147483648", "FT_Open 0"}},
        {false, false, 0, "FT_ListDevices OK, number of devices is 0. \nFT_Open failed\n",
         {"FT_ListDevices 2147483648", "FT_Open 0"}},
    };
    for (const auto &c : cases) {
        sim::Settings settings;
        settings.failList = c.failList;
        settings.failOpen = c.failOpen;
        settings.devices = c.devices;
        settings.record = true;
        std::string error;
        ASSERT_TRUE(sim::configure(settings, error));
        CaptureStdout();
        EXPECT_FALSE(openConnection());
        EXPECT_EQ(c.output, GetCapturedStdout());
        EXPECT_EQ(c.calls, sim::calls());
    }
}

TEST(Protocol, WriteBlockSendsHeaderAndDataInOneWrite)
{
    for (uint32_t n : {1u, 32768u, 65532u}) {
        openDevice();
        Bytes buffer(65536, 0xAA);
        for (uint32_t i = 0; i < n; ++i)
            buffer[3 + i] = static_cast<uint8_t>(i * 7 + 1);
        CaptureStdout();
        EXPECT_EQ(n + 3, writeBlock(buffer.data(), n)) << n;
        EXPECT_EQ("", GetCapturedStdout());
        Bytes expected = {0x01, uint8_t((n - 1) & 0xFF), uint8_t((n - 1) >> 8)};
        expected.insert(expected.end(), buffer.begin() + 3, buffer.begin() + 3 + n);
        EXPECT_EQ(expected, sim::hostBytes()) << n;
        EXPECT_EQ("FT_Write " + std::to_string(n + 3), sim::calls().back());
        closeConnection();
    }
}

TEST(Protocol, ReadBlockSendsCommandAndReturnsExactlyTheBlock)
{
    for (uint32_t n : {1u, 32768u, 65532u}) {
        openDevice();
        Bytes data(n);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(i * 13 + 5);
        sim::board().receive(setAddressCommand(0).data(), 5);
        Bytes write = {0x01, uint8_t((data.size() - 1) & 0xFF), uint8_t((data.size() - 1) >> 8)};
        write.insert(write.end(), data.begin(), data.end());
        sim::board().receive(write.data(), write.size());
        sim::board().receive(setAddressCommand(0).data(), 5);

        Bytes destination(65536, 0);
        size_t before = sim::hostBytes().size();
        EXPECT_EQ(n, readBlock(destination.data(), n)) << n;
        EXPECT_EQ(Bytes({0x02, uint8_t((n - 1) & 0xFF), uint8_t((n - 1) >> 8)}), sentSince(before));
        EXPECT_EQ(Bytes(data.begin(), data.begin() + n), Bytes(destination.begin(), destination.begin() + n));
        EXPECT_EQ("FT_Read " + std::to_string(n), sim::calls().back());
        closeConnection();
    }
}

TEST(Protocol, RefusedLengthsPrintTheirMessageAndSendNothing)
{
    const struct {
        bool read;
        uint32_t n;
        const char *message;
    } cases[] = {
        {false, 0, "Data length must not be 0.\n"},
        {false, 65533, "Data length must be less than 65533.\n"},
        {false, 65534, "Data length must be less than 65533.\n"},
        {false, 0xFFFFFFFF, "Data length must be less than 65533.\n"},
        {true, 0, "\nData length must not be 0.\n"},
        {true, 65533, "Data length must be less than 65533.\n"},
        {true, 65534, "Data length must be less than 65533.\n"},
    };
    for (const auto &c : cases) {
        openDevice();
        Bytes buffer(65536, 0);
        size_t callsBefore = sim::calls().size();
        CaptureStdout();
        uint32_t result = c.read ? readBlock(buffer.data(), c.n) : writeBlock(buffer.data(), c.n);
        EXPECT_EQ(c.message, GetCapturedStdout()) << c.read << " " << c.n;
        EXPECT_EQ(0u, result);
        EXPECT_EQ(callsBefore, sim::calls().size()) << "a refused length reached the device";
        closeConnection();
    }
}

TEST(Protocol, AddressGoesOutLowByteFirst)
{
    const struct {
        uint32_t address;
        Bytes bytes;
    } cases[] = {
        {0x12345678, {0x03, 0x78, 0x56, 0x34, 0x12}},
        {0, {0x03, 0x00, 0x00, 0x00, 0x00}},
        {0xFFFFFFFF, {0x03, 0xFF, 0xFF, 0xFF, 0xFF}},
        {0x100, {0x03, 0x00, 0x01, 0x00, 0x00}},
    };
    for (const auto &c : cases) {
        openDevice();
        EXPECT_EQ(FT_OK, setAddress(c.address));
        EXPECT_EQ(c.bytes, sim::hostBytes());
        closeConnection();
    }
}

TEST(Protocol, IdleFillAndDrainLeaveTheLinkClean)
{
    openDevice();
    const uint8_t old[3] = {7, 8, 9};
    sim::queueReceived(old, sizeof old);
    sendIdleFill();
    EXPECT_EQ(Bytes(64, 0x00), sim::hostBytes());
    drainReceiveQueue();
    EXPECT_EQ("FT_Read 3", sim::calls().back());
    EXPECT_EQ(0u, sim::board().pending());
    closeConnection();

    openDevice();
    drainReceiveQueue();
    EXPECT_EQ("FT_GetQueueStatus", sim::calls().back()) << "an empty queue was read";
    closeConnection();
}

TEST(Protocol, ReadBlockNeverReturnsMoreThanAsked)
{
    openDevice();
    Bytes extra(100, 0x55);
    sim::queueReceived(extra.data(), extra.size());
    Bytes destination(65536, 0);
    EXPECT_EQ(10u, readBlock(destination.data(), 10));
    EXPECT_EQ(100u, sim::board().pending());  // 90 old bytes plus the 10 asked for
    closeConnection();
}

TEST(Protocol, ReadBlockGivesUpOnABoardThatStopsSending)
{
    sim::Settings settings;
    settings.stallAfter = 1000;
    openDevice(settings);
    Bytes destination(65536, 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1000u, readBlock(destination.data(), 32768));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, readStallMs / 1000.0 - 0.05);
    EXPECT_LT(seconds, readStallMs / 1000.0 + 3);
    EXPECT_EQ(FT_OK, ftStatus);
    closeConnection();
}

TEST(Protocol, ReadBlockStopsWaitingWhenTheDeviceIsGone)
{
    sim::Settings settings;
    settings.unplugAfter = 10;
    openDevice(settings);
    Bytes destination(65536, 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0u, readBlock(destination.data(), 32768));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 1.0) << "a failed queue query must end the wait at once";
    EXPECT_NE(FT_OK, ftStatus);
    closeConnection();
}
