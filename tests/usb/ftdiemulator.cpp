#include "ftdiemulator.h"

#include "board.h"

#include <umockdev.h>

#include <sys/ioctl.h>  // before the usbdevfs header, which uses its macros
#include <linux/usbdevice_fs.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <stdexcept>

namespace usbemu {
namespace {

const char deviceNode[] = "/dev/bus/usb/001/002";
// Modem status in front of every bulk-in packet: CTS and DSR set, transmitter empty.
const uint8_t modemStatus[2] = {0x31, 0x60};

struct ChipModel {
    uint16_t productId;
    uint16_t bcdDevice;  // libftdi tells the chip types apart by this
    int interfaces;
    int packetSize;
    const char *speed;  // sysfs, in Mb/s
    const char *product;
};

const ChipModel &modelOf(Chip chip)
{
    static const ChipModel ft232h = {0x6014, 0x0900, 1, 512, "480", "Single RS232-HS"};
    static const ChipModel ft232r = {0x6001, 0x0600, 1, 64, "12", "FT232R USB UART"};
    static const ChipModel ft2232h = {0x6010, 0x0700, 2, 512, "480", "Dual RS232-HS"};
    switch (chip) {
    case Chip::FT232R:
        return ft232r;
    case Chip::FT2232H:
        return ft2232h;
    default:
        return ft232h;
    }
}

// Device descriptor, then configuration 1 with one vendor-class interface per
// channel, each with a bulk-in (0x81, 0x83) and a bulk-out (0x02, 0x04) endpoint.
std::vector<uint8_t> descriptors(const ChipModel &chip, uint16_t productId)
{
    uint8_t mpsLow = static_cast<uint8_t>(chip.packetSize & 0xFF);
    uint8_t mpsHigh = static_cast<uint8_t>(chip.packetSize >> 8);
    int total = 9 + chip.interfaces * (9 + 7 + 7);
    std::vector<uint8_t> d = {
        18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x03, 0x04,  // USB 2.0, ep0 64 bytes, vendor 0403
        static_cast<uint8_t>(productId & 0xFF), static_cast<uint8_t>(productId >> 8),
        static_cast<uint8_t>(chip.bcdDevice & 0xFF), static_cast<uint8_t>(chip.bcdDevice >> 8),
        1, 2, 3, 1,  // string indexes, one configuration
        9, 2, static_cast<uint8_t>(total & 0xFF), static_cast<uint8_t>(total >> 8),
        static_cast<uint8_t>(chip.interfaces), 1, 0, 0x80, 45,  // bus powered, 90 mA
    };
    for (int i = 0; i < chip.interfaces; ++i) {
        uint8_t index = static_cast<uint8_t>(i);
        std::vector<uint8_t> interface = {
            9, 4, index, 0, 2, 0xFF, 0xFF, 0xFF, 2,
            7, 5, static_cast<uint8_t>(0x81 + 2 * i), 2, mpsLow, mpsHigh, 0,
            7, 5, static_cast<uint8_t>(0x02 + 2 * i), 2, mpsLow, mpsHigh, 0,
        };
        d.insert(d.end(), interface.begin(), interface.end());
    }
    return d;
}

// The root hub every bus has (1d6b:0002), as sysfs shows its descriptors.
const char rootHubDescriptors[] =
    "12010002090001406b1d020018060302010109021900010100e0000904000001090000000705810304000c";

std::string hex(const std::vector<uint8_t> &bytes)
{
    std::string text;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        text += two;
    }
    return text;
}

std::string format(const char *fmt, ...)
{
    char line[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    return line;
}

struct PendingIn {
    UMockdevIoctlData *urb;  // a reference; the client's struct usbdevfs_urb
    gint64 submittedUs;
};

struct Port {
    std::deque<PendingIn> pendingIn;
    unsigned latencyMs = 16;  // the chip's default
    bool claimed = false;
    bool driverBound = true;  // the kernel's serial driver
};

}  // namespace

struct FtdiEmulator::State {
    Options options;
    const ChipModel *chip = nullptr;
    std::vector<uint8_t> descriptors;
    UMockdevTestbed *testbed = nullptr;
    UMockdevIoctlBase *handler = nullptr;
    std::string root;

    std::mutex mutex;  // the handler runs on umockdev's worker thread
    sim::Sdram sdram;
    std::unique_ptr<sim::Board> board;
    Port ports[2];
    std::deque<UMockdevIoctlData *> completed;  // URBs waiting to be reaped
    std::vector<std::string> record;
    Stats stats;
    uint64_t sent = 0;      // data bytes sent to the host on channel A
    uint64_t received = 0;  // bytes taken from the host on channel A
    bool gone = false;      // unplugged: usbdevfs answers ENODEV

    // All below: mutex held.
    void unplug();
    size_t fillIn(int port, uint8_t *buffer, size_t length);
    void serviceIn();
    int control(uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint16_t length,
                uint8_t *data);
    void hostData(int port, const uint8_t *data, size_t n, usbdevfs_urb *urb);
    bool handle(UMockdevIoctlClient *client);
};

namespace {

int portOfEndpoint(int interfaces, unsigned endpoint)
{
    for (int i = 0; i < interfaces; ++i) {
        if (endpoint == 0x81u + 2 * i || endpoint == 0x02u + 2 * i)
            return i;
    }
    return -1;
}

gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer state)
{
    return static_cast<FtdiEmulator::State *>(state)->handle(client);
}

void complete(UMockdevIoctlClient *client, long result, int error)
{
    umockdev_ioctl_client_complete(client, result, error);
}

}  // namespace

void FtdiEmulator::State::unplug()
{
    gone = true;
    record.push_back("unplugged");
    // the kernel kills what is in flight; libusb still reaps it
    for (Port &port : ports) {
        for (PendingIn &in : port.pendingIn) {
            usbdevfs_urb *urb = reinterpret_cast<usbdevfs_urb *>(in.urb->data);
            urb->status = -ESHUTDOWN;
            urb->actual_length = 0;
            completed.push_back(in.urb);
        }
        port.pendingIn.clear();
    }
}

// Fills a bulk-in buffer as the chip does: each max-size packet starts with
// the two status bytes; a short packet ends the transfer. Returns its length.
size_t FtdiEmulator::State::fillIn(int port, uint8_t *buffer, size_t length)
{
    size_t packetSize = static_cast<size_t>(chip->packetSize);
    uint64_t allowed = options.goneAfterSent > sent ? options.goneAfterSent - sent : 0;
    size_t at = 0;
    size_t data = 0;
    while (length - at >= 2) {
        size_t room = std::min(packetSize, length - at) - 2;
        size_t n = 0;
        if (port == 0 && data < allowed)
            n = board->take(buffer + at + 2, static_cast<size_t>(std::min<uint64_t>(room, allowed - data)));
        std::memcpy(buffer + at, modemStatus, 2);
        at += 2 + n;
        data += n;
        if (2 + n < packetSize)
            break;
    }
    if (port == 0)
        sent += data;
    if (data > 0) {
        stats.inTransfers++;
        stats.inBytes += data;
        stats.inSinceOut++;
        stats.mostInPerOut = std::max(stats.mostInPerOut, stats.inSinceOut);
    } else {
        stats.inEmpty += port == 0;
    }
    return at;
}

// Completes the bulk-in transfers the chip would answer by now: at once when
// it has data, with status bytes only once the latency timer ran out.
void FtdiEmulator::State::serviceIn()
{
    gint64 now = g_get_monotonic_time();
    for (int i = 0; i < chip->interfaces && !gone; ++i) {
        Port &port = ports[i];
        while (!port.pendingIn.empty() && !gone) {
            PendingIn &in = port.pendingIn.front();
            bool ready = i == 0 && board->pending() > 0;
            if (!ready && now - in.submittedUs < gint64(port.latencyMs) * 1000)
                break;
            usbdevfs_urb *urb = reinterpret_cast<usbdevfs_urb *>(in.urb->data);
            urb->actual_length = static_cast<int>(
                fillIn(i, static_cast<uint8_t *>(urb->buffer), static_cast<size_t>(urb->buffer_length)));
            urb->status = 0;
            completed.push_back(in.urb);
            port.pendingIn.pop_front();
            if (sent >= options.goneAfterSent)
                unplug();
        }
    }
}

// One control request; data holds length bytes (to fill for IN requests).
// Returns the bytes transferred or -errno (-EPIPE: a stall).
int FtdiEmulator::State::control(uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                                 uint16_t length, uint8_t *data)
{
    if (type == 0x80 && request == 6) {  // GET_DESCRIPTOR
        int kind = value >> 8;
        int which = value & 0xFF;
        std::vector<uint8_t> answer;
        const char *text = nullptr;
        if (kind == 1) {
            answer.assign(descriptors.begin(), descriptors.begin() + 18);
        } else if (kind == 2 && which == 0) {
            answer.assign(descriptors.begin() + 18, descriptors.end());
        } else if (kind == 3 && which == 0) {
            answer = {4, 3, 0x09, 0x04};  // US English
        } else if (kind == 3 && which >= 1 && which <= 3) {
            const char *strings[] = {"FTDI", chip->product, "QZ000001"};
            text = strings[which - 1];
            answer = {static_cast<uint8_t>(2 + 2 * std::strlen(text)), 3};
            for (const char *c = text; *c; ++c)
                answer.insert(answer.end(), {static_cast<uint8_t>(*c), 0});
        } else {
            return -EPIPE;
        }
        size_t n = std::min<size_t>(answer.size(), length);
        std::memcpy(data, answer.data(), n);
        return static_cast<int>(n);
    }
    if ((type & 0x60) != 0x40)
        return -EPIPE;  // neither standard GET_DESCRIPTOR nor vendor: not needed

    // FTDI vendor requests: the low byte of wIndex is the channel, 1 for A;
    // the baud rate request uses wIndex for divisor bits on H chips
    int port = (index & 0xFF) > 0 ? (index & 0xFF) - 1 : 0;
    if (request == 0x03 || port >= chip->interfaces)
        port = 0;
    switch (request) {
    case 0x00:  // reset / purge
        if (value == 0) {
            record.push_back(format("reset %d", port));
        } else if (value == 1) {
            record.push_back(format("purge out %d", port));  // bytes from the host not yet taken
        } else if (value == 2) {
            record.push_back(format("purge in %d", port));  // bytes waiting for the host
            if (port == 0)
                board->dropPending();
        }
        return 0;
    case 0x05:  // modem status
        if (length >= 2)
            std::memcpy(data, modemStatus, 2);
        return std::min<int>(length, 2);
    case 0x09:
        ports[port].latencyMs = value & 0xFF;
        record.push_back(format("latency %d %u", port, ports[port].latencyMs));
        return 0;
    case 0x0A:
        if (length >= 1)
            data[0] = static_cast<uint8_t>(ports[port].latencyMs);
        return std::min<int>(length, 1);
    case 0x0B:
        record.push_back(format("bitmode %d 0x%04x", port, value));
        return 0;
    case 0x90:  // EEPROM word: a blank EEPROM
        if (length >= 2)
            data[0] = data[1] = 0xFF;
        return std::min<int>(length, 2);
    default:  // baud rate, line settings, flow control, modem lines: accepted
        if (type & 0x80) {
            std::memset(data, 0, length);
            return length;
        }
        return 0;
    }
}

void FtdiEmulator::State::hostData(int port, const uint8_t *data, size_t n, usbdevfs_urb *urb)
{
    size_t taken = n;
    if (port == 0) {
        uint64_t room = options.goneAfterReceived > received ? options.goneAfterReceived - received : 0;
        taken = static_cast<size_t>(std::min<uint64_t>(n, room));
        board->receive(data, taken);
        received += taken;
        stats.outTransfers++;
        stats.outBytes += taken;
        stats.inSinceOut = 0;
    }
    urb->actual_length = static_cast<int>(taken);
    urb->status = taken == n ? 0 : -ESHUTDOWN;
    if (taken < n)
        unplug();
}

// Answers one usbdevfs ioctl on the chip's device node.
bool FtdiEmulator::State::handle(UMockdevIoctlClient *client)
{
    unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> lock(mutex);

    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        // libusb reaps without waiting; a blocking reap is answered the same way
        serviceIn();
        if (completed.empty()) {
            complete(client, -1, gone ? ENODEV : EAGAIN);
            return true;
        }
        UMockdevIoctlData *urb = completed.front();
        completed.pop_front();
        UMockdevIoctlData *slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void *), nullptr);
        umockdev_ioctl_data_set_ptr(slot, 0, urb);
        g_object_unref(slot);
        g_object_unref(urb);
        complete(client, 0, 0);
        return true;
    }
    if (gone) {
        complete(client, -1, ENODEV);
        return true;
    }

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
        // no packet size limit: libusb sends each transfer as one URB
        uint32_t caps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                        USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        std::memcpy(d->data, &caps, sizeof caps);
        g_object_unref(d);
        complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_GETDRIVER: {
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
        usbdevfs_getdriver *driver = reinterpret_cast<usbdevfs_getdriver *>(d->data);
        int error = 0;
        if (driver->interface >= unsigned(chip->interfaces))
            error = EINVAL;
        else if (ports[driver->interface].claimed || (driver->interface == 0 && options.claimedElsewhere))
            g_strlcpy(driver->driver, "usbfs", sizeof driver->driver);
        else if (ports[driver->interface].driverBound)
            g_strlcpy(driver->driver, "ftdi_sio", sizeof driver->driver);
        else
            error = ENODATA;
        g_object_unref(d);
        complete(client, error ? -1 : 0, error);
        return true;
    }
    case USBDEVFS_IOCTL: {  // detach (DISCONNECT) or re-attach (CONNECT) the kernel driver
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
        usbdevfs_ioctl *io = reinterpret_cast<usbdevfs_ioctl *>(d->data);
        int interface = io->ifno;
        unsigned code = static_cast<unsigned>(io->ioctl_code);
        g_object_unref(d);
        int error = 0;
        if (interface < 0 || interface >= chip->interfaces) {
            error = EINVAL;
        } else if (code == USBDEVFS_DISCONNECT) {
            if (!ports[interface].driverBound)
                error = ENODATA;
            ports[interface].driverBound = false;
            if (!error)
                record.push_back(format("detach %d", interface));
        } else if (code == USBDEVFS_CONNECT) {
            if (ports[interface].claimed) {
                error = EBUSY;
            } else if (!ports[interface].driverBound) {
                ports[interface].driverBound = true;
                record.push_back(format("attach %d", interface));
            }
        } else {
            error = ENOTTY;
        }
        complete(client, error ? -1 : 0, error);
        return true;
    }
    case USBDEVFS_DISCONNECT_CLAIM:
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
        unsigned interface = 0;
        unsigned flags = 0;
        if (request == USBDEVFS_DISCONNECT_CLAIM) {
            UMockdevIoctlData *d =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_disconnect_claim), nullptr);
            const usbdevfs_disconnect_claim *dc = reinterpret_cast<usbdevfs_disconnect_claim *>(d->data);
            interface = dc->interface;
            flags = dc->flags;
            g_object_unref(d);
        } else {
            UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
            std::memcpy(&interface, d->data, sizeof interface);
            g_object_unref(d);
        }
        if (interface >= unsigned(chip->interfaces)) {
            complete(client, -1, EINVAL);
            return true;
        }
        Port &port = ports[interface];
        if (request == USBDEVFS_RELEASEINTERFACE) {
            int error = port.claimed ? 0 : EINVAL;
            if (!error)
                record.push_back(format("release %u", interface));
            port.claimed = false;
            complete(client, error ? -1 : 0, error);
            return true;
        }
        // another program's claim can't be taken over; the kernel's serial
        // driver is detached first only by the disconnect-and-claim request
        if (interface == 0 && options.claimedElsewhere) {
            complete(client, -1, EBUSY);
            return true;
        }
        if (port.driverBound && request == USBDEVFS_DISCONNECT_CLAIM &&
            (flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER)) {
            port.driverBound = false;
            record.push_back(format("detach %u", interface));
        }
        if (port.driverBound) {
            complete(client, -1, EBUSY);
            return true;
        }
        if (!port.claimed)
            record.push_back(format("claim %u", interface));
        port.claimed = true;
        complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_SETCONFIGURATION: {
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(int), nullptr);
        int configuration = 0;
        std::memcpy(&configuration, d->data, sizeof configuration);
        g_object_unref(d);
        bool ok = configuration == 1 || configuration == -1;
        complete(client, ok ? 0 : -1, ok ? 0 : EINVAL);
        return true;
    }
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET:
        complete(client, 0, 0);
        return true;
    case USBDEVFS_GET_SPEED:
        complete(client, chip->packetSize == 512 ? 3 : 2, 0);  // high or full speed
        return true;
    case USBDEVFS_CONNECTINFO: {
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_connectinfo), nullptr);
        usbdevfs_connectinfo *info = reinterpret_cast<usbdevfs_connectinfo *>(d->data);
        info->devnum = 2;
        info->slow = 0;
        g_object_unref(d);
        complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_CONTROL: {  // synchronous control transfer
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ctrltransfer), nullptr);
        usbdevfs_ctrltransfer *ct = reinterpret_cast<usbdevfs_ctrltransfer *>(d->data);
        UMockdevIoctlData *buffer =
            ct->wLength ? umockdev_ioctl_data_resolve(d, offsetof(usbdevfs_ctrltransfer, data), ct->wLength, nullptr)
                        : nullptr;
        int result = control(ct->bRequestType, ct->bRequest, ct->wValue, ct->wIndex, ct->wLength,
                             buffer ? buffer->data : nullptr);
        if (buffer)
            g_object_unref(buffer);
        g_object_unref(d);
        complete(client, result < 0 ? -1 : result, result < 0 ? -result : 0);
        return true;
    }
    case USBDEVFS_SUBMITURB: {
        UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        usbdevfs_urb *urb = reinterpret_cast<usbdevfs_urb *>(d->data);
        UMockdevIoctlData *buffer =
            urb->buffer_length > 0
                ? umockdev_ioctl_data_resolve(d, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), nullptr)
                : nullptr;
        if (buffer)
            g_object_unref(buffer);  // d keeps it: its contents go back on reap
        urb->actual_length = 0;
        urb->status = 0;
        uint8_t *data = static_cast<uint8_t *>(urb->buffer);
        if (urb->type == USBDEVFS_URB_TYPE_CONTROL && urb->endpoint == 0 && urb->buffer_length >= 8) {
            uint16_t length = static_cast<uint16_t>(data[6] | data[7] << 8);
            int result = control(data[0], data[1], static_cast<uint16_t>(data[2] | data[3] << 8),
                                 static_cast<uint16_t>(data[4] | data[5] << 8), length, data + 8);
            if (result < 0)
                urb->status = result;
            else
                urb->actual_length = (data[0] & 0x80) ? result : length;
            completed.push_back(d);
            complete(client, 0, 0);
            return true;
        }
        int port = portOfEndpoint(chip->interfaces, urb->endpoint);
        if (urb->type != USBDEVFS_URB_TYPE_BULK || port < 0) {
            g_object_unref(d);
            complete(client, -1, ENOENT);
            return true;
        }
        if (urb->endpoint & 0x80) {
            ports[port].pendingIn.push_back({d, g_get_monotonic_time()});
        } else {
            hostData(port, data, static_cast<size_t>(urb->buffer_length), urb);
            completed.push_back(d);
        }
        complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_DISCARDURB: {
        unsigned long address = 0;
        std::memcpy(&address, arg->data, sizeof address);
        for (Port &port : ports) {
            for (auto in = port.pendingIn.begin(); in != port.pendingIn.end(); ++in) {
                if (in->urb->client_addr != address)
                    continue;
                usbdevfs_urb *urb = reinterpret_cast<usbdevfs_urb *>(in->urb->data);
                urb->status = -ENOENT;
                urb->actual_length = 0;
                completed.push_back(in->urb);
                port.pendingIn.erase(in);
                complete(client, 0, 0);
                return true;
            }
        }
        complete(client, -1, EINVAL);  // already completed
        return true;
    }
    default:
        return false;  // umockdev answers ENOTTY
    }
}

FtdiEmulator::FtdiEmulator(const Options &options) : state_(std::make_unique<State>())
{
    State &s = *state_;
    s.options = options;
    s.chip = &modelOf(options.chip);
    uint16_t productId = options.productId ? options.productId : s.chip->productId;
    s.descriptors = descriptors(*s.chip, productId);
    std::string error;
    if (!s.sdram.open("", error))
        throw std::runtime_error(error);
    s.board = std::make_unique<sim::Board>(s.sdram);
    s.board->setAnswerLimit(options.answerLimit);

    s.testbed = umockdev_testbed_new();
    gchar *root = umockdev_testbed_get_root_dir(s.testbed);
    s.root = root;
    g_free(root);

    std::string devices =
        std::string("P: /devices/pci0000:00/0000:00:14.0/usb1\n"
                    "N: bus/usb/001/001\n"
                    "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
                    "E: BUSNUM=001\nE: DEVNUM=001\nE: DEVNAME=/dev/bus/usb/001/001\n"
                    "E: PRODUCT=1d6b/2/618\n"
                    "A: busnum=1\\n\nA: devnum=1\\n\nA: speed=480\\n\nA: bConfigurationValue=1\\n\n"
                    "A: idVendor=1d6b\\n\nA: idProduct=0002\\n\n"
                    "H: descriptors=") +
        rootHubDescriptors + "\n";
    if (options.attached) {
        s.handler = umockdev_ioctl_base_new();
        g_signal_connect(s.handler, "handle-ioctl", G_CALLBACK(onIoctl), &s);
        // before the node exists, so that an opener always finds the handler
        GError *gerror = nullptr;
        if (!umockdev_testbed_attach_ioctl(s.testbed, deviceNode, s.handler, &gerror)) {
            std::string message = gerror->message;
            g_error_free(gerror);
            throw std::runtime_error("umockdev: " + message);
        }
        devices += format("\nP: /devices/pci0000:00/0000:00:14.0/usb1/1-1\n"
                          "N: bus/usb/001/002\n"
                          "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
                          "E: BUSNUM=001\nE: DEVNUM=002\nE: DEVNAME=/dev/bus/usb/001/002\n"
                          "E: PRODUCT=403/%x/%x\n",
                          productId, s.chip->bcdDevice);
        devices += format("A: busnum=1\\n\nA: devnum=2\\n\nA: speed=%s\\n\nA: bConfigurationValue=1\\n\n"
                          "A: bNumInterfaces= %d\\n\nA: idVendor=0403\\n\nA: idProduct=%04x\\n\n"
                          "A: bcdDevice=%04x\\n\n",
                          s.chip->speed, s.chip->interfaces, productId, s.chip->bcdDevice);
        devices += std::string("A: manufacturer=FTDI\\n\nA: product=") + s.chip->product +
                   "\\n\nA: serial=QZ000001\\n\nH: descriptors=" + hex(s.descriptors) + "\n";
    }
    GError *gerror = nullptr;
    if (!umockdev_testbed_add_from_string(s.testbed, devices.c_str(), &gerror)) {
        std::string message = gerror->message;
        g_error_free(gerror);
        throw std::runtime_error("umockdev: " + message);
    }
    if (options.attached && options.deniedToUser) {
        // everyone may use the testbed (libudev's monitor makes a socket in
        // it), but nobody but root may open the node: a user without the udev rule
        std::filesystem::permissions(s.root, std::filesystem::perms(01777));
        std::filesystem::permissions(s.root + "/ioctl" + deviceNode, std::filesystem::perms(0777));
        std::filesystem::permissions(s.root + deviceNode, std::filesystem::perms(0));
    }
}

FtdiEmulator::~FtdiEmulator()
{
    State &s = *state_;
    if (s.handler)
        umockdev_testbed_detach_ioctl(s.testbed, deviceNode, nullptr);
    g_object_unref(s.testbed);  // removes the tree and unsets UMOCKDEV_DIR
    if (s.handler)
        g_object_unref(s.handler);
    for (Port &port : s.ports) {
        for (PendingIn &in : port.pendingIn)
            g_object_unref(in.urb);
    }
    for (UMockdevIoctlData *urb : s.completed)
        g_object_unref(urb);
}

std::vector<std::string> FtdiEmulator::environment() const
{
    // a sanitized program needs its runtime first in the preload list
    std::string preload = QZ_USB_PRELOAD_FIRST;
    if (!preload.empty())
        preload += ":";
    preload += "libumockdev-preload.so.0";
    return {"UMOCKDEV_DIR=" + state_->root, "LD_PRELOAD=" + preload};
}

std::vector<std::string> FtdiEmulator::record() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->record;
}

bool FtdiEmulator::driverBound(int interface) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->ports[interface].driverBound;
}

Stats FtdiEmulator::stats() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->stats;
}

std::vector<uint8_t> FtdiEmulator::readSdram(uint64_t address, size_t n)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<uint8_t> bytes(n);
    state_->sdram.read(address, bytes.data(), n);
    return bytes;
}

void FtdiEmulator::writeSdram(uint64_t address, const std::vector<uint8_t> &data)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->sdram.write(address, data.data(), data.size());
}

}  // namespace usbemu
