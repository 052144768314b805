// A stand-in for the chip vendor's ftd2xx.dll, built from the simulated
// board, so that qz4826s1.exe can be tested through its run-time loading
// without the vendor's driver: the seven operations, extern "C" and WINAPI
// under their plain names, as the real DLL exports them.
//
// Variants (compile definitions): QZ_STANDIN_TUNING also exports
// FT_SetLatencyTimer and FT_SetUSBParameters; QZ_STANDIN_WITHOUT_READ leaves
// FT_Read out, a DLL the tool must refuse.
//
// QZ4826_STANDIN_LOG names a file that gets one line per call, so the tests
// can see what the tool called and in which order.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "standin.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#define STANDIN_EXPORT extern "C" __declspec(dllexport)

static void logCall(const char *format, ...)
{
    static FILE *log = nullptr;
    static bool opened = false;
    if (!opened) {
        opened = true;
        if (const char *path = std::getenv("QZ4826_STANDIN_LOG"))
            log = std::fopen(path, "ab");
    }
    if (!log)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(log, format, args);
    va_end(args);
    std::fputc('\n', log);
    std::fflush(log);
}

STANDIN_EXPORT DWORD WINAPI FT_ListDevices(void *pArg1, void *pArg2, DWORD flags)
{
    logCall("FT_ListDevices 0x%08lX", flags);
    return standin::listDevices(pArg1, pArg2, flags);
}

STANDIN_EXPORT DWORD WINAPI FT_Open(int deviceNumber, void **pHandle)
{
    logCall("FT_Open %d", deviceNumber);
    return standin::open(deviceNumber, pHandle);
}

STANDIN_EXPORT DWORD WINAPI FT_SetTimeouts(void *handle, DWORD readTimeoutMs, DWORD writeTimeoutMs)
{
    logCall("FT_SetTimeouts %lu %lu", readTimeoutMs, writeTimeoutMs);
    return standin::setTimeouts(handle, readTimeoutMs, writeTimeoutMs);
}

STANDIN_EXPORT DWORD WINAPI FT_Write(void *handle, void *buffer, DWORD bytesToWrite, DWORD *bytesWritten)
{
    logCall("FT_Write %lu", bytesToWrite);
    return standin::write(handle, buffer, bytesToWrite, bytesWritten);
}

STANDIN_EXPORT DWORD WINAPI FT_GetQueueStatus(void *handle, DWORD *rxBytes)
{
    logCall("FT_GetQueueStatus");
    return standin::getQueueStatus(handle, rxBytes);
}

#ifndef QZ_STANDIN_WITHOUT_READ
STANDIN_EXPORT DWORD WINAPI FT_Read(void *handle, void *buffer, DWORD bytesToRead, DWORD *bytesReturned)
{
    logCall("FT_Read %lu", bytesToRead);
    return standin::read(handle, buffer, bytesToRead, bytesReturned);
}
#endif

STANDIN_EXPORT DWORD WINAPI FT_Close(void *handle)
{
    logCall("FT_Close");
    return standin::close(handle);
}

#ifdef QZ_STANDIN_TUNING
// Accepted and logged only: the simulated board has no latency to tune.
STANDIN_EXPORT DWORD WINAPI FT_SetLatencyTimer(void *, UCHAR milliseconds)
{
    logCall("FT_SetLatencyTimer %u", static_cast<unsigned>(milliseconds));
    return 0;
}

STANDIN_EXPORT DWORD WINAPI FT_SetUSBParameters(void *, DWORD inTransferSize, DWORD outTransferSize)
{
    logCall("FT_SetUSBParameters %lu %lu", inTransferSize, outTransferSize);
    return 0;
}
#endif
