// The tool's fixed texts, as the whole-run tests expect them byte for byte.
#pragma once

#include <string>

const std::string banner =
    "\nQZ4826 USB=>SDRAM test program Version 1.1 (c) the qz4826s1 developers\n";
const std::string usage =
    "usage:qz4826s1 -w filename [offset_address] \n"
    "      qz4826s1 -r filename length [offset_address] \n"
    "-r : read from SDRAM to file\n"
    "-w : write to SDRAM from file\n"
    "\n";
const std::string deviceOpened =
    "FT_ListDevices OK, number of devices is 1. \n"
    "FT_Open OK, use ftHandle to access device\n";
const std::string backspaces(70, '\b');

inline std::string progress(unsigned long long total, const char *verb)
{
    return backspaces + std::to_string(total) + " Bytes " + verb;
}
