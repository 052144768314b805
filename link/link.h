// The board link: the one USB device connection of a run and the byte
// protocol the QZ4826 board understands on it.
//
// The connection is the first device the chip library enumerates. It is
// opened once, given its time-outs, used by the protocol, and closed at the
// end of the run. The board takes commands, each introduced by one command
// byte, and answers a read data command with exactly the requested bytes.
//
// Order of use by app/:
//   openConnection        count devices, open device 0 (prints the results)
//   setConnectionTimeouts read time-out 500 ms, no write time-out
//   sendIdleFill          64 zero bytes: finishes any command the board was in
//   drainReceiveQueue     50 ms later, throws away whatever the board sent
//   setAddress            start address in SDRAM, once per run
//   writeBlock / readBlock  one data command per block; the board continues
//                         each where the previous one ended
//   closeConnection
#pragma once

#include "ftchip.h"

#include <cstdint>

extern FT_HANDLE ftHandle;  // the open device; null until openConnection succeeds
extern FT_STATUS ftStatus;  // status of the last library call that records one

// The largest n that writeBlock and readBlock accept: a write data command of
// 3 + 65532 bytes still fits the 65536-byte transfer buffer.
const uint32_t maxBlockLength = 65532;

// readBlock gives up when the receive queue has not grown for this long.
const unsigned readStallMs = 2000;

bool openConnection();
void setConnectionTimeouts();
void closeConnection();

// Sends the write data command for the n data bytes at buffer[3..n+2], header
// written into buffer[0..2], in one library write. Returns the number of bytes
// the library wrote, header included; 0 (with a message) for a refused n.
uint32_t writeBlock(uint8_t *buffer, uint32_t n);

// Sends the read data command for n bytes and waits for the answer, then
// reads it into destination. Returns the bytes received, never more than n;
// fewer when the device failed or stopped sending; 0 (with a message) for a
// refused n.
uint32_t readBlock(uint8_t *destination, uint32_t n);

// Sends the set address command; returns the library status.
FT_STATUS setAddress(uint32_t address);

void sendIdleFill();
void drainReceiveQueue();
