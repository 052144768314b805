#include "board.h"

#include <algorithm>
#include <cstring>

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

bool Sdram::seek(uint64_t address)
{
#if defined(_WIN32)
    return _fseeki64(file_, static_cast<__int64>(address), SEEK_SET) == 0;
#else
    return fseeko(file_, static_cast<off_t>(address), SEEK_SET) == 0;
#endif
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
    // a seek past the end leaves a hole, so a high address costs no memory or disk
    if (file_ && seek(address))
        std::fwrite(src, 1, n, file_);
}

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
    if (outHead_ > 0 && outHead_ == out_.size()) {
        out_.clear();
        outHead_ = 0;
    }
    size_t at = out_.size();
    out_.resize(at + sent);
    sdram_.read(address_, out_.data() + at, sent);
    address_ += n;
    answered_ += sent;
}

size_t Board::take(uint8_t *dst, size_t max)
{
    size_t n = std::min(max, pending());
    if (n == 0)
        return 0;
    std::memcpy(dst, out_.data() + outHead_, n);
    outHead_ += n;
    if (outHead_ == out_.size()) {
        out_.clear();
        outHead_ = 0;
    }
    return n;
}

void Board::dropPending()
{
    out_.clear();
    outHead_ = 0;
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
    out_.insert(out_.end(), data, data + n);
}

}  // namespace sim
