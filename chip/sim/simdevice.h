// The simulated chip layer: an in-process fake FTDI device with the board
// model behind it. The FT_ operations of chip/ftchip.h act on it; tests drive
// and inspect it through the functions below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class Board;

struct Settings {
    unsigned devices = 1;
    bool failList = false;
    bool failOpen = false;
    bool stale = false;                  // board starts mid-command with old bytes queued
    uint64_t stallAfter = UINT64_MAX;    // board stops answering after this many bytes
    uint64_t writeFailAfter = UINT64_MAX;  // FT_Write fails once this many bytes went out
    uint64_t unplugAfter = UINT64_MAX;   // device gone once the board sent this many bytes
    std::string tracePath;               // host bytes appended here, raw ("" = none)
    std::string sdramPath;               // board memory ("" = an anonymous temporary file)
    bool record = false;                 // keep calls() and hostBytes() (tests only: they grow)
};

// Starts over: a fresh device with these settings and an empty call record.
// Returns false with a message in error when the SDRAM file can't be opened.
bool configure(const Settings &settings, std::string &error);

// Where the board's memory lives when QZ4826_SIM_SDRAM is not set.
std::string defaultSdramPath();

// Reads QZ4826_SIM_* from the environment into settings; false with a message
// in error for a malformed or unknown value.
bool settingsFromEnvironment(Settings &settings, std::string &error);

// With Settings::record: every FT_ call so far, one line each, e.g. "FT_Open 0", "FT_SetTimeouts 500 0".
const std::vector<std::string> &calls();
// With Settings::record: every byte the host has written to the device, in order.
const std::vector<uint8_t> &hostBytes();
// Puts bytes into the receive queue as if the board had sent them.
void queueReceived(const uint8_t *data, size_t n);
// The board behind the device.
Board &board();

}  // namespace sim
