// The chip layer on Windows: the chip vendor's D2XX driver, ftd2xx.dll,
// loaded on first use. Nothing of the vendor's SDK is needed to build, and
// without the driver the tool still starts and says what is missing.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "ftchip.h"

#include <cstdio>

#ifndef LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
#define LOAD_LIBRARY_SEARCH_DEFAULT_DIRS 0x00001000
#endif

static_assert(sizeof(DWORD) == 4 && sizeof(FT_STATUS) == 4, "the DLL's DWORD and FT_STATUS are 32-bit");
static_assert(sizeof(FT_HANDLE) == sizeof(void *), "the DLL's FT_HANDLE is pointer-sized");

namespace {

// The DLL's exports, stdcall (WINAPI): on 32-bit x86 the callee pops the
// arguments, so a mismatch there would wreck the stack.
typedef FT_STATUS(WINAPI *ListDevicesFn)(void *pArg1, void *pArg2, DWORD flags);
typedef FT_STATUS(WINAPI *OpenFn)(int deviceNumber, FT_HANDLE *pHandle);
typedef FT_STATUS(WINAPI *SetTimeoutsFn)(FT_HANDLE handle, DWORD readTimeoutMs, DWORD writeTimeoutMs);
typedef FT_STATUS(WINAPI *WriteFn)(FT_HANDLE handle, void *buffer, DWORD bytesToWrite, DWORD *bytesWritten);
typedef FT_STATUS(WINAPI *GetQueueStatusFn)(FT_HANDLE handle, DWORD *rxBytes);
typedef FT_STATUS(WINAPI *ReadFn)(FT_HANDLE handle, void *buffer, DWORD bytesToRead, DWORD *bytesReturned);
typedef FT_STATUS(WINAPI *CloseFn)(FT_HANDLE handle);
// Optional: used when the DLL offers them.
typedef FT_STATUS(WINAPI *SetLatencyTimerFn)(FT_HANDLE handle, UCHAR milliseconds);
typedef FT_STATUS(WINAPI *SetUsbParametersFn)(FT_HANDLE handle, DWORD inTransferSize, DWORD outTransferSize);

const char dllName[] = "ftd2xx.dll";

struct Driver {
    bool tried = false;
    bool usable = false;
    ListDevicesFn listDevices = nullptr;
    OpenFn open = nullptr;
    SetTimeoutsFn setTimeouts = nullptr;
    WriteFn write = nullptr;
    GetQueueStatusFn getQueueStatus = nullptr;
    ReadFn read = nullptr;
    CloseFn close = nullptr;
    SetLatencyTimerFn setLatencyTimer = nullptr;
    SetUsbParametersFn setUsbParameters = nullptr;
    char problem[200] = "";  // why the DLL can't be used, for ftFailureHint
};

Driver driver;

// GetProcAddress's FARPROC goes through void (*)(), the one function pointer
// type that converts to any other without a cast-function-type warning.
template <typename Fn>
bool resolve(HMODULE dll, const char *name, Fn *fn)
{
    FARPROC proc = GetProcAddress(dll, name);
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
    return proc != nullptr;
}

HMODULE loadDll()
{
    // The exe's folder and the system folders only: not the current folder,
    // where a DLL planted beside the user's data files would be run.
    HMODULE dll = LoadLibraryExA(dllName, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!dll && GetLastError() == ERROR_INVALID_PARAMETER)  // Windows 7 without KB2533623
        dll = LoadLibraryA(dllName);
    return dll;
}

void describeLoadFailure(DWORD error)
{
    if (error == ERROR_MOD_NOT_FOUND)
        std::snprintf(driver.problem, sizeof driver.problem,
                      "The chip's D2XX driver (%s) is not installed: plug in the board and let "
                      "Windows install it, or install the D2XX driver from the FTDI website.",
                      dllName);
    else if (error == ERROR_BAD_EXE_FORMAT)
        std::snprintf(driver.problem, sizeof driver.problem,
                      "%s is not a %d-bit Windows DLL (a copy for another Windows, or damaged): "
                      "reinstall the chip's D2XX driver from the FTDI website.",
                      dllName, static_cast<int>(sizeof(void *) * 8));
    else
        std::snprintf(driver.problem, sizeof driver.problem,
                      "%s could not be loaded (Windows error %lu): reinstall the chip's D2XX "
                      "driver from the FTDI website.",
                      dllName, static_cast<unsigned long>(error));
}

// Loads the DLL and resolves its operations, once; false when it can't be
// used, with the reason in driver.problem.
bool driverReady()
{
    if (driver.tried)
        return driver.usable;
    driver.tried = true;

    HMODULE dll = loadDll();
    if (!dll) {
        describeLoadFailure(GetLastError());
        return false;
    }
    const char *missing = nullptr;
    if (!resolve(dll, "FT_ListDevices", &driver.listDevices))
        missing = "FT_ListDevices";
    else if (!resolve(dll, "FT_Open", &driver.open))
        missing = "FT_Open";
    else if (!resolve(dll, "FT_SetTimeouts", &driver.setTimeouts))
        missing = "FT_SetTimeouts";
    else if (!resolve(dll, "FT_Write", &driver.write))
        missing = "FT_Write";
    else if (!resolve(dll, "FT_GetQueueStatus", &driver.getQueueStatus))
        missing = "FT_GetQueueStatus";
    else if (!resolve(dll, "FT_Read", &driver.read))
        missing = "FT_Read";
    else if (!resolve(dll, "FT_Close", &driver.close))
        missing = "FT_Close";
    if (missing) {
        std::snprintf(driver.problem, sizeof driver.problem,
                      "%s has no %s: reinstall the chip's D2XX driver from the FTDI website.",
                      dllName, missing);
        FreeLibrary(dll);
        return false;
    }
    resolve(dll, "FT_SetLatencyTimer", &driver.setLatencyTimer);
    resolve(dll, "FT_SetUSBParameters", &driver.setUsbParameters);
    // stays loaded until the process ends
    driver.usable = true;
    return true;
}

}  // namespace

FT_STATUS FT_ListDevices(void *pArg1, void *pArg2, DWORD flags)
{
    if (!driverReady())
        return FT_OTHER_ERROR;
    return driver.listDevices(pArg1, pArg2, flags);
}

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *pHandle)
{
    if (!driverReady())
        return FT_OTHER_ERROR;
    FT_STATUS status = driver.open(deviceNumber, pHandle);
    if (status != FT_OK)
        return status;
    // The chip holds received bytes until its buffer fills or the latency
    // timer runs out (16 ms by default), so the last packet of a 32 KiB read
    // block would wait that long; large USB transfers cut the request count.
    if (driver.setLatencyTimer)
        driver.setLatencyTimer(*pHandle, 2);
    if (driver.setUsbParameters)
        driver.setUsbParameters(*pHandle, 65536, 65536);
    return FT_OK;
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeoutMs, DWORD writeTimeoutMs)
{
    if (!driverReady())
        return FT_INVALID_HANDLE;
    return driver.setTimeouts(handle, readTimeoutMs, writeTimeoutMs);
}

FT_STATUS FT_Write(FT_HANDLE handle, void *buffer, DWORD bytesToWrite, DWORD *bytesWritten)
{
    if (!driverReady()) {
        *bytesWritten = 0;
        return FT_INVALID_HANDLE;
    }
    return driver.write(handle, buffer, bytesToWrite, bytesWritten);
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD *rxBytes)
{
    if (!driverReady()) {
        *rxBytes = 0;
        return FT_INVALID_HANDLE;
    }
    return driver.getQueueStatus(handle, rxBytes);
}

FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, DWORD bytesToRead, DWORD *bytesReturned)
{
    if (!driverReady()) {
        *bytesReturned = 0;
        return FT_INVALID_HANDLE;
    }
    return driver.read(handle, buffer, bytesToRead, bytesReturned);
}

FT_STATUS FT_Close(FT_HANDLE handle)
{
    if (!driverReady())
        return FT_INVALID_HANDLE;
    return driver.close(handle);
}

const char *ftFailureHint()
{
    // a loaded driver's own failures (no board attached, board busy) need no advice
    return driver.problem[0] ? driver.problem : nullptr;
}
