// The board model: commands split anywhere between writes, as USB may split them.
#include "board.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> list)
{
    std::vector<uint8_t> v;
    for (int b : list)
        v.push_back(static_cast<uint8_t>(b));
    return v;
}

std::vector<uint8_t> takeAll(sim::Board &board)
{
    std::vector<uint8_t> out(board.pending());
    out.resize(board.take(out.data(), out.size()));
    return out;
}

}  // namespace

TEST(Board, ParsesCommandsSplitAtEveryByte)
{
    sim::Sdram sdram;
    std::string error;
    ASSERT_TRUE(sdram.open("", error));
    sim::Board board(sdram);
    // idle fill, set address 0x10, write 3 bytes, an unknown command byte, set
    // address 0x10 again, read 4 bytes: the data, then the untouched byte after it
    std::vector<uint8_t> stream = bytes({0, 0, 0x03, 0x10, 0, 0, 0, 0x01, 0x02, 0x00, 'a', 'b', 'c',
                                         0x7E, 0x03, 0x10, 0, 0, 0, 0x02, 0x03, 0x00});
    for (uint8_t b : stream)
        board.receive(&b, 1);
    EXPECT_EQ(bytes({'a', 'b', 'c', 0}), takeAll(board));
    EXPECT_EQ(0x14u, board.address());  // the next data command continues here
}

TEST(Board, StaleStartIsRecoveredByTheIdleFill)
{
    sim::Sdram sdram;
    std::string error;
    ASSERT_TRUE(sdram.open("", error));
    sim::Board board(sdram);
    board.makeStale(100);
    EXPECT_EQ(100u, board.pending());
    std::vector<uint8_t> fill(64, 0);
    board.receive(fill.data(), fill.size());
    takeAll(board);
    std::vector<uint8_t> write = bytes({0x03, 0, 0, 0, 0, 0x01, 0x00, 0x00, 'z', 0x03, 0, 0, 0, 0, 0x02, 0x00, 0x00});
    board.receive(write.data(), write.size());
    EXPECT_EQ(bytes({'z'}), takeAll(board));
}

TEST(Board, StalledBoardSendsOnlyUpToItsLimit)
{
    sim::Sdram sdram;
    std::string error;
    ASSERT_TRUE(sdram.open("", error));
    sim::Board board(sdram);
    board.setAnswerLimit(5);
    std::vector<uint8_t> read3 = bytes({0x02, 0x02, 0x00});
    board.receive(read3.data(), read3.size());
    board.receive(read3.data(), read3.size());
    EXPECT_EQ(5u, board.pending());
    board.receive(read3.data(), read3.size());
    EXPECT_EQ(5u, board.pending());
}

TEST(Sdram, HighAddressNeedsNoMemoryAndUnwrittenBytesReadAsZero)
{
    sim::Sdram sdram;
    std::string error;
    ASSERT_TRUE(sdram.open("", error));
    const uint8_t data[4] = {1, 2, 3, 4};
    sdram.write(0x7FFFF000, data, sizeof data);
    uint8_t back[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    sdram.read(0x7FFFEFFE, back, sizeof back);
    EXPECT_EQ(bytes({0, 0, 1, 2, 3, 4, 0, 0}), std::vector<uint8_t>(back, back + 8));
}

TEST(Board, AnswerHoldsTheMemoryAsItWasWhenAsked)
{
    sim::Sdram sdram;
    std::string error;
    ASSERT_TRUE(sdram.open("", error));
    sim::Board board(sdram);
    // write "ab" at 0, ask for 2 bytes at 0, overwrite them with "xy" before
    // the host has taken the answer: the answer is still "ab"
    std::vector<uint8_t> stream = bytes({0x03, 0, 0, 0, 0, 0x01, 0x01, 0x00, 'a', 'b',
                                         0x03, 0, 0, 0, 0, 0x02, 0x01, 0x00,
                                         0x03, 0, 0, 0, 0, 0x01, 0x01, 0x00, 'x', 'y',
                                         0x03, 0, 0, 0, 0, 0x02, 0x01, 0x00});
    board.receive(stream.data(), stream.size());
    EXPECT_EQ(bytes({'a', 'b', 'x', 'y'}), takeAll(board));
}
