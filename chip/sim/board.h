// A model of the QZ4826 board as seen from the USB link: it parses the bytes
// the host sends as the board's command parser does, keeps an SDRAM addressed
// in bytes, and queues the answer to each read data command.
//
// Commands: 0x00 no command (idle fill), 0x01 write data (2 length bytes
// holding N-1, low first, then N data bytes), 0x02 read data (2 length bytes),
// 0x03 set address (4 bytes, low first). Any other command byte is ignored.
// Data commands continue where the previous data command ended.
//
// Shared by the simulated chip layer and the emulated USB chip in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace sim {

// SDRAM backed by a file: the byte at address A lives at offset A, bytes past
// the end of the file read as 0x00. Only the touched range is ever read.
class Sdram {
public:
    Sdram() = default;
    Sdram(const Sdram &) = delete;
    Sdram &operator=(const Sdram &) = delete;
    ~Sdram() { close(); }

    // Opens or creates the file ("" = an anonymous temporary file); false
    // with a message in error if it can't.
    bool open(const std::string &path, std::string &error);
    void close();
    void read(uint64_t address, uint8_t *dst, size_t n);
    void write(uint64_t address, const uint8_t *src, size_t n);

private:
#if defined(_WIN32)
    bool seek(uint64_t address);
#endif

    FILE *file_ = nullptr;
};

class Board {
public:
    explicit Board(Sdram &sdram) : sdram_(sdram) {}

    // Host to board: parse these bytes; answers go to the outgoing queue.
    void receive(const uint8_t *data, size_t n);

    // Board to host.
    size_t pending() const { return pending_; }
    size_t take(uint8_t *dst, size_t max);
    void dropPending();
    // Queues bytes for the host as if the board had sent them earlier.
    void inject(const uint8_t *data, size_t n);

    // Fault settings.
    void setAnswerLimit(uint64_t totalBytes) { answerLimit_ = totalBytes; }
    // Leaves the parser in the middle of a set address command (two address
    // bytes still to come) with stale answer bytes already queued.
    void makeStale(size_t queuedBytes);

    uint64_t address() const { return address_; }
    uint64_t answered() const { return answered_; }

private:
    enum class State { Command, Length, Address, WriteData };

    void startCommand(uint8_t command);
    void answer(uint32_t n);
    void materialize();

    Sdram &sdram_;
    State state_ = State::Command;
    uint8_t command_ = 0;
    uint8_t field_[4] = {};
    size_t fieldHave_ = 0;
    size_t fieldNeed_ = 0;
    uint64_t address_ = 0;
    uint32_t writeLeft_ = 0;
    // Queued answer bytes, oldest first. An answer is read from SDRAM only as
    // the host takes it (straight into the host's buffer), unless a write
    // data command is about to change that memory first.
    struct Segment {
        std::vector<uint8_t> bytes;  // the bytes themselves, or empty for SDRAM
        uint64_t address = 0;        // SDRAM: where the answer starts
        size_t length = 0;
        size_t taken = 0;
    };
    std::deque<Segment> out_;
    size_t pending_ = 0;
    bool sdramPending_ = false;  // some segment still refers to SDRAM
    uint64_t answered_ = 0;
    uint64_t answerLimit_ = UINT64_MAX;
};

}  // namespace sim
