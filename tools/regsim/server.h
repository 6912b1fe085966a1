#pragma once
// The regsim program: the simulated regulator answering on a pseudo-terminal it creates (or on a
// serial device), with faults chosen on the command line.

#include "tools/regsim/regulator.h"

#include <string>

namespace regsim {

struct ServerOptions {
    std::string file;   // empty: the built-in demo regulator
    std::string device; // answer on this serial device instead of a new pseudo-terminal
    std::string link;   // symbolic link to the slave, made at start and removed at exit
    std::string record; // every recognised message is written here, one line each
    bool pace = false;  // send at the line's real speed
    int stopBits = 1;   // for pacing (and the device's line settings)
    bool verbose = false;
    bool exitOnStdinEof = false;
    int chunkDelayMs = 20; // pause between reply pieces when --chunk is given
    Faults faults;
};

struct CommandLine {
    ServerOptions options;
    bool help = false;
    std::string error; // not empty: the arguments are unusable
};

CommandLine ParseCommandLine(int argc, const char* const* argv);
const char* UsageText();

// Time one byte takes on the line: 600 baud, 8 data bits, no parity, start bit and stop bits.
constexpr long kBaud = 600;
constexpr long ByteTimeMicros(int stopBits) { return (1 + 8 + stopBits) * 1'000'000L / kBaud; }

// Runs until SIGTERM, SIGINT or SIGHUP (or stdin's end, if asked), or until a hang-up fault closes
// the line. SIGUSR1 hangs up at once. Returns the process exit code; errors go to stderr.
int RunServer(const ServerOptions& options, const RegulatorData& data);

} // namespace regsim
