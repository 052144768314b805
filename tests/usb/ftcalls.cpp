// Calls the FT_ operations of the chip layer it is linked with, one per
// argument, and prints one line per call, for tests of the layer's own
// promises (time-outs, counts) under the emulated chip:
//   list            "list STATUS COUNT"
//   open:N          "open STATUS"
//   timeouts:R:W    "timeouts STATUS"
//   write:HEX       "write STATUS COUNT"
//   queue           "queue STATUS COUNT MS"
//   read:N          "read STATUS COUNT MS"   (N bytes asked)
//   close           "close STATUS"
//   stray           "stray STATUS"           (a handle that was never opened)
#include "ftchip.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::vector<uint8_t> fromHex(const char *text)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; text[i] && text[i + 1]; i += 2)
        bytes.push_back(static_cast<uint8_t>(std::strtoul(std::string(text + i, 2).c_str(), nullptr, 16)));
    return bytes;
}

}  // namespace

int main(int argc, char *argv[])
{
    FT_HANDLE handle = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string op = argv[i];
        Clock::time_point start = Clock::now();
        if (op == "list") {
            DWORD count = 0;
            FT_STATUS s = FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
            std::printf("list %u %u\n", unsigned(s), unsigned(count));
        } else if (op.rfind("open:", 0) == 0) {
            FT_STATUS s = FT_Open(std::atoi(op.c_str() + 5), &handle);
            std::printf("open %u\n", unsigned(s));
        } else if (op.rfind("timeouts:", 0) == 0) {
            unsigned r = 0, w = 0;
            std::sscanf(op.c_str() + 9, "%u:%u", &r, &w);
            std::printf("timeouts %u\n", unsigned(FT_SetTimeouts(handle, r, w)));
        } else if (op.rfind("write:", 0) == 0) {
            std::vector<uint8_t> bytes = fromHex(op.c_str() + 6);
            DWORD written = 0;
            FT_STATUS s = FT_Write(handle, bytes.data(), DWORD(bytes.size()), &written);
            std::printf("write %u %u\n", unsigned(s), unsigned(written));
        } else if (op == "queue") {
            DWORD queued = 0;
            FT_STATUS s = FT_GetQueueStatus(handle, &queued);
            std::printf("queue %u %u %lld\n", unsigned(s), unsigned(queued), msSince(start));
        } else if (op.rfind("read:", 0) == 0) {
            DWORD n = DWORD(std::strtoul(op.c_str() + 5, nullptr, 10));
            // guard bytes behind the asked count show an overrun
            std::vector<uint8_t> buffer(n + 16, 0xA5);
            DWORD got = 0;
            FT_STATUS s = FT_Read(handle, buffer.data(), n, &got);
            for (size_t k = n; k < buffer.size(); ++k) {
                if (buffer[k] != 0xA5)
                    std::printf("overrun at %zu\n", k);
            }
            std::printf("read %u %u %lld\n", unsigned(s), unsigned(got), msSince(start));
        } else if (op == "close") {
            std::printf("close %u\n", unsigned(FT_Close(handle)));
        } else if (op == "stray") {
            int notAHandle = 0;
            std::printf("stray %u\n", unsigned(FT_Close(&notAHandle)));
        } else {
            std::printf("unknown %s\n", op.c_str());
            return 2;
        }
    }
    return 0;
}
