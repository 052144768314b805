// The seven operations of the FTDI chip's driver library that the tool uses,
// declared by us with the types the tool relies on. Which implementation is
// linked (simulated board, libftdi1, or the vendor DLL on Windows) is chosen
// at build time; app/ and link/ see only these declarations.
#pragma once

#include <cstdint>

#if defined(_WIN32)
typedef unsigned long DWORD;  // the same type <windows.h> declares (32-bit there)
#else
typedef uint32_t DWORD;
#endif
typedef DWORD FT_STATUS;
typedef void *FT_HANDLE;

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_OTHER_ERROR = 18,
};

const DWORD FT_LIST_NUMBER_ONLY = 0x80000000;

// count: pass a DWORD* as pArg1, nullptr as pArg2, FT_LIST_NUMBER_ONLY as flags
FT_STATUS FT_ListDevices(void *pArg1, void *pArg2, DWORD flags);
FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *pHandle);
FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeoutMs, DWORD writeTimeoutMs);
FT_STATUS FT_Write(FT_HANDLE handle, void *buffer, DWORD bytesToWrite, DWORD *bytesWritten);
FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD *rxBytes);
FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, DWORD bytesToRead, DWORD *bytesReturned);
FT_STATUS FT_Close(FT_HANDLE handle);

// One line telling the user what to do about the last failed FT_ListDevices
// or FT_Open, or nullptr when this implementation has nothing to add.
const char *ftFailureHint();
