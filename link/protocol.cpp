#include "link.h"

#include <chrono>
#include <cstdio>
#include <thread>

// Refuses lengths the protocol can't carry; prefix is "" or "\n".
static bool lengthAccepted(uint32_t n, const char *prefix)
{
    if (n == 0) {
        printf("%sData length must not be 0.\n", prefix);
        return false;
    }
    if (n > maxBlockLength) {
        printf("Data length must be less than 65533.\n");
        return false;
    }
    return true;
}

uint32_t writeBlock(uint8_t *buffer, uint32_t n)
{
    if (!lengthAccepted(n, ""))
        return 0;
    buffer[0] = 0x01;  // write data, then N-1 low first, then the data
    buffer[1] = static_cast<uint8_t>((n - 1) & 0xFF);
    buffer[2] = static_cast<uint8_t>((n - 1) >> 8);
    DWORD written = 0;
    ftStatus = FT_Write(ftHandle, buffer, n + 3, &written);
    return written;
}

uint32_t readBlock(uint8_t *destination, uint32_t n)
{
    if (!lengthAccepted(n, "\n"))
        return 0;
    uint8_t command[3] = {0x02, static_cast<uint8_t>((n - 1) & 0xFF),
                          static_cast<uint8_t>((n - 1) >> 8)};  // read data, N-1 low first
    DWORD written = 0;
    ftStatus = FT_Write(ftHandle, command, sizeof command, &written);

    // Wait for the whole answer, whether or not the command went out. A board
    // that stops sending must not hang the run: give up once the queue has
    // not grown for readStallMs, and take what did arrive.
    using Clock = std::chrono::steady_clock;
    DWORD queued = 0;
    DWORD lastQueued = 0;
    Clock::time_point lastGrowth = Clock::now();
    DWORD toRead = n;
    for (;;) {
        if (FT_GetQueueStatus(ftHandle, &queued) != FT_OK)
            break;
        if (queued >= n)
            break;
        Clock::time_point now = Clock::now();
        if (queued != lastQueued) {
            lastQueued = queued;
            lastGrowth = now;
        } else if (now - lastGrowth >= std::chrono::milliseconds(readStallMs)) {
            toRead = queued;
            break;
        }
    }
    if (toRead == 0)
        return 0;

    DWORD received = 0;
    ftStatus = FT_Read(ftHandle, destination, toRead, &received);
    return received < toRead ? received : toRead;
}

FT_STATUS setAddress(uint32_t address)
{
    uint8_t command[5] = {0x03,  // set address, 4 bytes, low first
                          static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                          static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)};
    DWORD written = 0;
    ftStatus = FT_Write(ftHandle, command, sizeof command, &written);
    return ftStatus;
}

void sendIdleFill()
{
    // 0x00 is no command to the board: 64 of them complete any command header
    // (at most 4 bytes) left half sent, so the next byte it sees is a command
    uint8_t zeros[64] = {};
    DWORD written = 0;
    ftStatus = FT_Write(ftHandle, zeros, sizeof zeros, &written);
}

void drainReceiveQueue()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    DWORD queued = 0;
    if (FT_GetQueueStatus(ftHandle, &queued) != FT_OK || queued == 0)
        return;
    uint8_t *scratch = new uint8_t[queued];
    DWORD received = 0;
    FT_Read(ftHandle, scratch, queued, &received);  // stale bytes: thrown away
    delete[] scratch;
}
