// The FT_ operations over libftdi1 and libusb, for real boards on Linux and
// macOS. libftdi finds, opens and configures the chip; the data moves with
// plain libusb bulk transfers so that every byte that did arrive or go out is
// counted, even when a transfer fails half way.
//
// libftdi has no driver-side receive queue, so each open device keeps its
// own: a queue query or a read pulls whatever the chip has ready into it.
// The chip starts every USB packet it sends with two modem-status bytes and,
// when it has no data, still answers a bulk-in request with a status-only
// packet once its latency timer runs out, so a pull never waits long.
#include "ftchip.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

// Asked for vendor 0 and product 0, libftdi looks for FTDI's vendor id with
// the product ids the chips have out of the factory: 0x6001 (FT232R/FT245R),
// 0x6010 (FT2232), 0x6011 (FT4232H), 0x6014 (FT232H), 0x6015 (FT-X).
const int factoryIds = 0;

// At the chip's default of 16 ms, the last, partial packet of every 32 KiB
// read block would wait that long before the chip sends it.
const unsigned char latencyMs = 2;
// Large transfers: a whole write block goes out in one bulk transfer. libftdi
// caps the read size itself (16 KiB on Linux).
const unsigned chunkSize = 65536;
// A pull when nothing is there returns after the latency time; this bounds it
// for a chip that does not answer at all.
const unsigned pullTimeoutMs = 100;
// The receive queue stops pulling from the chip when it holds this much.
const size_t queueLimit = size_t(1) << 20;

struct Device {
    ftdi_context *ftdi = nullptr;
    unsigned readChunk = 0;
    unsigned packetSize = 0;
    std::vector<uint8_t> raw;    // one bulk-in transfer, status bytes included
    std::vector<uint8_t> queue;  // received data not yet read
    size_t queueHead = 0;
    DWORD readTimeoutMs = 0;     // 0: no limit
    DWORD writeTimeoutMs = 0;    // 0: no limit
    bool failed = false;         // a USB error: the chip is gone or broken
};

std::vector<Device *> openDevices;
const char *failureHint = nullptr;
char hintText[256];

// Remembers the advice for the failure being reported.
void setHint(const char *text) { failureHint = text; }

void setHintf(const char *format, const char *detail)
{
    std::snprintf(hintText, sizeof hintText, format, detail);
    failureHint = hintText;
}

Device *deviceOf(FT_HANDLE handle)
{
    Device *dev = static_cast<Device *>(handle);
    if (std::find(openDevices.begin(), openDevices.end(), dev) == openDevices.end())
        return nullptr;
    return dev;
}

// Each channel of a multi-channel chip is a device of its own, as the
// vendor's library counts them.
int channelsOf(libusb_device *usbDevice)
{
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_config_descriptor(usbDevice, 0, &config) != 0)
        return 1;
    int channels = std::clamp<int>(config->bNumInterfaces, 1, 4);
    libusb_free_config_descriptor(config);
    return channels;
}

size_t queued(const Device &dev) { return dev.queue.size() - dev.queueHead; }

// One bulk-in transfer into the receive queue, the two status bytes at the
// start of each packet dropped. A time-out is no error: the data that came
// before it is kept. False after a USB error.
bool pullOnce(Device &dev, unsigned timeoutMs, bool &full)
{
    full = false;
    int got = 0;
    int result = libusb_bulk_transfer(dev.ftdi->usb_dev, static_cast<unsigned char>(dev.ftdi->out_ep),
                                      dev.raw.data(), static_cast<int>(dev.readChunk), &got,
                                      timeoutMs);
    if (dev.queueHead > 0 && dev.queueHead * 2 >= dev.queue.size()) {
        dev.queue.erase(dev.queue.begin(), dev.queue.begin() + static_cast<std::ptrdiff_t>(dev.queueHead));
        dev.queueHead = 0;
    }
    for (int at = 0; at < got; at += static_cast<int>(dev.packetSize)) {
        int packet = std::min(got - at, static_cast<int>(dev.packetSize));
        if (packet > 2)
            dev.queue.insert(dev.queue.end(), dev.raw.begin() + at + 2, dev.raw.begin() + at + packet);
    }
    if (result != 0 && result != LIBUSB_ERROR_TIMEOUT) {
        dev.failed = true;
        return false;
    }
    full = result == 0 && got == static_cast<int>(dev.readChunk);
    return true;
}

// Pulls until the chip has nothing more ready: a transfer that came back full
// means more may be waiting in the chip.
bool pull(Device &dev, unsigned timeoutMs)
{
    if (dev.failed)
        return false;
    bool full = true;
    while (full && queued(dev) < queueLimit) {
        if (!pullOnce(dev, timeoutMs, full))
            return false;
    }
    return true;
}

// False if releasing the chip failed (it is freed all the same).
bool closeDevice(Device *dev)
{
    // in the auto-detach mode libusb gives the interface back to the kernel's
    // serial driver when it is released
    bool released = ftdi_usb_close(dev->ftdi) == 0;
    ftdi_free(dev->ftdi);
    delete dev;
    return released;
}

// After ftdi_usb_open_dev failed: find out why, for the user. Its results:
// -3 configuration refused, -4 libusb_open failed, -5 claim refused,
// -8 permission denied while detaching the kernel driver.
void explainOpenFailure(ftdi_context *ftdi, libusb_device *usbDevice, int result)
{
    if (result == -4) {
        // libusb_open failed; libftdi keeps the reason to itself, so ask again
        libusb_device_handle *probe = nullptr;
        int reason = libusb_open(usbDevice, &probe);
        if (reason == 0)
            libusb_close(probe);
        if (reason == LIBUSB_ERROR_ACCESS) {
            result = -8;
        } else if (reason == LIBUSB_ERROR_NO_DEVICE) {
            setHint("The FTDI device went away while it was being opened: check the USB cable.");
            return;
        }
    }
    if (result == -8) {
        setHint("Permission denied on the USB device: install the udev rule from the README "
                "(then unplug and re-plug the board), or re-plug it if the rule is installed.");
    } else if (result == -5 || result == -3) {
        setHint("The FTDI device is busy: another program or a kernel driver has claimed it; "
                "close that program and try again.");
    } else {
        setHintf("The FTDI device could not be opened: %s.", ftdi_get_error_string(ftdi));
    }
}

// Brings a freshly opened chip to the state the tool expects; false with the
// hint set if the chip refused.
bool configure(Device &dev)
{
    ftdi_context *ftdi = dev.ftdi;
    // the mode the chip's EEPROM asks for (here: its FIFO), not a bit-bang mode
    // left behind by another program
    if (ftdi_set_bitmode(ftdi, 0x00, BITMODE_RESET) < 0 || ftdi_tcioflush(ftdi) < 0 ||
        ftdi_set_latency_timer(ftdi, latencyMs) < 0 ||
        ftdi_read_data_set_chunksize(ftdi, chunkSize) < 0 ||
        ftdi_write_data_set_chunksize(ftdi, chunkSize) < 0) {
        setHintf("The FTDI device did not accept its settings: %s.", ftdi_get_error_string(ftdi));
        return false;
    }
    dev.readChunk = ftdi->readbuffer_chunksize;
    dev.packetSize = ftdi->max_packet_size;
    if (dev.packetSize <= 2 || dev.readChunk < dev.packetSize) {
        setHint("The FTDI device reports an unusable USB packet size.");
        return false;
    }
    dev.raw.resize(dev.readChunk);
    return true;
}

}  // namespace

FT_STATUS FT_ListDevices(void *pArg1, void *pArg2, DWORD flags)
{
    (void)pArg2;
    failureHint = nullptr;
    if (flags != FT_LIST_NUMBER_ONLY || !pArg1)
        return FT_OTHER_ERROR;  // only counting is offered
    ftdi_context *ftdi = ftdi_new();
    if (!ftdi) {
        setHint("libusb could not be started, so no USB device can be used.");
        return FT_OTHER_ERROR;
    }
    ftdi_device_list *list = nullptr;
    int found = ftdi_usb_find_all(ftdi, &list, factoryIds, factoryIds);
    if (found < 0) {
        setHintf("The USB devices could not be listed: %s.", ftdi_get_error_string(ftdi));
        ftdi_free(ftdi);
        return FT_OTHER_ERROR;
    }
    DWORD count = 0;
    for (ftdi_device_list *item = list; item; item = item->next)
        count += static_cast<DWORD>(channelsOf(item->dev));
    ftdi_list_free(&list);
    ftdi_free(ftdi);
    *static_cast<DWORD *>(pArg1) = count;
    return FT_OK;
}

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *pHandle)
{
    failureHint = nullptr;
    *pHandle = nullptr;
    Device *dev = new Device;
    dev->ftdi = ftdi_new();
    if (!dev->ftdi) {
        setHint("libusb could not be started, so no USB device can be used.");
        delete dev;
        return FT_OTHER_ERROR;
    }
    ftdi_device_list *list = nullptr;
    int found = ftdi_usb_find_all(dev->ftdi, &list, factoryIds, factoryIds);

    // device numbers run over the chips in the order libusb lists them, and
    // over the channels of each chip
    libusb_device *usbDevice = nullptr;
    int channel = 0;
    int rest = deviceNumber;
    for (ftdi_device_list *item = list; item && rest >= 0 && !usbDevice; item = item->next) {
        int channels = channelsOf(item->dev);
        if (rest < channels) {
            usbDevice = item->dev;
            channel = rest;
        }
        rest -= channels;
    }

    FT_STATUS status = FT_OK;
    if (found < 0) {
        setHintf("The USB devices could not be listed: %s.", ftdi_get_error_string(dev->ftdi));
        status = FT_OTHER_ERROR;
    } else if (!usbDevice) {
        setHint("No FTDI device found: check that the board is plugged in and powered.");
        status = FT_DEVICE_NOT_FOUND;
    } else {
        ftdi_set_interface(dev->ftdi, static_cast<ftdi_interface>(INTERFACE_A + channel));
        // detach the kernel's serial driver now and give it back on close
        dev->ftdi->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
        int result = ftdi_usb_open_dev(dev->ftdi, usbDevice);
        if (result < 0) {
            explainOpenFailure(dev->ftdi, usbDevice, result);
            status = FT_DEVICE_NOT_OPENED;
        } else if (!configure(*dev)) {
            ftdi_usb_close(dev->ftdi);
            status = FT_IO_ERROR;
        }
    }
    ftdi_list_free(&list);
    if (status != FT_OK) {
        ftdi_free(dev->ftdi);
        delete dev;
        return status;
    }
    openDevices.push_back(dev);
    *pHandle = dev;
    return FT_OK;
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeoutMs, DWORD writeTimeoutMs)
{
    Device *dev = deviceOf(handle);
    if (!dev)
        return FT_INVALID_HANDLE;
    dev->readTimeoutMs = readTimeoutMs;
    dev->writeTimeoutMs = writeTimeoutMs;
    return FT_OK;
}

FT_STATUS FT_Write(FT_HANDLE handle, void *buffer, DWORD bytesToWrite, DWORD *bytesWritten)
{
    *bytesWritten = 0;
    Device *dev = deviceOf(handle);
    if (!dev)
        return FT_INVALID_HANDLE;
    if (dev->failed)
        return FT_IO_ERROR;
    unsigned char *data = static_cast<unsigned char *>(buffer);
    DWORD sent = 0;
    FT_STATUS status = FT_OK;
    while (sent < bytesToWrite) {
        int chunk = static_cast<int>(std::min<DWORD>(bytesToWrite - sent, dev->ftdi->writebuffer_chunksize));
        int done = 0;
        int result = libusb_bulk_transfer(dev->ftdi->usb_dev, static_cast<unsigned char>(dev->ftdi->in_ep),
                                          data + sent, chunk, &done, dev->writeTimeoutMs);
        sent += static_cast<DWORD>(done);
        if (result == LIBUSB_ERROR_TIMEOUT)
            break;  // the write time-out passed: not an error, the count tells
        if (result != 0) {
            dev->failed = true;
            status = FT_IO_ERROR;
            break;
        }
    }
    *bytesWritten = sent;
    return status;
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD *rxBytes)
{
    *rxBytes = 0;
    Device *dev = deviceOf(handle);
    if (!dev)
        return FT_INVALID_HANDLE;
    bool ok = pull(*dev, pullTimeoutMs);
    *rxBytes = static_cast<DWORD>(queued(*dev));
    return ok ? FT_OK : FT_IO_ERROR;
}

FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, DWORD bytesToRead, DWORD *bytesReturned)
{
    *bytesReturned = 0;
    Device *dev = deviceOf(handle);
    if (!dev)
        return FT_INVALID_HANDLE;
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(dev->readTimeoutMs);
    bool ok = true;
    while (queued(*dev) < bytesToRead) {
        unsigned timeoutMs = pullTimeoutMs;
        if (dev->readTimeoutMs > 0) {
            // rounded up, so that the whole time-out passes before giving up
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                break;
            timeoutMs = static_cast<unsigned>(std::min<long long>(left.count(), pullTimeoutMs));
        }
        if (!pull(*dev, timeoutMs)) {
            ok = false;
            break;
        }
    }
    // what did arrive is handed over even after a failure, never more than asked
    DWORD n = static_cast<DWORD>(std::min<size_t>(bytesToRead, queued(*dev)));
    std::copy_n(dev->queue.begin() + static_cast<std::ptrdiff_t>(dev->queueHead), n,
                static_cast<uint8_t *>(buffer));
    dev->queueHead += n;
    *bytesReturned = n;
    return ok || n == bytesToRead ? FT_OK : FT_IO_ERROR;
}

FT_STATUS FT_Close(FT_HANDLE handle)
{
    Device *dev = deviceOf(handle);
    if (!dev)
        return FT_INVALID_HANDLE;
    openDevices.erase(std::find(openDevices.begin(), openDevices.end(), dev));
    return closeDevice(dev) ? FT_OK : FT_IO_ERROR;
}

const char *ftFailureHint() { return failureHint; }
