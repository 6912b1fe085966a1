#pragma once
// Control of the emulated FTDI adapters from a test: the stand-in for libusb-1.0 exports these
// functions, and a test finds them with dlsym (so that the test still links and reports clearly
// when it runs over the real library). A program run is controlled through environment variables
// instead, read when the library is loaded:
//   KXEMU_ADAPTERS      number of adapters plugged in (default 1)
//   KXEMU_PORT, KXEMU_PORT1 ...   serial device behind adapter 0, 1 ... (a pseudo-terminal slave)
//   KXEMU_SERIAL, KXEMU_DESCRIPTION   USB strings of adapter 0 (others get numbered defaults)
//   KXEMU_PACE=1        bytes leave the chip at the configured line speed
//   KXEMU_DENY=1        the user may not open the adapters
//   KXEMU_DENY_ONLY=N   the user may not open adapter N (from 0)
//   KXEMU_BUSY=1        another program has claimed the adapters' interface
//   KXEMU_UNPLUG_FILE   adapter 0 counts as unplugged while this file exists
//   KXEMU_LINE_LOG      every byte sent on the line is appended here with its line settings
//                       ("55 baud=600 bits=8 stop=0 parity=0", stop in the chip's encoding), and
//                       events as lines starting with "# " (open, unplugged, plugged)

#include <cstdint>

extern "C" {

// One byte as it left the chip, with the line settings in force when it did.
struct kxemu_line_byte {
    uint8_t value;
    uint8_t dataBits;
    uint8_t stopBits; // the chip's encoding: 0 one, 1 one and a half, 2 two
    uint8_t parity;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint32_t baud;
};

typedef void (*kxemu_reset_fn)(int adapters);
typedef void (*kxemu_set_strings_fn)(int adapter, const char* serial, const char* description);
typedef void (*kxemu_set_port_fn)(int adapter, const char* path);
typedef void (*kxemu_set_plugged_fn)(int adapter, int plugged);
typedef void (*kxemu_set_access_denied_fn)(int adapter, int denied);
typedef void (*kxemu_set_claimed_elsewhere_fn)(int adapter, int claimed);
typedef void (*kxemu_set_pacing_fn)(int on);
// Puts bytes in the chip's receive FIFO, as if the line had sent them and the host not yet fetched
// them.
typedef void (*kxemu_hold_in_fifo_fn)(int adapter, const uint8_t* bytes, int count);
// The next count bulk-in transfers of the adapter fail with an I/O error.
typedef void (*kxemu_fail_reads_fn)(int adapter, int count);
// Copies up to max bytes of the adapter's line log; returns how many there are in all.
typedef int (*kxemu_line_log_fn)(int adapter, kxemu_line_byte* out, int max);
// Bulk-in packets the chip has sent to the host, and how many of them carried data.
typedef void (*kxemu_packets_fn)(int adapter, unsigned* packets, unsigned* dataPackets);
// Waits up to limitMs until the adapter has sent count status-only packets in all (it sends one
// each time its latency timer runs out with nothing from the line); returns whether it had.
typedef int (*kxemu_wait_empty_packets_fn)(int adapter, unsigned count, int limitMs);
typedef int (*kxemu_latency_fn)(int adapter);
// libusb contexts started since the library was loaded, and the handles open on an adapter now.
typedef void (*kxemu_usage_fn)(int adapter, unsigned* contexts, int* openHandles);
}
