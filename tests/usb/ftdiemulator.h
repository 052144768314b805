// An FTDI USB chip emulated at the kernel's usbdevfs boundary with umockdev,
// with the QZ4826 board model (chip/sim/board.h) on its channel A.
//
// The emulator creates a umockdev testbed (a private /sys and /dev tree)
// holding a root hub and, normally, one FTDI chip as bus 001 device 002. A
// program started with environment() runs under umockdev's preload library:
// libusb enumerates the emulated chip through the fake sysfs, and every
// usbdevfs ioctl on its device node comes here, on umockdev's worker thread.
// The emulator answers them as the kernel and the chip would: control
// requests, claiming and releasing interfaces, detaching and re-attaching the
// kernel serial driver, bulk transfers. Bulk-in data is framed as the chip
// frames it: two modem-status bytes at the start of every max-size packet,
// and a status-only packet once the latency timer runs out with nothing to
// send.
//
// One emulator per process at a time: the testbed sets UMOCKDEV_DIR in this
// process's environment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace usbemu {

enum class Chip {
    FT232H,   // 0403:6014, high speed, 512-byte packets, one channel
    FT232R,   // 0403:6001, full speed, 64-byte packets, one channel
    FT2232H,  // 0403:6010, high speed, 512-byte packets, channels A and B
};

struct Options {
    Chip chip = Chip::FT232H;
    bool attached = true;               // false: nothing but the root hub
    uint16_t productId = 0;             // 0: the chip's factory id
    bool claimedElsewhere = false;      // another program holds channel A: claims fail
    bool deniedToUser = false;          // device node not accessible to the user
    uint64_t answerLimit = UINT64_MAX;  // the board stops answering after this many bytes
    uint64_t goneAfterSent = UINT64_MAX;      // chip unplugged once it sent this many data bytes
    uint64_t goneAfterReceived = UINT64_MAX;  // chip unplugged once it took this many host bytes
};

// Bulk transfers on channel A as the chip saw them.
struct Stats {
    uint64_t inTransfers = 0;   // bulk-in transfers that carried data
    uint64_t inEmpty = 0;       // bulk-in transfers with modem status only
    uint64_t inBytes = 0;       // data bytes sent to the host, status bytes not counted
    uint64_t outTransfers = 0;  // bulk-out transfers
    uint64_t outBytes = 0;      // bytes received from the host
    // The most data-carrying bulk-in transfers between two bulk-out transfers:
    // in a read run, what one read block cost at worst.
    uint64_t mostInPerOut = 0;
    uint64_t inSinceOut = 0;    // the count since the last bulk-out transfer
};

class FtdiEmulator {
public:
    explicit FtdiEmulator(const Options &options);
    ~FtdiEmulator();
    FtdiEmulator(const FtdiEmulator &) = delete;
    FtdiEmulator &operator=(const FtdiEmulator &) = delete;

    // Variables a child process needs to see the emulated bus:
    // UMOCKDEV_DIR and LD_PRELOAD, as "NAME=value".
    std::vector<std::string> environment() const;

    // What the host did to the chip, one line per event, in order:
    // "detach N", "claim N", "reset N", "purge out N" (host to chip),
    // "purge in N" (chip to host), "bitmode N 0xMMVV", "latency N ms",
    // "release N", "attach N", "unplugged" (N: interface, 0 for channel A).
    std::vector<std::string> record() const;
    bool driverBound(int interface) const;
    Stats stats() const;

    // The board's memory, for checks and for preparing a read run.
    std::vector<uint8_t> readSdram(uint64_t address, size_t n);
    void writeSdram(uint64_t address, const std::vector<uint8_t> &data);

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace usbemu
