// The transfer phase: link preparation, start address, and the block loop of
// the mode with its running byte count on one console line.
#include "app.h"
#include "link.h"

#include <cstdio>

static const uint32_t blockSize = 32768;

// Redraws the progress line in place: 70 backspaces, then the total.
static void showProgress(unsigned long long total, const char *verb)
{
    static const char backspaces[] =
        "\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b"
        "\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b";
    static_assert(sizeof backspaces == 71, "the progress line is 70 columns");
    printf("%s%llu Bytes %s", backspaces, total, verb);
}

// Messages below start with "\n" to leave the progress line intact; the
// newline after the loop ends them.

static bool sendFile(FILE *file, uint8_t *buffer)
{
    unsigned long long total = 0;
    for (;;) {
        // straight behind the three header positions, so nothing is copied
        uint32_t n = static_cast<uint32_t>(fread(buffer + 3, 1, blockSize, file));
        if (n == 0) {
            if (ferror(file)) {
                printf("\nFile read failed: %llu bytes sent.", total);
                return false;
            }
            return true;
        }
        uint32_t written = writeBlock(buffer, n);
        if (written != n + 3) {
            unsigned long long sent = total + (written > 3 ? written - 3 : 0);
            printf("\nDevice write failed: %llu bytes sent.", sent);
            return false;
        }
        total += n;
        showProgress(total, "send");
    }
}

static bool receiveToFile(FILE *file, uint8_t *buffer, uint32_t length)
{
    unsigned long long total = 0;
    uint32_t remaining = length;
    for (;;) {
        uint32_t n = remaining > blockSize ? blockSize : remaining;
        uint32_t received = readBlock(buffer, n);
        if (n == 0)
            return true;  // length 0: refused by readBlock, nothing to do
        // keep every byte that arrived, the part of a short block included
        if (received > 0) {
            size_t saved = fwrite(buffer, 1, received, file);
            if (saved != received || fflush(file) != 0) {
                // a full disk: say how much the file did take
                printf("\nFile write failed: %llu of %u bytes saved.",
                       total + (saved < received ? saved : 0), length);
                return false;
            }
            total += received;
            showProgress(total, "received");
        }
        if (received < n) {
            if (ftStatus != FT_OK)
                printf("\nDevice read failed: %llu of %u bytes received.", total, length);
            else
                printf("\nNo data from the device for %u ms: %llu of %u bytes received.",
                       readStallMs, total, length);
            return false;
        }
        if (remaining <= blockSize)
            return true;
        remaining -= blockSize;
    }
}

bool runTransfer(Mode mode, FILE *file, uint8_t *buffer, uint32_t offset, uint32_t length)
{
    sendIdleFill();
    drainReceiveQueue();
    setAddress(offset);
    bool ok = mode == Mode::Write ? sendFile(file, buffer) : receiveToFile(file, buffer, length);
    printf("\n");
    return ok;
}
