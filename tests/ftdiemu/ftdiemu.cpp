// A stand-in for libusb-1.0 that emulates FT232R adapters, so that libftdi1 and the FT_* functions
// over it run unchanged on machines without USB devices. It implements the libusb calls libftdi1
// makes and answers them as the chip does: vendor control requests for reset, purge, baud-rate
// divisor, line properties, flow control, latency timer, event and error characters, modem status
// and EEPROM; bulk-in packets of at most 64 bytes that each start with two modem-status bytes, a
// status-only packet once the latency timer runs out with nothing to send; bulk-out bytes go to the
// serial side, a pseudo-terminal, optionally at the line's real speed.

#include "tests/ftdiemu/ftdiemu.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#define KXEMU_EXPORT extern "C" __attribute__((visibility("default")))

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr int kMaxAdapters = 8;
constexpr int kPacket = 64;
constexpr size_t kTxBuffer = 128; // the chip's transmit buffer
// Modem status as the chip reports it: CTS and DSR set, transmitter empty. Neither byte is zero, so
// one that leaks into the data is seen.
constexpr uint8_t kStatus0 = 0x31;
constexpr uint8_t kStatus1 = 0x60;

} // namespace

struct libusb_context {
    std::mutex mutex;
    std::deque<libusb_transfer*> pending;
};

struct libusb_device {
    int chip;
    unsigned generation;
    uint8_t address;
    std::atomic<int> refs{1};
};

struct libusb_device_handle {
    libusb_device* dev;
};

namespace {

struct Chip {
    // Identity and plug state.
    std::string serial, description, port;
    bool plugged = false;
    bool denied = false;
    bool claimedElsewhere = false; // another program holds its interface
    unsigned generation = 0;
    libusb_device* dev = nullptr;

    // Serial side.
    int fd = -1;
    int opens = 0;
    std::deque<uint8_t> rx; // from the line, not yet sent to the host
    std::deque<uint8_t> tx; // from the host, not yet on the line (pacing only)
    std::thread txThread;
    bool txStop = false;

    // Settings.
    uint32_t baud = 9600;
    uint16_t data = 8; // SIO_SET_DATA value: bits, parity << 8, stop << 11, break << 14
    uint8_t latency = 16;
    uint16_t flow = 0;
    uint8_t eventChar = 0;
    bool eventEnabled = false;

    std::vector<kxemu_line_byte> log;
    unsigned packets = 0, dataPackets = 0;
    int failReads = 0; // bulk-in transfers still to fail
};

std::mutex g_mutex; // guards everything below and every chip
std::condition_variable g_changed;
Chip g_chips[kMaxAdapters];
int g_count = 0;
unsigned g_inits = 0; // libusb contexts started since the library was loaded
bool g_pace = false;
std::string g_unplugFile, g_lineLogFile;
uint8_t g_nextAddress = 4;

uint16_t g_eeprom[64];

// Appends a line to the line log of a program run: bytes with their settings, and events ("#
// open").
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogLine(const char* format, ...)
{
    if (g_lineLogFile.empty())
        return;
    if (FILE* f = std::fopen(g_lineLogFile.c_str(), "a")) {
        va_list args;
        va_start(args, format);
        std::vfprintf(f, format, args);
        va_end(args);
        std::fputc('\n', f);
        std::fclose(f);
    }
}

void Plug(Chip& c)
{
    ++c.generation;
    c.dev = new libusb_device{int(&c - g_chips), c.generation, g_nextAddress++};
    c.plugged = true;
}

void StopTx(Chip& c, std::unique_lock<std::mutex>& lock)
{
    if (!c.txThread.joinable())
        return;
    c.txStop = true;
    g_changed.notify_all();
    std::thread t = std::move(c.txThread);
    lock.unlock();
    t.join();
    lock.lock();
    c.txStop = false;
}

void ClosePort(Chip& c, std::unique_lock<std::mutex>& lock)
{
    StopTx(c, lock);
    if (c.fd >= 0)
        ::close(c.fd);
    c.fd = -1;
    c.opens = 0;
    c.rx.clear();
    c.tx.clear();
}

void Unplug(Chip& c, std::unique_lock<std::mutex>& lock)
{
    c.plugged = false;
    ClosePort(c, lock);
    // The old device object stays valid, but dead, for whoever still holds it.
    libusb_unref_device(std::exchange(c.dev, nullptr));
    g_changed.notify_all();
}

// Adapter 0 follows the unplug file of a program run.
void FollowUnplugFile(std::unique_lock<std::mutex>& lock)
{
    if (g_unplugFile.empty() || g_count < 1)
        return;
    struct stat st;
    const bool gone = ::stat(g_unplugFile.c_str(), &st) == 0;
    if (gone && g_chips[0].plugged) {
        Unplug(g_chips[0], lock);
        LogLine("# unplugged");
    } else if (!gone && !g_chips[0].plugged) {
        Plug(g_chips[0]);
        LogLine("# plugged");
    }
}

void Reset(int adapters, std::unique_lock<std::mutex>& lock)
{
    for (int i = 0; i < kMaxAdapters; ++i) {
        Chip& c = g_chips[i];
        if (c.plugged)
            Unplug(c, lock);
        c.serial = "KX" + std::to_string(100001 + i);
        c.description = "FT232R USB UART";
        c.port.clear();
        c.denied = false;
        c.claimedElsewhere = false;
        c.baud = 9600;
        c.data = 8;
        c.latency = 16;
        c.flow = 0;
        c.eventEnabled = false;
        c.log.clear();
        c.packets = c.dataPackets = 0;
        c.failReads = 0;
    }
    g_count = std::clamp(adapters, 0, kMaxAdapters);
    for (int i = 0; i < g_count; ++i)
        Plug(g_chips[i]);
    g_pace = false;
}

const char* Env(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
}

void LoadFromEnvironment()
{
    std::unique_lock lock(g_mutex);
    Reset(Env("KXEMU_ADAPTERS") ? std::atoi(Env("KXEMU_ADAPTERS")) : 1, lock);
    for (int i = 0; i < kMaxAdapters; ++i) {
        const std::string name = i == 0 ? "KXEMU_PORT" : "KXEMU_PORT" + std::to_string(i);
        if (const char* p = Env(name.c_str()))
            g_chips[i].port = p;
        g_chips[i].denied = Env("KXEMU_DENY") != nullptr ||
                            (Env("KXEMU_DENY_ONLY") && std::atoi(Env("KXEMU_DENY_ONLY")) == i);
        g_chips[i].claimedElsewhere = Env("KXEMU_BUSY") != nullptr;
    }
    if (const char* s = Env("KXEMU_SERIAL"))
        g_chips[0].serial = s;
    if (const char* s = Env("KXEMU_DESCRIPTION"))
        g_chips[0].description = s;
    g_pace = Env("KXEMU_PACE") != nullptr;
    if (const char* f = Env("KXEMU_UNPLUG_FILE"))
        g_unplugFile = f;
    if (const char* f = Env("KXEMU_LINE_LOG"))
        g_lineLogFile = f;
    for (int i = 0; i < 64; ++i)
        g_eeprom[i] = 0xFFFF;
    g_eeprom[0] = 0x4000;
    g_eeprom[1] = 0x0403;
    g_eeprom[2] = 0x6001;
    g_eeprom[3] = 0x0600;
}

// Dynamic initialisation runs in the order of definition within this file, so the state above
// exists by now.
const bool g_loaded = (LoadFromEnvironment(), true);

// The chip behind a handle, or null when the device the handle was opened on is gone.
Chip* Live(libusb_device_handle* h)
{
    if (!h || !h->dev || h->dev->chip < 0 || h->dev->chip >= kMaxAdapters)
        return nullptr;
    Chip& c = g_chips[h->dev->chip];
    return c.plugged && c.generation == h->dev->generation ? &c : nullptr;
}

uint32_t BaudFromDivisor(uint16_t value, uint16_t index)
{
    const uint32_t encoded = value | (uint32_t(index & 1) << 16);
    if (encoded == 0)
        return 3000000;
    if (encoded == 1)
        return 2000000;
    static const uint32_t eighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
    const uint32_t divisor8 = (encoded & 0x3FFF) * 8 + eighths[(encoded >> 14) & 7];
    return (24000000 + divisor8 / 2) / divisor8;
}

kxemu_line_byte Settings(const Chip& c, uint8_t value)
{
    return kxemu_line_byte{value, uint8_t(c.data & 0xFF), uint8_t((c.data >> 11) & 3),
                           uint8_t((c.data >> 8) & 7), c.baud};
}

long ByteTimeMicros(const Chip& c)
{
    const kxemu_line_byte s = Settings(c, 0);
    const double bits = 1 + s.dataBits + (s.parity ? 1 : 0) +
                        (s.stopBits == 1   ? 1.5
                         : s.stopBits == 2 ? 2
                                           : 1);
    return long(bits * 1e6 / std::max<uint32_t>(1, s.baud));
}

// Puts one byte on the line (the lock is held).
void Transmit(Chip& c, uint8_t b)
{
    c.log.push_back(Settings(c, b));
    const kxemu_line_byte& s = c.log.back();
    LogLine("%02X baud=%u bits=%u stop=%u parity=%u", b, s.baud, s.dataBits, s.stopBits, s.parity);
    if (c.fd < 0)
        return;
    for (int tries = 0; tries < 1000; ++tries) {
        const ssize_t n = ::write(c.fd, &b, 1);
        if (n == 1 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return;
        ::usleep(1000);
    }
}

// Paces the chip's transmit buffer out at the line speed in force for each byte.
void TxLoop(Chip* c)
{
    std::unique_lock lock(g_mutex);
    while (!c->txStop) {
        if (c->tx.empty()) {
            g_changed.wait(lock);
            continue;
        }
        const auto due = Clock::now() + std::chrono::microseconds(ByteTimeMicros(*c));
        g_changed.wait_until(lock, due, [&] { return c->txStop; });
        if (c->txStop)
            break;
        const uint8_t b = c->tx.front();
        c->tx.pop_front();
        Transmit(*c, b);
        g_changed.notify_all();
    }
}

// Moves what the serial side has sent into the chip's receive buffer (the lock is held). Returns
// false when the line is hung up or absent, so callers sleep instead of polling it.
bool Pull(Chip& c)
{
    if (c.fd < 0)
        return false;
    uint8_t buf[256];
    for (;;) {
        const ssize_t n = ::read(c.fd, buf, sizeof buf);
        if (n > 0) {
            c.rx.insert(c.rx.end(), buf, buf + n);
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }
}

// Waits for the serial side up to the given time, without the lock.
void WaitLine(int fd, bool usable, Clock::time_point until, std::unique_lock<std::mutex>& lock)
{
    const auto now = Clock::now();
    if (until <= now)
        return;
    // Checked at least every 5 ms, so an unplug ends a waiting transfer promptly.
    const int ms =
        int(std::min<long>(5, std::chrono::duration_cast<milliseconds>(until - now).count() + 1));
    lock.unlock();
    if (usable) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, ms);
    } else {
        ::usleep(useconds_t(ms) * 1000);
    }
    lock.lock();
}

int BulkIn(libusb_device_handle* h, uint8_t* data, int length, int* transferred, unsigned timeoutMs)
{
    std::unique_lock lock(g_mutex);
    const auto deadline =
        timeoutMs ? Clock::now() + milliseconds(timeoutMs) : Clock::time_point::max();
    int out = 0;
    *transferred = 0;
    for (;;) {
        if (length - out < kPacket)
            break; // the host asked for less than a packet more: real hardware would overflow
        // The chip sends a packet once it holds 62 bytes, the event character arrived, or the
        // latency timer ran out.
        Chip* c = Live(h);
        if (!c) {
            *transferred = out;
            return LIBUSB_ERROR_NO_DEVICE;
        }
        if (c->failReads > 0) {
            --c->failReads;
            *transferred = out;
            return LIBUSB_ERROR_IO;
        }
        const auto flush = Clock::now() + milliseconds(c->latency);
        for (;;) {
            FollowUnplugFile(lock);
            c = Live(h);
            if (!c) {
                *transferred = out;
                return LIBUSB_ERROR_NO_DEVICE;
            }
            const bool usable = Pull(*c);
            if (c->rx.size() >= kPacket - 2)
                break;
            if (c->eventEnabled &&
                std::find(c->rx.begin(), c->rx.end(), c->eventChar) != c->rx.end())
                break;
            const auto now = Clock::now();
            if (now >= flush)
                break;
            if (now >= deadline) {
                *transferred = out;
                return LIBUSB_ERROR_TIMEOUT;
            }
            WaitLine(c->fd, usable, std::min(flush, deadline), lock);
        }
        const int n = int(std::min<size_t>(kPacket - 2, c->rx.size()));
        data[out++] = kStatus0;
        data[out++] = kStatus1;
        std::copy_n(c->rx.begin(), n, data + out);
        c->rx.erase(c->rx.begin(), c->rx.begin() + n);
        out += n;
        ++c->packets;
        if (n)
            ++c->dataPackets;
        g_changed.notify_all();
        if (n + 2 < kPacket)
            break; // a short packet ends the transfer
    }
    *transferred = out;
    return 0;
}

int BulkOut(libusb_device_handle* h, const uint8_t* data, int length, int* transferred,
            unsigned timeoutMs)
{
    std::unique_lock lock(g_mutex);
    const auto deadline =
        timeoutMs ? Clock::now() + milliseconds(timeoutMs) : Clock::time_point::max();
    *transferred = 0;
    int done = 0;
    while (done < length) {
        FollowUnplugFile(lock);
        Chip* c = Live(h);
        if (!c) {
            *transferred = done;
            return LIBUSB_ERROR_NO_DEVICE;
        }
        if (!g_pace) {
            Transmit(*c, data[done++]);
            continue;
        }
        if (!c->txThread.joinable())
            c->txThread = std::thread(TxLoop, c);
        if (c->tx.size() < kTxBuffer) {
            c->tx.push_back(data[done++]);
            g_changed.notify_all();
            continue;
        }
        // The chip's buffer is full: the host's packets wait until it drains.
        if (Clock::now() >= deadline) {
            *transferred = done;
            return LIBUSB_ERROR_TIMEOUT;
        }
        g_changed.wait_until(lock, std::min(deadline, Clock::now() + milliseconds(5)));
    }
    *transferred = done;
    return 0;
}

int ControlIn(Chip& c, uint8_t request, uint16_t index, uint8_t* data, uint16_t length)
{
    uint8_t reply[2] = {0, 0};
    int n = 0;
    switch (request) {
    case SIO_POLL_MODEM_STATUS_REQUEST:
        reply[0] = kStatus0;
        reply[1] = kStatus1;
        n = 2;
        break;
    case SIO_GET_LATENCY_TIMER_REQUEST:
        reply[0] = c.latency;
        n = 1;
        break;
    case SIO_READ_PINS_REQUEST:
        reply[0] = 0xFF;
        n = 1;
        break;
    case SIO_READ_EEPROM_REQUEST:
        reply[0] = uint8_t(g_eeprom[index % 64]);
        reply[1] = uint8_t(g_eeprom[index % 64] >> 8);
        n = 2;
        break;
    default:
        return LIBUSB_ERROR_PIPE;
    }
    n = std::min<int>(n, length);
    std::memcpy(data, reply, size_t(n));
    return n;
}

int ControlOut(Chip& c, uint8_t request, uint16_t value, uint16_t index)
{
    switch (request) {
    case SIO_RESET_REQUEST:
        // What the line has sent up to this moment is in the chip by now, so it goes too.
        if (value != 1)
            Pull(c);
        if (value == 0) {
            c.rx.clear();
            c.tx.clear();
        } else if (value == 1) {
            c.tx.clear(); // what the host sent and the line has not taken yet
        } else if (value == 2) {
            c.rx.clear();
        }
        return 0;
    case SIO_SET_MODEM_CTRL_REQUEST:
    case SIO_SET_BITMODE_REQUEST:
    case SIO_WRITE_EEPROM_REQUEST:
    case SIO_ERASE_EEPROM_REQUEST:
        return 0;
    case SIO_SET_FLOW_CTRL_REQUEST:
        c.flow = index & 0xFF00;
        return 0;
    case SIO_SET_BAUDRATE_REQUEST:
        c.baud = BaudFromDivisor(value, index);
        return 0;
    case SIO_SET_DATA_REQUEST:
        if ((value & 0xFF) < 7 || (value & 0xFF) > 8)
            return LIBUSB_ERROR_PIPE;
        c.data = value;
        return 0;
    case SIO_SET_EVENT_CHAR_REQUEST:
        c.eventChar = uint8_t(value);
        c.eventEnabled = value & 0x100;
        return 0;
    case SIO_SET_ERROR_CHAR_REQUEST:
        return 0;
    case SIO_SET_LATENCY_TIMER_REQUEST:
        if ((value & 0xFF) == 0)
            return LIBUSB_ERROR_PIPE;
        c.latency = uint8_t(value);
        return 0;
    default:
        return LIBUSB_ERROR_PIPE;
    }
}

struct ConfigBlock {
    libusb_config_descriptor config;
    libusb_interface interface;
    libusb_interface_descriptor altsetting;
    libusb_endpoint_descriptor endpoints[2];
};

} // namespace

// ---- libusb-1.0 ---------------------------------------------------------------------------------

KXEMU_EXPORT int libusb_init(libusb_context** ctx)
{
    {
        std::lock_guard lock(g_mutex);
        ++g_inits;
    }
    if (ctx)
        *ctx = new libusb_context;
    return 0;
}

KXEMU_EXPORT void libusb_exit(libusb_context* ctx) { delete ctx; }

KXEMU_EXPORT ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list)
{
    std::unique_lock lock(g_mutex);
    FollowUnplugFile(lock);
    std::vector<libusb_device*> devs;
    for (int i = 0; i < g_count; ++i)
        if (g_chips[i].plugged) {
            g_chips[i].dev->refs++;
            devs.push_back(g_chips[i].dev);
        }
    auto** out = static_cast<libusb_device**>(std::calloc(devs.size() + 1, sizeof(void*)));
    if (!out)
        return LIBUSB_ERROR_NO_MEM;
    std::copy(devs.begin(), devs.end(), out);
    *list = out;
    return ssize_t(devs.size());
}

KXEMU_EXPORT libusb_device* libusb_ref_device(libusb_device* dev)
{
    dev->refs++;
    return dev;
}

// A device object lives while anyone holds it, as in libusb: a test may unplug a device that
// libftdi still holds, and its handle must then fail cleanly rather than touch freed memory. What
// the library forgets to release shows as a leak in the sanitizer build.
KXEMU_EXPORT void libusb_unref_device(libusb_device* dev)
{
    if (dev && --dev->refs == 0)
        delete dev;
}

KXEMU_EXPORT void libusb_free_device_list(libusb_device** list, int unref)
{
    if (!list)
        return;
    if (unref)
        for (libusb_device** d = list; *d; ++d)
            libusb_unref_device(*d);
    std::free(list);
}

KXEMU_EXPORT int libusb_get_device_descriptor(libusb_device*, libusb_device_descriptor* d)
{
    *d = libusb_device_descriptor{};
    d->bLength = LIBUSB_DT_DEVICE_SIZE;
    d->bDescriptorType = LIBUSB_DT_DEVICE;
    d->bcdUSB = 0x0200;
    d->bMaxPacketSize0 = 8;
    d->idVendor = 0x0403;
    d->idProduct = 0x6001;
    d->bcdDevice = 0x0600; // FT232R
    d->iManufacturer = 1;
    d->iProduct = 2;
    d->iSerialNumber = 3;
    d->bNumConfigurations = 1;
    return 0;
}

KXEMU_EXPORT int libusb_get_config_descriptor(libusb_device*, uint8_t index,
                                              libusb_config_descriptor** config)
{
    if (index != 0)
        return LIBUSB_ERROR_NOT_FOUND;
    auto* b = new ConfigBlock{};
    b->endpoints[0].bLength = LIBUSB_DT_ENDPOINT_SIZE;
    b->endpoints[0].bDescriptorType = LIBUSB_DT_ENDPOINT;
    b->endpoints[0].bEndpointAddress = 0x81;
    b->endpoints[0].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
    b->endpoints[0].wMaxPacketSize = kPacket;
    b->endpoints[1] = b->endpoints[0];
    b->endpoints[1].bEndpointAddress = 0x02;
    b->altsetting.bLength = LIBUSB_DT_INTERFACE_SIZE;
    b->altsetting.bDescriptorType = LIBUSB_DT_INTERFACE;
    b->altsetting.bNumEndpoints = 2;
    b->altsetting.bInterfaceClass = 0xFF;
    b->altsetting.iInterface = 2;
    b->altsetting.endpoint = b->endpoints;
    b->interface.altsetting = &b->altsetting;
    b->interface.num_altsetting = 1;
    b->config.bLength = LIBUSB_DT_CONFIG_SIZE;
    b->config.bDescriptorType = LIBUSB_DT_CONFIG;
    b->config.bNumInterfaces = 1;
    b->config.bConfigurationValue = 1;
    b->config.bmAttributes = 0xA0;
    b->config.MaxPower = 45;
    b->config.interface = &b->interface;
    *config = &b->config;
    return 0;
}

KXEMU_EXPORT void libusb_free_config_descriptor(libusb_config_descriptor* config)
{
    delete reinterpret_cast<ConfigBlock*>(config);
}

KXEMU_EXPORT uint8_t libusb_get_bus_number(libusb_device*) { return 1; }
KXEMU_EXPORT uint8_t libusb_get_device_address(libusb_device* dev) { return dev->address; }
KXEMU_EXPORT int libusb_get_port_numbers(libusb_device* dev, uint8_t* numbers, int len)
{
    if (len < 1)
        return LIBUSB_ERROR_OVERFLOW;
    numbers[0] = uint8_t(dev->chip + 1);
    return 1;
}

KXEMU_EXPORT int libusb_open(libusb_device* dev, libusb_device_handle** handle)
{
    std::unique_lock lock(g_mutex);
    FollowUnplugFile(lock);
    libusb_device_handle probe{dev};
    Chip* c = Live(&probe);
    if (!c)
        return LIBUSB_ERROR_NO_DEVICE;
    if (c->denied)
        return LIBUSB_ERROR_ACCESS;
    if (c->opens++ == 0 && !c->port.empty()) {
        c->fd = ::open(c->port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (c->fd >= 0) {
            termios t;
            if (::tcgetattr(c->fd, &t) == 0) {
                ::cfmakeraw(&t);
                ::tcsetattr(c->fd, TCSANOW, &t);
            }
        } else {
            std::fprintf(stderr, "ftdiemu: cannot open %s: %s\n", c->port.c_str(),
                         std::strerror(errno));
        }
    }
    dev->refs++; // the handle's, as libusb holds it
    *handle = new libusb_device_handle{dev};
    LogLine("# open");
    return 0;
}

KXEMU_EXPORT void libusb_close(libusb_device_handle* handle)
{
    if (!handle)
        return;
    std::unique_lock lock(g_mutex);
    if (Chip* c = Live(handle))
        if (--c->opens <= 0)
            ClosePort(*c, lock);
    libusb_unref_device(handle->dev);
    delete handle;
}

KXEMU_EXPORT int libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index,
                                                    unsigned char* data, int length)
{
    std::unique_lock lock(g_mutex);
    Chip* c = Live(handle);
    if (!c)
        return LIBUSB_ERROR_NO_DEVICE;
    if (index == 0 || index > 3)
        return LIBUSB_ERROR_INVALID_PARAM;
    const std::string text = index == 1 ? "FTDI" : index == 2 ? c->description : c->serial;
    if (length <= 0)
        return 0;
    const int n = std::min<int>(int(text.size()), length - 1);
    std::memcpy(data, text.data(), size_t(n));
    data[n] = 0;
    return n;
}

KXEMU_EXPORT int libusb_get_configuration(libusb_device_handle* handle, int* config)
{
    std::unique_lock lock(g_mutex);
    if (!Live(handle))
        return LIBUSB_ERROR_NO_DEVICE;
    *config = 1;
    return 0;
}

KXEMU_EXPORT int libusb_set_configuration(libusb_device_handle* handle, int)
{
    std::unique_lock lock(g_mutex);
    return Live(handle) ? 0 : LIBUSB_ERROR_NO_DEVICE;
}

KXEMU_EXPORT int libusb_claim_interface(libusb_device_handle* handle, int iface)
{
    std::unique_lock lock(g_mutex);
    const Chip* c = Live(handle);
    if (!c)
        return LIBUSB_ERROR_NO_DEVICE;
    if (c->claimedElsewhere)
        return LIBUSB_ERROR_BUSY;
    return iface == 0 ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

KXEMU_EXPORT int libusb_release_interface(libusb_device_handle* handle, int)
{
    std::unique_lock lock(g_mutex);
    return Live(handle) ? 0 : LIBUSB_ERROR_NO_DEVICE;
}

KXEMU_EXPORT int libusb_detach_kernel_driver(libusb_device_handle* handle, int)
{
    std::unique_lock lock(g_mutex);
    return Live(handle) ? LIBUSB_ERROR_NOT_FOUND : LIBUSB_ERROR_NO_DEVICE; // no driver bound
}

KXEMU_EXPORT int libusb_set_auto_detach_kernel_driver(libusb_device_handle*, int) { return 0; }

KXEMU_EXPORT int libusb_control_transfer(libusb_device_handle* handle, uint8_t requestType,
                                         uint8_t request, uint16_t value, uint16_t index,
                                         unsigned char* data, uint16_t length, unsigned int)
{
    std::unique_lock lock(g_mutex);
    FollowUnplugFile(lock);
    Chip* c = Live(handle);
    if (!c)
        return LIBUSB_ERROR_NO_DEVICE;
    if (requestType == 0xC0 /* vendor, device, in */)
        return ControlIn(*c, request, index, data, length);
    if (requestType == 0x40 /* vendor, device, out */)
        return ControlOut(*c, request, value, index);
    return LIBUSB_ERROR_PIPE;
}

KXEMU_EXPORT int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint,
                                      unsigned char* data, int length, int* transferred,
                                      unsigned int timeout)
{
    int dummy = 0;
    int* done = transferred ? transferred : &dummy;
    if (endpoint & LIBUSB_ENDPOINT_IN)
        return BulkIn(handle, data, length, done, timeout);
    return BulkOut(handle, data, length, done, timeout);
}

// Asynchronous transfers run when the owner handles events, one after the other.
KXEMU_EXPORT libusb_transfer* libusb_alloc_transfer(int isoPackets)
{
    const size_t size = sizeof(libusb_transfer) +
                        sizeof(libusb_iso_packet_descriptor) * size_t(std::max(0, isoPackets));
    return static_cast<libusb_transfer*>(std::calloc(1, size));
}

KXEMU_EXPORT void libusb_free_transfer(libusb_transfer* transfer)
{
    if (!transfer)
        return;
    if (transfer->flags & LIBUSB_TRANSFER_FREE_BUFFER)
        std::free(transfer->buffer);
    std::free(transfer);
}

namespace {
std::mutex g_asyncMutex;
std::deque<libusb_transfer*> g_pending;
std::vector<libusb_transfer*> g_cancelled;
} // namespace

KXEMU_EXPORT int libusb_submit_transfer(libusb_transfer* transfer)
{
    {
        std::unique_lock lock(g_mutex);
        if (!Live(transfer->dev_handle))
            return LIBUSB_ERROR_NO_DEVICE;
    }
    std::lock_guard lock(g_asyncMutex);
    g_pending.push_back(transfer);
    return 0;
}

KXEMU_EXPORT int libusb_cancel_transfer(libusb_transfer* transfer)
{
    std::lock_guard lock(g_asyncMutex);
    auto it = std::find(g_pending.begin(), g_pending.end(), transfer);
    if (it == g_pending.end())
        return LIBUSB_ERROR_NOT_FOUND;
    g_pending.erase(it);
    g_cancelled.push_back(transfer);
    return 0;
}

namespace {
void Complete(libusb_transfer* t, int result, int actual)
{
    t->actual_length = actual;
    t->status = result == 0                        ? LIBUSB_TRANSFER_COMPLETED
                : result == LIBUSB_ERROR_TIMEOUT   ? LIBUSB_TRANSFER_TIMED_OUT
                : result == LIBUSB_ERROR_NO_DEVICE ? LIBUSB_TRANSFER_NO_DEVICE
                                                   : LIBUSB_TRANSFER_ERROR;
    if (t->callback)
        t->callback(t);
}

int HandleEvents(int* completed)
{
    for (;;) {
        if (completed && *completed)
            return 0;
        libusb_transfer* t = nullptr;
        bool cancelled = false;
        {
            std::lock_guard lock(g_asyncMutex);
            if (!g_cancelled.empty()) {
                t = g_cancelled.back();
                g_cancelled.pop_back();
                cancelled = true;
            } else if (!g_pending.empty()) {
                t = g_pending.front();
                g_pending.pop_front();
            }
        }
        if (!t)
            return 0;
        if (cancelled) {
            t->status = LIBUSB_TRANSFER_CANCELLED;
            t->actual_length = 0;
            if (t->callback)
                t->callback(t);
            continue;
        }
        int actual = 0, r;
        if (t->type == LIBUSB_TRANSFER_TYPE_CONTROL) {
            auto* setup = reinterpret_cast<libusb_control_setup*>(t->buffer);
            r = libusb_control_transfer(
                t->dev_handle, setup->bmRequestType, setup->bRequest, setup->wValue, setup->wIndex,
                t->buffer + LIBUSB_CONTROL_SETUP_SIZE, setup->wLength, t->timeout);
            actual = r > 0 ? r : 0;
            r = r < 0 ? r : 0;
        } else {
            r = libusb_bulk_transfer(t->dev_handle, t->endpoint, t->buffer, t->length, &actual,
                                     t->timeout);
        }
        Complete(t, r, actual);
    }
}
} // namespace

KXEMU_EXPORT int libusb_handle_events_timeout(libusb_context*, timeval*)
{
    return HandleEvents(nullptr);
}

KXEMU_EXPORT int libusb_handle_events_timeout_completed(libusb_context*, timeval*, int* completed)
{
    return HandleEvents(completed);
}

KXEMU_EXPORT int libusb_handle_events(libusb_context*) { return HandleEvents(nullptr); }

KXEMU_EXPORT const char* libusb_error_name(int code)
{
    switch (code) {
    case LIBUSB_SUCCESS:
        return "LIBUSB_SUCCESS";
    case LIBUSB_ERROR_IO:
        return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM:
        return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS:
        return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE:
        return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND:
        return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY:
        return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT:
        return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_PIPE:
        return "LIBUSB_ERROR_PIPE";
    default:
        return "LIBUSB_ERROR_OTHER";
    }
}

KXEMU_EXPORT const char* libusb_strerror(int code) { return libusb_error_name(code); }

// ---- control from tests -------------------------------------------------------------------------

KXEMU_EXPORT void kxemu_reset(int adapters)
{
    std::unique_lock lock(g_mutex);
    Reset(adapters, lock);
}

KXEMU_EXPORT void kxemu_set_strings(int i, const char* serial, const char* description)
{
    std::lock_guard lock(g_mutex);
    if (i < 0 || i >= kMaxAdapters)
        return;
    g_chips[i].serial = serial ? serial : "";
    g_chips[i].description = description ? description : "";
}

KXEMU_EXPORT void kxemu_set_port(int i, const char* path)
{
    std::lock_guard lock(g_mutex);
    if (i >= 0 && i < kMaxAdapters)
        g_chips[i].port = path ? path : "";
}

KXEMU_EXPORT void kxemu_set_plugged(int i, int plugged)
{
    std::unique_lock lock(g_mutex);
    if (i < 0 || i >= g_count)
        return;
    if (!plugged && g_chips[i].plugged)
        Unplug(g_chips[i], lock);
    else if (plugged && !g_chips[i].plugged)
        Plug(g_chips[i]);
}

KXEMU_EXPORT void kxemu_set_access_denied(int i, int denied)
{
    std::lock_guard lock(g_mutex);
    if (i >= 0 && i < kMaxAdapters)
        g_chips[i].denied = denied != 0;
}

KXEMU_EXPORT void kxemu_set_claimed_elsewhere(int i, int claimed)
{
    std::lock_guard lock(g_mutex);
    if (i >= 0 && i < kMaxAdapters)
        g_chips[i].claimedElsewhere = claimed != 0;
}

KXEMU_EXPORT void kxemu_hold_in_fifo(int i, const uint8_t* bytes, int count)
{
    std::lock_guard lock(g_mutex);
    if (i >= 0 && i < kMaxAdapters && count > 0)
        g_chips[i].rx.insert(g_chips[i].rx.end(), bytes, bytes + count);
}

KXEMU_EXPORT void kxemu_fail_reads(int i, int count)
{
    std::lock_guard lock(g_mutex);
    if (i >= 0 && i < kMaxAdapters)
        g_chips[i].failReads = count;
}

KXEMU_EXPORT void kxemu_set_pacing(int on)
{
    std::lock_guard lock(g_mutex);
    g_pace = on != 0;
}

KXEMU_EXPORT int kxemu_line_log(int i, kxemu_line_byte* out, int max)
{
    std::lock_guard lock(g_mutex);
    if (i < 0 || i >= kMaxAdapters)
        return 0;
    const auto& log = g_chips[i].log;
    std::copy_n(log.begin(), std::min<size_t>(log.size(), size_t(std::max(0, max))), out);
    return int(log.size());
}

KXEMU_EXPORT void kxemu_packets(int i, unsigned* packets, unsigned* dataPackets)
{
    std::lock_guard lock(g_mutex);
    if (i < 0 || i >= kMaxAdapters)
        return;
    *packets = g_chips[i].packets;
    *dataPackets = g_chips[i].dataPackets;
}

KXEMU_EXPORT int kxemu_wait_empty_packets(int i, unsigned count, int limitMs)
{
    std::unique_lock lock(g_mutex);
    if (i < 0 || i >= kMaxAdapters)
        return 0;
    const Chip& c = g_chips[i];
    return g_changed.wait_for(lock, milliseconds(limitMs),
                              [&] { return c.packets - c.dataPackets >= count; });
}

KXEMU_EXPORT void kxemu_usage(int i, unsigned* contexts, int* openHandles)
{
    std::lock_guard lock(g_mutex);
    *contexts = g_inits;
    *openHandles = i >= 0 && i < kMaxAdapters ? g_chips[i].opens : 0;
}

KXEMU_EXPORT int kxemu_latency(int i)
{
    std::lock_guard lock(g_mutex);
    return i >= 0 && i < kMaxAdapters ? g_chips[i].latency : -1;
}
