// The command-line front end: the driver that runs a whole run, and the
// transfer phase that moves the data.
#pragma once

#include <cstdint>
#include <cstdio>

enum class Mode { Read, Write };

// Reads a hexadecimal number: digits only, after an optional 0x or 0X, at
// least one digit, at most FFFFFFFF (leading zeros are fine). Returns false,
// leaving value alone, for anything else.
bool hexToInt(const char *text, uint32_t *value);

// A whole run of the tool: argv as given to main; returns 0 or -1.
int runTool(int argc, char *argv[]);

// Idle fill, drain, start address, then the block loop of the mode with its
// progress line. Returns false after reporting the first failure.
bool runTransfer(Mode mode, FILE *file, uint8_t *buffer, uint32_t offset, uint32_t length);
