// Benchmark (not a test): a round trip of qz4826s1, the libftdi1 build,
// through the emulated FTDI chip. Reports time and the USB bulk transfers the
// chip saw: bytes per transfer and transfers per 32 KiB block, each way.
//
//   qz-usb-bench [MiB] [ft232h|ft232r|ft2232h]     (default: 64 ft232h)
#include "ftdiemulator.h"
#include "runchild.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using usbemu::ChildResult;
using usbemu::FtdiEmulator;
using usbemu::Stats;

namespace {

Stats since(const Stats &now, const Stats &before)
{
    Stats d = now;
    d.inTransfers -= before.inTransfers;
    d.inEmpty -= before.inEmpty;
    d.inBytes -= before.inBytes;
    d.outTransfers -= before.outTransfers;
    d.outBytes -= before.outBytes;
    return d;
}

double ratio(uint64_t a, uint64_t b) { return b ? double(a) / double(b) : 0.0; }

bool run(const FtdiEmulator &emulator, const std::vector<std::string> &args, double &seconds)
{
    std::vector<std::string> argv = {QZ_TOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildResult r = usbemu::runChild(argv, emulator.environment(), false, 3600);
    seconds = r.seconds;
    if (r.status != 0) {
        std::fprintf(stderr, "qz4826s1 %s failed with status %d:\n%s%s\n", args[0].c_str(), r.status,
                     r.out.c_str(), r.err.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char *argv[])
{
    unsigned long mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    std::string chipName = argc > 2 ? argv[2] : "ft232h";
    usbemu::Options options;
    if (chipName == "ft232r")
        options.chip = usbemu::Chip::FT232R;
    else if (chipName == "ft2232h")
        options.chip = usbemu::Chip::FT2232H;
    else if (chipName != "ft232h" || mib == 0 || mib > 2047) {
        std::fprintf(stderr, "usage: qz-usb-bench [MiB 1-2047] [ft232h|ft232r|ft2232h]\n");
        return 2;
    }
    size_t size = mib << 20;
    uint64_t blocks = (size + 32767) / 32768;

    char dir[] = "/tmp/qz-usb-bench-XXXXXX";
    if (!mkdtemp(dir)) {
        std::perror("mkdtemp");
        return 1;
    }
    std::string in = std::string(dir) + "/in.bin";
    std::string out = std::string(dir) + "/out.bin";
    std::vector<char> data(size);
    std::mt19937 random(42);
    for (char &c : data)
        c = static_cast<char>(random());
    std::ofstream(in, std::ios::binary).write(data.data(), static_cast<std::streamsize>(size));

    FtdiEmulator emulator(options);
    char length[24];
    std::snprintf(length, sizeof length, "%zX", size);
    double writeSeconds = 0;
    double readSeconds = 0;
    Stats start = emulator.stats();
    bool ok = run(emulator, {"-w", in}, writeSeconds);
    Stats afterWrite = emulator.stats();
    ok = ok && run(emulator, {"-r", out, length}, readSeconds);
    Stats afterRead = emulator.stats();

    std::ifstream back(out, std::ios::binary);
    std::vector<char> got((std::istreambuf_iterator<char>(back)), std::istreambuf_iterator<char>());
    bool same = got == data;
    std::remove(in.c_str());
    std::remove(out.c_str());
    rmdir(dir);
    if (!ok)
        return 1;

    Stats w = since(afterWrite, start);
    Stats r = since(afterRead, afterWrite);
    std::printf("%lu MiB round trip through an emulated %s, %llu blocks of 32 KiB each way: %s\n", mib,
                chipName.c_str(), static_cast<unsigned long long>(blocks),
                same ? "read back identical" : "READ BACK DIFFERS");
    std::printf("write run %.2f s (%.1f MiB/s): %llu bulk-out transfers, %.0f bytes per transfer, "
                "%.2f transfers per block\n",
                writeSeconds, double(mib) / writeSeconds, static_cast<unsigned long long>(w.outTransfers),
                ratio(w.outBytes, w.outTransfers), ratio(w.outTransfers, blocks));
    std::printf("read run  %.2f s (%.1f MiB/s): %llu bulk-in transfers with data, %.0f data bytes per "
                "transfer, %.2f per block (at most %llu for one block); %llu status-only; "
                "%.2f bulk-out transfers per block\n",
                readSeconds, double(mib) / readSeconds, static_cast<unsigned long long>(r.inTransfers),
                ratio(r.inBytes, r.inTransfers), ratio(r.inTransfers, blocks),
                static_cast<unsigned long long>(r.mostInPerOut), static_cast<unsigned long long>(r.inEmpty),
                ratio(r.outTransfers, blocks));
    return same ? 0 : 1;
}
