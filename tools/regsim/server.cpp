#include "tools/regsim/server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace regsim {

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// A partly received message older than this is dropped (about 30 byte times at 600 baud).
constexpr Ms kLineIdleGap{500};
// While the line reports EIO (no one on the other side), look again this often instead of spinning.
constexpr Ms kRetryAfterError{100};
constexpr size_t kReadChunk = 4096;
// A hang-up fault waits this long at most for the other side to read what was sent, looking again
// every kDrainPoll.
constexpr Ms kDrainLimit{2000};
constexpr Ms kDrainPoll{10};

// ---- command line ---------------------------------------------------------------------------

bool ParseInt(const std::string& text, int min, int max, int& out)
{
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int v = std::stoi(text);
    if (v < min || v > max)
        return false;
    out = v;
    return true;
}

bool ParseHexList(std::string text, Bytes& out)
{
    std::replace(text.begin(), text.end(), ',', ' ');
    std::istringstream in(text);
    std::string token;
    out.clear();
    while (in >> token) {
        if (token.size() > 2 || !std::all_of(token.begin(), token.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c)) != 0;
            }))
            return false;
        out.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
    }
    return !out.empty();
}

bool ParseMute(std::string text, std::set<Message>& out)
{
    std::replace(text.begin(), text.end(), ',', ' ');
    std::istringstream in(text);
    std::string token;
    bool any = false;
    while (in >> token) {
        any = true;
        if (token == "log") {
            out.insert({Message::LogStart, Message::LogNext, Message::LogRepeat});
            continue;
        }
        bool known = false;
        for (Message m : {Message::WakeUp, Message::Read, Message::Presence, Message::LogStart,
                          Message::LogNext, Message::LogRepeat, Message::Write}) {
            if (token == MessageName(m)) {
                out.insert(m);
                known = true;
            }
        }
        if (!known)
            return false;
    }
    return any;
}

// ---- line -----------------------------------------------------------------------------------

std::string Hex(const uint8_t* data, size_t n)
{
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
        s += buf;
    }
    return s;
}

void SysError(const std::string& what)
{
    std::fprintf(stderr, "regsim: %s: %s\n", what.c_str(), std::strerror(errno));
}

// Raw 8-bit line so that bytes pass unchanged (no echo, no CR/LF mapping, no XON/XOFF, no ^C).
bool MakeRaw(int fd, int stopBits)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD | (stopBits == 2 ? CSTOPB : 0);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B600);
    cfsetospeed(&t, B600);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

bool SetNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// ---- signals --------------------------------------------------------------------------------

int g_signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int sig)
{
    const int saved = errno;
    const char c = static_cast<char>(sig);
    [[maybe_unused]] auto n = write(g_signalPipe[1], &c, 1);
    errno = saved;
}

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

bool InstallSignals()
{
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : kStopSignals)
        sigaction(sig, &sa, nullptr);
    sigaction(SIGUSR1, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

void RestoreSignals()
{
    for (int sig : kStopSignals)
        std::signal(sig, SIG_DFL);
    std::signal(SIGUSR1, SIG_DFL);
    for (int& fd : g_signalPipe) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

// ---- the serving loop -----------------------------------------------------------------------

class Server {
public:
    Server(const ServerOptions& o, const RegulatorData& data)
        : opt_(o), byteTime_(ByteTimeMicros(o.stopBits)), reg_(data)
    {
        reg_.faults() = o.faults;
        reg_.SetSink([this](const Bytes& piece) {
            queue_.push_back(piece);
            if (opt_.verbose)
                std::fprintf(stderr, "regsim: -> %s\n", Hex(piece.data(), piece.size()).c_str());
        });
        reg_.SetObserver([this](const Event& e) { Note(e); });
    }

    ~Server() { Close(); }

    int Run()
    {
        if (!opt_.record.empty()) {
            record_ = std::fopen(opt_.record.c_str(), "w");
            if (!record_) {
                SysError("cannot write " + opt_.record);
                return 1;
            }
        }
        // Signals first: a SIGTERM right after the link appears must still remove it.
        if (!InstallSignals()) {
            SysError("pipe");
            return 1;
        }
        if (!(opt_.device.empty() ? OpenPty() : OpenDevice()) || !MakeLink()) {
            RestoreSignals();
            return 1;
        }
        std::printf("%s\n", peerPath_.c_str());
        std::fflush(stdout);
        const int rc = Loop();
        RestoreSignals();
        return rc;
    }

private:
    bool OpenPty()
    {
        fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
            SysError("posix_openpt");
            return false;
        }
        const char* name = ptsname(fd_);
        if (!name) {
            SysError("ptsname");
            return false;
        }
        peerPath_ = name;
        // Holding the slave open keeps the master readable while the program on the other side
        // closes and reopens it; otherwise the master reports EIO and POLLHUP until it comes back.
        slaveFd_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slaveFd_ < 0 || !MakeRaw(slaveFd_, opt_.stopBits) || !SetNonBlocking(fd_)) {
            SysError("setting up " + peerPath_);
            return false;
        }
        return true;
    }

    bool OpenDevice()
    {
        peerPath_ = opt_.device;
        fd_ = open(opt_.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0 || !isatty(fd_) || !MakeRaw(fd_, opt_.stopBits)) {
            SysError("cannot use " + opt_.device);
            return false;
        }
        return true;
    }

    bool MakeLink()
    {
        if (opt_.link.empty())
            return true;
        struct stat st {};
        if (lstat(opt_.link.c_str(), &st) == 0) {
            // Only an old link of ours is replaced: a wrong --link must not delete a file.
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "regsim: %s exists and is not a symbolic link\n",
                             opt_.link.c_str());
                return false;
            }
            unlink(opt_.link.c_str());
        }
        if (symlink(peerPath_.c_str(), opt_.link.c_str()) != 0) {
            SysError("cannot make the link " + opt_.link);
            return false;
        }
        linked_ = true;
        return true;
    }

    void RemoveLink()
    {
        if (!linked_)
            return;
        linked_ = false;
        // Someone may have pointed the link elsewhere meanwhile; that link is not ours to remove.
        char target[4096];
        const ssize_t n = readlink(opt_.link.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, static_cast<size_t>(n)) == peerPath_)
            unlink(opt_.link.c_str());
    }

    void Close()
    {
        RemoveLink();
        for (int* fd : {&fd_, &slaveFd_}) {
            if (*fd >= 0)
                close(*fd);
            *fd = -1;
        }
        if (record_)
            std::fclose(record_);
        record_ = nullptr;
    }

    void Note(const Event& e)
    {
        std::string line = MessageName(e.message);
        if (e.write) {
            line += e.write->stored ? " ok" : e.write->checkOk ? " short" : " bad-check";
            if (!e.write->payload.empty())
                line += " " + Hex(e.write->payload.data(), e.write->payload.size());
        }
        if (opt_.verbose)
            std::fprintf(stderr, "regsim: %s\n", line.c_str());
        if (record_) {
            std::fprintf(record_, "%s\n", line.c_str());
            std::fflush(record_);
        }
    }

    int Loop()
    {
        lastInput_ = nextWrite_ = Clock::now();
        const bool watchStdin = opt_.exitOnStdinEof;

        for (;;) {
            const auto now = Clock::now();
            bool draining = false;
            if (reg_.HungUp() && queue_.empty()) {
                draining = Draining(now);
                if (!draining) {
                    if (opt_.verbose)
                        std::fprintf(stderr, "regsim: hanging up\n");
                    Close();
                    return 0;
                }
            }
            const bool lineUsable = now >= retryAt_;
            const bool wantWrite = lineUsable && !queue_.empty() && now >= nextWrite_;

            pollfd fds[3] = {{g_signalPipe[0], POLLIN, 0},
                             {fd_, static_cast<short>(wantWrite ? POLLIN | POLLOUT : POLLIN), 0},
                             {STDIN_FILENO, POLLIN, 0}};
            if (!lineUsable)
                fds[1].fd = -1;
            if (poll(fds, watchStdin ? 3 : 2, PollTimeout(now, draining)) < 0) {
                if (errno == EINTR)
                    continue;
                SysError("poll");
                return 1;
            }

            if (StopSignalled(fds[0].revents) || (watchStdin && StdinEnded(fds[2].revents))) {
                Close();
                return 0;
            }
            ServeLine(fds[1].revents, wantWrite);
        }
    }

    // Bytes already sent were on the wire before the plug came out: a hung-up regulator lets the
    // other side take them, or closing the master would throw them away. False once it may close.
    bool Draining(Clock::time_point now)
    {
        if (!drainUntil_)
            drainUntil_ = now + kDrainLimit;
        return !unplugNow_ && now < *drainUntil_ && Unread();
    }

    // Until the next thing the loop has to do without being woken by a descriptor.
    int PollTimeout(Clock::time_point now, bool draining) const
    {
        auto deadline = Clock::time_point::max();
        if (now < retryAt_)
            deadline = retryAt_;
        else if (!queue_.empty() && now < nextWrite_)
            deadline = nextWrite_;
        if (reg_.InputPending())
            deadline = std::min(deadline, lastInput_ + kLineIdleGap);
        if (draining)
            deadline = std::min(deadline, now + kDrainPoll);
        if (deadline == Clock::time_point::max())
            return -1;
        const auto left = std::chrono::ceil<Ms>(deadline - now).count();
        return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
    }

    // SIGUSR1 pulls the plug at once; any other signal that arrives ends the program.
    bool StopSignalled(short revents)
    {
        if (!(revents & POLLIN))
            return false;
        char sig = 0;
        while (read(g_signalPipe[0], &sig, 1) == 1) {
            if (sig != SIGUSR1)
                return true;
            reg_.HangUp();
            unplugNow_ = true;
            queue_.clear(); // an unplugged regulator finishes nothing
        }
        return false;
    }

    static bool StdinEnded(short revents)
    {
        if (!revents)
            return false;
        char buf[256];
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        return n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN);
    }

    void ServeLine(short revents, bool wantWrite)
    {
        if (revents & (POLLIN | POLLHUP | POLLERR))
            ReadSome();
        if (wantWrite && (revents & POLLOUT))
            WriteSome();
        if (reg_.InputPending() && Clock::now() - lastInput_ >= kLineIdleGap)
            reg_.LineIdle();
    }

    void ReadSome()
    {
        uint8_t buf[kReadChunk];
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0) {
            lastInput_ = Clock::now();
            if (opt_.verbose)
                std::fprintf(stderr, "regsim: <- %s\n", Hex(buf, static_cast<size_t>(n)).c_str());
            reg_.Feed(buf, static_cast<size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            // No one on the other side (EIO, hang-up): wait instead of spinning.
            retryAt_ = Clock::now() + kRetryAfterError;
        }
    }

    void WriteSome()
    {
        Bytes& head = queue_.front();
        const size_t want = opt_.pace ? 1 : head.size() - headPos_;
        const ssize_t n = write(fd_, head.data() + headPos_, want);
        if (n < 0) {
            if (errno != EAGAIN && errno != EINTR)
                retryAt_ = Clock::now() + kRetryAfterError;
            return;
        }
        const auto now = Clock::now();
        headPos_ += static_cast<size_t>(n);
        if (opt_.pace)
            nextWrite_ = std::max(nextWrite_, now) + byteTime_ * n;
        if (headPos_ == head.size()) {
            queue_.pop_front();
            headPos_ = 0;
            if (opt_.faults.chunkSize > 0)
                nextWrite_ = std::max(nextWrite_, now + Ms(opt_.chunkDelayMs));
        }
    }

    // Bytes sent but not yet taken by the other side. On a pseudo-terminal, poll() on the slave is
    // asked rather than FIONREAD: it first pushes bytes still on their way from the master.
    bool Unread() const
    {
        int n = 0;
        if (slaveFd_ >= 0) {
            pollfd p{slaveFd_, POLLIN, 0};
            return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
        }
        return fd_ >= 0 && ioctl(fd_, TIOCOUTQ, &n) == 0 && n > 0;
    }

    const ServerOptions& opt_;
    const std::chrono::microseconds byteTime_;
    Regulator reg_;
    std::deque<Bytes> queue_;
    size_t headPos_ = 0;
    int fd_ = -1;
    int slaveFd_ = -1;
    std::string peerPath_;
    bool linked_ = false;
    bool unplugNow_ = false;
    std::optional<Clock::time_point> drainUntil_;
    Clock::time_point lastInput_;
    Clock::time_point nextWrite_;
    Clock::time_point retryAt_ = Clock::time_point::min(); // after EIO: leave the line alone
    FILE* record_ = nullptr;
};

} // namespace

const char* UsageText()
{
    return "usage: regsim [options] [faults]\n"
           "Simulated regulator on a new pseudo-terminal; prints the slave's path on stdout.\n"
           "  --file F           regulator description (default: the built-in demo regulator)\n"
           "  --link PATH        make PATH a symbolic link to the slave; removed at exit\n"
           "  --device PATH      answer on this serial device instead of a pseudo-terminal\n"
           "  --pace             send at the line's real speed (600 baud, 8 data bits)\n"
           "  --stop-bits 1|2    stop bits for --pace and --device (default 1)\n"
           "  --record F         write every recognised message to F, one line each\n"
           "  --verbose          log traffic to stderr\n"
           "  --exit-on-stdin-eof  also end when stdin closes\n"
           "faults:\n"
           "  --silent           answer nothing\n"
           "  --mute KINDS       leave these unanswered: wake-up,read,presence,write,log\n"
           "  --garbage HEX      send these bytes before every reply, e.g. 00,13,7F\n"
           "  --chunk N          send replies in pieces of N bytes\n"
           "  --chunk-delay MS   pause between pieces (default 20)\n"
           "  --bad-check N      wrong check byte on the next N data frames\n"
           "  --bad-check-always wrong check byte on every data frame\n"
           "  --write-end        answer a write with FC instead of FB\n"
           "  --ignore-writes    acknowledge writes but keep the block unchanged\n"
           "  --hangup-after N   close the line after N messages (SIGUSR1: at once)\n"
           "Ends on SIGTERM, SIGINT or SIGHUP, and after a hang-up.\n";
}

namespace {

// One argument of the command line; a value comes after '=' or as the next argument.
class Argument {
public:
    Argument(int argc, const char* const* argv, int& i, std::string& error)
        : name(argv[i]), argc_(argc), argv_(argv), i_(i), error_(error)
    {
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue_ = true;
        }
    }

    // False, with the error set, when the value is missing.
    bool Need()
    {
        if (hasValue_)
            return true;
        if (i_ + 1 >= argc_) {
            error_ = name + " needs a value";
            return false;
        }
        value = argv_[++i_];
        return true;
    }

    void Bad(const char* what)
    {
        error_ = "bad value for " + name + ": \"" + value + "\" (" + what + ")";
    }

    void Flag(bool& target)
    {
        if (hasValue_)
            error_ = name + " takes no value";
        target = true;
    }

    std::string name;
    std::string value;

private:
    const int argc_;
    const char* const* argv_;
    int& i_;
    std::string& error_;
    bool hasValue_ = false;
};

// False when the argument is not one of the program's own options.
bool ParseProgramOption(Argument& a, ServerOptions& o)
{
    using O = ServerOptions;
    const std::pair<const char*, std::string O::*> texts[] = {{"--file", &O::file},
                                                              {"--link", &O::link},
                                                              {"--device", &O::device},
                                                              {"--record", &O::record}};
    const std::pair<const char*, bool O::*> flags[] = {{"--pace", &O::pace},
                                                       {"--verbose", &O::verbose},
                                                       {"--exit-on-stdin-eof", &O::exitOnStdinEof}};
    for (const auto& [name, field] : texts) {
        if (a.name == name) {
            if (a.Need())
                o.*field = a.value;
            return true;
        }
    }
    for (const auto& [name, field] : flags) {
        if (a.name == name) {
            a.Flag(o.*field);
            return true;
        }
    }
    if (a.name != "--stop-bits")
        return false;
    if (a.Need()) {
        if (a.value == "1" || a.value == "2")
            o.stopBits = a.value[0] - '0';
        else
            a.Bad("1 or 2");
    }
    return true;
}

// False when the argument is not one of the faults.
bool ParseFaultOption(Argument& a, ServerOptions& o)
{
    const std::pair<const char*, bool Faults::*> flags[] = {
        {"--silent", &Faults::silent},
        {"--bad-check-always", &Faults::badCheckAlways},
        {"--write-end", &Faults::writeEndInsteadOfAck},
        {"--ignore-writes", &Faults::ignoreWrites}};
    for (const auto& [name, field] : flags) {
        if (a.name == name) {
            a.Flag(o.faults.*field);
            return true;
        }
    }
    int n = 0;
    if (a.name == "--mute") {
        if (a.Need() && !ParseMute(a.value, o.faults.mute))
            a.Bad("kinds: wake-up, read, presence, write, log");
    } else if (a.name == "--garbage") {
        if (a.Need() && !ParseHexList(a.value, o.faults.garbage))
            a.Bad("hex bytes");
    } else if (a.name == "--chunk") {
        if (a.Need() && !ParseInt(a.value, 1, 255, n))
            a.Bad("1..255");
        o.faults.chunkSize = static_cast<size_t>(n);
    } else if (a.name == "--chunk-delay") {
        if (a.Need() && !ParseInt(a.value, 0, 10'000, o.chunkDelayMs))
            a.Bad("0..10000 ms");
    } else if (a.name == "--bad-check") {
        if (a.Need() && !ParseInt(a.value, 1, 1'000'000, o.faults.badCheckFrames))
            a.Bad("a count from 1");
    } else if (a.name == "--hangup-after") {
        if (a.Need() && !ParseInt(a.value, 1, 1'000'000, n))
            a.Bad("a count from 1");
        o.faults.hangUpAfter = n;
    } else {
        return false;
    }
    return true;
}

} // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv)
{
    CommandLine cl;
    for (int i = 1; i < argc && cl.error.empty(); ++i) {
        Argument a(argc, argv, i, cl.error);
        if (a.name == "--help" || a.name == "-h")
            cl.help = true;
        else if (!ParseProgramOption(a, cl.options) && !ParseFaultOption(a, cl.options))
            cl.error = "unknown argument \"" + std::string(argv[i]) + "\"";
    }
    return cl;
}

int RunServer(const ServerOptions& options, const RegulatorData& data)
{
    Server server(options, data);
    return server.Run();
}

} // namespace regsim
