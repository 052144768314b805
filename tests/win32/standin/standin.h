// The simulated device behind the stand-in ftd2xx.dll. Kept apart from
// chip/ftchip.h, whose C++ FT_ declarations would clash with the DLL's
// extern "C" exports of the same names.
#pragma once

namespace standin {

// Each is the simulated FT_ operation of the same name; the device is set up
// from the QZ4826_SIM_* environment on first use, as in qz4826s1-sim.
unsigned long listDevices(void *pArg1, void *pArg2, unsigned long flags);
unsigned long open(int deviceNumber, void **pHandle);
unsigned long setTimeouts(void *handle, unsigned long readTimeoutMs, unsigned long writeTimeoutMs);
unsigned long write(void *handle, void *buffer, unsigned long bytesToWrite, unsigned long *bytesWritten);
unsigned long getQueueStatus(void *handle, unsigned long *rxBytes);
unsigned long read(void *handle, void *buffer, unsigned long bytesToRead, unsigned long *bytesReturned);
unsigned long close(void *handle);

}  // namespace standin
