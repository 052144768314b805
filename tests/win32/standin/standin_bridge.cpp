// Forwards the stand-in DLL's exports to the simulated chip layer.
#include "standin.h"

#include "ftchip.h"
#include "simdevice.h"

#include <cstdio>

namespace standin {
namespace {

bool configureFromEnvironment()
{
    sim::Settings settings;
    std::string error;
    if (!sim::settingsFromEnvironment(settings, error) || !sim::configure(settings, error)) {
        std::fprintf(stderr, "ftd2xx.dll (stand-in): %s\n", error.c_str());
        return false;
    }
    return true;
}

// Set up on the first call rather than in DllMain, where little is allowed.
bool ready()
{
    static const bool configured = configureFromEnvironment();
    return configured;
}

}  // namespace

unsigned long listDevices(void *pArg1, void *pArg2, unsigned long flags)
{
    return ready() ? FT_ListDevices(pArg1, pArg2, flags) : FT_OTHER_ERROR;
}

unsigned long open(int deviceNumber, void **pHandle)
{
    return ready() ? FT_Open(deviceNumber, pHandle) : FT_OTHER_ERROR;
}

unsigned long setTimeouts(void *handle, unsigned long readTimeoutMs, unsigned long writeTimeoutMs)
{
    return ready() ? FT_SetTimeouts(handle, readTimeoutMs, writeTimeoutMs) : FT_OTHER_ERROR;
}

unsigned long write(void *handle, void *buffer, unsigned long bytesToWrite, unsigned long *bytesWritten)
{
    *bytesWritten = 0;
    return ready() ? FT_Write(handle, buffer, bytesToWrite, bytesWritten) : FT_OTHER_ERROR;
}

unsigned long getQueueStatus(void *handle, unsigned long *rxBytes)
{
    *rxBytes = 0;
    return ready() ? FT_GetQueueStatus(handle, rxBytes) : FT_OTHER_ERROR;
}

unsigned long read(void *handle, void *buffer, unsigned long bytesToRead, unsigned long *bytesReturned)
{
    *bytesReturned = 0;
    return ready() ? FT_Read(handle, buffer, bytesToRead, bytesReturned) : FT_OTHER_ERROR;
}

unsigned long close(void *handle)
{
    return ready() ? FT_Close(handle) : FT_OTHER_ERROR;
}

}  // namespace standin
