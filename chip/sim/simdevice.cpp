// The FT_ operations over a simulated device with the board model behind it.
#include "simdevice.h"

#include "board.h"
#include "ftchip.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace sim {
namespace {

struct Device {
    bool configured = false;
    Settings settings;
    Sdram sdram;
    std::unique_ptr<Board> board;
    FILE *trace = nullptr;
    bool open = false;
    bool gone = false;  // unplugged: every later transfer call fails
    uint64_t hostSent = 0;
    std::vector<std::string> calls;
    std::vector<uint8_t> hostBytes;

    ~Device()
    {
        if (trace)
            std::fclose(trace);
    }
};

Device &state()
{
    static Device dev;
    return dev;
}

Device &device()
{
    Device &dev = state();
    if (!dev.configured) {
        std::string ignored;
        configure(Settings{}, ignored);
    }
    return dev;
}

bool usable(Device &dev, FT_HANDLE handle) { return dev.open && handle == &dev; }

void record(Device &dev, const std::string &line)
{
    if (dev.settings.record)
        dev.calls.push_back(line);
}

// Host bytes that reach the board: the trace, the record and the parser.
void deliver(Device &dev, const uint8_t *data, size_t n)
{
    if (n == 0)
        return;
    if (dev.trace)
        std::fwrite(data, 1, n, dev.trace);
    if (dev.settings.record)
        dev.hostBytes.insert(dev.hostBytes.end(), data, data + n);
    dev.hostSent += n;
    dev.board->receive(data, n);
    if (dev.board->answered() >= dev.settings.unplugAfter) {
        dev.gone = true;
        dev.board->dropPending();  // what was queued goes with the device
    }
}

}  // namespace

bool configure(const Settings &settings, std::string &error)
{
    Device &dev = state();
    if (dev.trace)
        std::fclose(dev.trace);
    dev.trace = nullptr;
    dev.board.reset();
    dev.settings = settings;
    dev.open = false;
    dev.gone = false;
    dev.hostSent = 0;
    dev.calls.clear();
    dev.hostBytes.clear();
    dev.configured = true;

    bool ok = dev.sdram.open(settings.sdramPath, error);
    dev.board = std::make_unique<Board>(dev.sdram);
    dev.board->setAnswerLimit(settings.stallAfter);
    if (settings.stale)
        dev.board->makeStale(100);
    if (ok && !settings.tracePath.empty()) {
        dev.trace = std::fopen(settings.tracePath.c_str(), "ab");
        if (!dev.trace) {
            error = "QZ4826_SIM_TRACE: cannot open " + settings.tracePath;
            ok = false;
        }
    }
    return ok;
}

const std::vector<std::string> &calls() { return device().calls; }

const std::vector<uint8_t> &hostBytes() { return device().hostBytes; }

void queueReceived(const uint8_t *data, size_t n)
{
    device().board->inject(data, n);
}

Board &board() { return *device().board; }

}  // namespace sim

using sim::Device;

FT_STATUS FT_ListDevices(void *pArg1, void *pArg2, DWORD flags)
{
    Device &dev = sim::device();
    sim::record(dev, "FT_ListDevices " + std::to_string(flags) + (pArg2 ? " arg2" : ""));
    if (dev.settings.failList || flags != FT_LIST_NUMBER_ONLY || !pArg1)
        return FT_OTHER_ERROR;
    *static_cast<DWORD *>(pArg1) = dev.settings.devices;
    return FT_OK;
}

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *pHandle)
{
    Device &dev = sim::device();
    sim::record(dev, "FT_Open " + std::to_string(deviceNumber));
    if (dev.settings.failOpen || deviceNumber < 0 ||
        static_cast<unsigned>(deviceNumber) >= dev.settings.devices)
        return FT_DEVICE_NOT_FOUND;
    if (dev.open)
        return FT_DEVICE_NOT_OPENED;  // one program at a time, as with the real driver
    dev.open = true;
    *pHandle = &dev;
    return FT_OK;
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeoutMs, DWORD writeTimeoutMs)
{
    Device &dev = sim::device();
    sim::record(dev, "FT_SetTimeouts " + std::to_string(readTimeoutMs) + " " +
                         std::to_string(writeTimeoutMs));
    return sim::usable(dev, handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS FT_Write(FT_HANDLE handle, void *buffer, DWORD bytesToWrite, DWORD *bytesWritten)
{
    Device &dev = sim::device();
    sim::record(dev, "FT_Write " + std::to_string(bytesToWrite));
    *bytesWritten = 0;
    if (!sim::usable(dev, handle))
        return FT_INVALID_HANDLE;
    if (dev.gone)
        return FT_IO_ERROR;
    uint64_t room = dev.settings.writeFailAfter > dev.hostSent
                        ? dev.settings.writeFailAfter - dev.hostSent
                        : 0;
    DWORD n = static_cast<DWORD>(std::min<uint64_t>(bytesToWrite, room));
    sim::deliver(dev, static_cast<const uint8_t *>(buffer), n);
    *bytesWritten = n;
    return n == bytesToWrite ? FT_OK : FT_IO_ERROR;
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD *rxBytes)
{
    Device &dev = sim::device();
    sim::record(dev, "FT_GetQueueStatus");
    *rxBytes = 0;
    if (!sim::usable(dev, handle))
        return FT_INVALID_HANDLE;
    if (dev.gone)
        return FT_IO_ERROR;
    *rxBytes = static_cast<DWORD>(dev.board->pending());
    return FT_OK;
}

FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, DWORD bytesToRead, DWORD *bytesReturned)
{
    Device &dev = sim::device();
    sim::record(dev, "FT_Read " + std::to_string(bytesToRead));
    *bytesReturned = 0;
    if (!sim::usable(dev, handle))
        return FT_INVALID_HANDLE;
    if (dev.gone)
        return FT_IO_ERROR;
    // the board answers at once, so nothing more can arrive within a time-out
    *bytesReturned = static_cast<DWORD>(dev.board->take(static_cast<uint8_t *>(buffer), bytesToRead));
    return FT_OK;
}

FT_STATUS FT_Close(FT_HANDLE handle)
{
    Device &dev = sim::device();
    sim::record(dev, "FT_Close");
    if (!sim::usable(dev, handle))
        return FT_INVALID_HANDLE;
    dev.open = false;
    if (dev.trace)
        std::fflush(dev.trace);
    return FT_OK;
}

const char *ftFailureHint() { return nullptr; }
