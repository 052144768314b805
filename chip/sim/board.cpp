#include "board.h"

#include <algorithm>
#include <cstring>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace sim {

bool Sdram::open(const std::string &path, std::string &error)
{
    close();
    if (path.empty()) {
        file_ = std::tmpfile();
    } else {
        file_ = std::fopen(path.c_str(), "r+b");
        if (!file_)
            file_ = std::fopen(path.c_str(), "w+b");  // absent: create it
    }
    if (!file_) {
        error = "QZ4826_SIM_SDRAM: cannot open " + (path.empty() ? std::string("a temporary file") : path);
        return false;
    }
    return true;
}

void Sdram::close()
{
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

#if defined(_WIN32)
bool Sdram::seek(uint64_t address)
{
    return _fseeki64(file_, static_cast<__int64>(address), SEEK_SET) == 0;
}

void Sdram::read(uint64_t address, uint8_t *dst, size_t n)
{
    if (n == 0)
        return;
    size_t got = 0;
    if (file_ && seek(address))
        got = std::fread(dst, 1, n, file_);
    std::memset(dst + got, 0, n - got);  // never written: reads as 0x00
}

void Sdram::write(uint64_t address, const uint8_t *src, size_t n)
{
    if (file_ && seek(address))
        std::fwrite(src, 1, n, file_);
}
#else
void Sdram::read(uint64_t address, uint8_t *dst, size_t n)
{
    size_t got = 0;
    while (file_ && got < n) {
        ssize_t r = pread(fileno(file_), dst + got, n - got, static_cast<off_t>(address + got));
        if (r <= 0)
            break;
        got += static_cast<size_t>(r);
    }
    if (got < n)
        std::memset(dst + got, 0, n - got);  // never written: reads as 0x00
}

void Sdram::write(uint64_t address, const uint8_t *src, size_t n)
{
    // past the end this leaves a hole: a high address costs no memory or disk
    size_t done = 0;
    while (file_ && done < n) {
        ssize_t w = pwrite(fileno(file_), src + done, n - done, static_cast<off_t>(address + done));
        if (w <= 0)
            break;
        done += static_cast<size_t>(w);
    }
}
#endif

void Board::receive(const uint8_t *data, size_t n)
{
    size_t i = 0;
    while (i < n) {
        switch (state_) {
        case State::Command:
            startCommand(data[i++]);
            break;
        case State::Length:
        case State::Address:
            field_[fieldHave_++] = data[i++];
            if (fieldHave_ < fieldNeed_)
                break;
            if (state_ == State::Address) {
                address_ = uint32_t(field_[0]) | uint32_t(field_[1]) << 8 |
                           uint32_t(field_[2]) << 16 | uint32_t(field_[3]) << 24;
                state_ = State::Command;
                break;
            }
            {
                uint32_t length = (uint32_t(field_[0]) | uint32_t(field_[1]) << 8) + 1;
                if (command_ == 0x01) {
                    writeLeft_ = length;
                    state_ = State::WriteData;
                } else {
                    answer(length);
                    state_ = State::Command;
                }
            }
            break;
        case State::WriteData: {
            if (sdramPending_)
                materialize();  // answers already given keep the old contents
            size_t chunk = std::min<size_t>(writeLeft_, n - i);
            sdram_.write(address_, data + i, chunk);
            address_ += chunk;
            writeLeft_ -= static_cast<uint32_t>(chunk);
            i += chunk;
            if (writeLeft_ == 0)
                state_ = State::Command;
            break;
        }
        }
    }
}

void Board::startCommand(uint8_t command)
{
    command_ = command;
    fieldHave_ = 0;
    switch (command) {
    case 0x01:  // write data
    case 0x02:  // read data
        fieldNeed_ = 2;
        state_ = State::Length;
        break;
    case 0x03:  // set address
        fieldNeed_ = 4;
        state_ = State::Address;
        break;
    default:  // 0x00 is the idle fill; anything else is ignored likewise
        break;
    }
}

void Board::answer(uint32_t n)
{
    // a stalled board swallows the command but sends only up to its limit
    uint64_t room = answerLimit_ > answered_ ? answerLimit_ - answered_ : 0;
    size_t sent = static_cast<size_t>(std::min<uint64_t>(n, room));
    if (sent > 0) {
        Segment answer;
        answer.address = address_;
        answer.length = sent;
        out_.push_back(std::move(answer));
        pending_ += sent;
        sdramPending_ = true;
    }
    address_ += n;
    answered_ += sent;
}

void Board::materialize()
{
    for (Segment &segment : out_) {
        if (!segment.bytes.empty())
            continue;
        segment.bytes.resize(segment.length);
        sdram_.read(segment.address, segment.bytes.data(), segment.length);
    }
    sdramPending_ = false;
}

size_t Board::take(uint8_t *dst, size_t max)
{
    size_t done = 0;
    while (done < max && !out_.empty()) {
        Segment &segment = out_.front();
        size_t n = std::min(max - done, segment.length - segment.taken);
        if (segment.bytes.empty())
            sdram_.read(segment.address + segment.taken, dst + done, n);
        else
            std::memcpy(dst + done, segment.bytes.data() + segment.taken, n);
        segment.taken += n;
        done += n;
        if (segment.taken == segment.length)
            out_.pop_front();
    }
    pending_ -= done;
    return done;
}

void Board::dropPending()
{
    out_.clear();
    pending_ = 0;
    sdramPending_ = false;
}

void Board::makeStale(size_t queuedBytes)
{
    command_ = 0x03;
    field_[0] = 0x55;
    field_[1] = 0xAA;
    fieldHave_ = 2;
    fieldNeed_ = 4;
    state_ = State::Address;
    std::vector<uint8_t> old(queuedBytes, 0xEE);
    inject(old.data(), old.size());
}

void Board::inject(const uint8_t *data, size_t n)
{
    if (n == 0)
        return;
    Segment old;
    old.bytes.assign(data, data + n);
    old.length = n;
    out_.push_back(std::move(old));
    pending_ += n;
}

}  // namespace sim
