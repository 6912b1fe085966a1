// The regsim program end to end: started as a process, reached through its pseudo-terminal the way
// the Korvalinex program reaches a serial port. Every wait is a poll() with a deadline.

#include "tools/regsim/regulator.h"

#include <QTemporaryDir>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using regsim::Bytes;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kPatience = std::chrono::seconds(10);

int MsLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Reads until n bytes have come, the deadline passes or the other side is gone.
Bytes ReadBytes(int fd, size_t n, Clock::time_point deadline = Clock::now() + kPatience)
{
    Bytes out;
    while (out.size() < n) {
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, MsLeft(deadline));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        uint8_t buf[256];
        const ssize_t got = read(fd, buf, std::min(sizeof buf, n - out.size()));
        if (got <= 0)
            break;
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

void WriteBytes(int fd, const Bytes& bytes)
{
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// True when the line reports a hang-up (or end of file) before the deadline.
bool SeesHangUp(int fd)
{
    const auto deadline = Clock::now() + kPatience;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, MsLeft(deadline));
        if (r <= 0)
            return false;
        if (p.revents & (POLLHUP | POLLERR))
            return true;
        uint8_t buf[64];
        if (read(fd, buf, sizeof buf) <= 0)
            return true;
    }
}

class RegsimProcess {
public:
    explicit RegsimProcess(std::vector<std::string> args)
    {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&fa, err[1], STDERR_FILENO);
        args.insert(args.begin(), KX_REGSIM_PROGRAM);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, KX_REGSIM_PROGRAM, &fa, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }

    ~RegsimProcess()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }

    bool Started() const { return pid_ > 0; }

    // The slave path: the first line on stdout.
    std::string FirstLine()
    {
        std::string line;
        const auto deadline = Clock::now() + kPatience;
        for (;;) {
            const Bytes b = ReadBytes(out_, 1, deadline);
            if (b.empty() || b[0] == '\n')
                return line;
            line += static_cast<char>(b[0]);
        }
    }

    void Signal(int sig) { kill(pid_, sig); }

    // Waits for the end of the process (its stdout closes) and returns the exit code, or -1.
    int Wait()
    {
        const auto deadline = Clock::now() + kPatience;
        while (!ReadBytes(out_, 1, deadline).empty()) {
        }
        if (Clock::now() >= deadline)
            return -1;
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Stderr()
    {
        const Bytes b = ReadBytes(err_, 65536, Clock::now() + std::chrono::seconds(2));
        return std::string(b.begin(), b.end());
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

bool IsSymlinkTo(const std::string& link, const std::string& target)
{
    char buf[4096];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf);
    return n > 0 && std::string(buf, static_cast<size_t>(n)) == target;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

Bytes Text(const char* s) { return Bytes(s, s + std::char_traits<char>::length(s)); }

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kWake(10, 0x55);
const Bytes kRead{0xFC, 0x01, 0x02};
const Bytes kDemoIdent =
    Cat({{0xFE, 0x21}, Text("KVX-40 OPTO     "), Text(" V.03a 12.10.26 "), {0x80, 0x0B}});
const Bytes kDemoRead{0xFE, 0x0F, 0x07, 0xD0, 0x04, 0x4C, 0x0F, 0x00, 0x76,
                      0x2A, 0x03, 0x02, 0x01, 0x03, 0x01, 0x04, 0x02, 0x39};

} // namespace

TEST(RegsimProgram, AnswersOnItsPseudoTerminalAndTidiesUp)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string link = dir.filePath("regulator").toStdString();
    RegsimProcess p({"--file", KX_REGSIM_DEMO_FILE, "--link", link});
    ASSERT_TRUE(p.Started());
    const std::string slave = p.FirstLine();
    ASSERT_FALSE(slave.empty());
    EXPECT_TRUE(IsSymlinkTo(link, slave));

    int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    WriteBytes(fd, kWake);
    EXPECT_EQ(ReadBytes(fd, kDemoIdent.size()), kDemoIdent);
    close(fd);

    // The program closes and reopens the port between attempts; the simulator must stay usable.
    fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    WriteBytes(fd, kRead);
    EXPECT_EQ(ReadBytes(fd, kDemoRead.size()), kDemoRead);

    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_FALSE(Exists(link));
    EXPECT_TRUE(SeesHangUp(fd));
    close(fd);
}

// The slave is raw from the start: bytes that a cooked line would eat or change (^C, CR, LF,
// XON, XOFF, DEL) must reach the regulator unchanged even if the opener never sets the line up.
TEST(RegsimProgram, LineIsRawAndWritesAreRecorded)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string record = dir.filePath("record.txt").toStdString();
    RegsimProcess p({"--record", record});
    ASSERT_TRUE(p.Started());
    const int fd = open(p.FirstLine().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);

    WriteBytes(fd, {0xFE, 0x0A, 0x05, 0xDC, 0x04, 0x00, 0x03, 0x0D, 0x11, 0x13, 0x7F, 0x0A, 0x50});
    EXPECT_EQ(ReadBytes(fd, 1), Bytes{0xFB});
    WriteBytes(fd, kRead);
    EXPECT_EQ(ReadBytes(fd, 18), (Bytes{0xFE, 0x0F, 0x05, 0xDC, 0x04, 0x00, 0x0F, 0x00, 0x76, 0x2A,
                                        0x03, 0x03, 0x0D, 0x11, 0x13, 0x7F, 0x0A, 0x05}));
    p.Signal(SIGINT);
    EXPECT_EQ(p.Wait(), 0);
    close(fd);

    std::ifstream in(record);
    std::string line1, line2;
    std::getline(in, line1);
    std::getline(in, line2);
    EXPECT_EQ(line1, "write ok 05 DC 04 00 03 0D 11 13 7F 0A");
    EXPECT_EQ(line2, "read");
}

// Whatever the sending mode, the bytes on the line are the same.
TEST(RegsimProgram, PacedAndChunkedOutputKeepsTheBytes)
{
    const std::vector<std::vector<std::string>> modes = {
        {"--pace"},
        {"--pace", "--stop-bits", "2"},
        {"--chunk", "7", "--chunk-delay", "5"},
    };
    for (const auto& args : modes) {
        SCOPED_TRACE(args[0] + " " + (args.size() > 1 ? args[1] : ""));
        RegsimProcess p(args);
        ASSERT_TRUE(p.Started());
        const int fd = open(p.FirstLine().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        WriteBytes(fd, kWake);
        EXPECT_EQ(ReadBytes(fd, kDemoIdent.size()), kDemoIdent);
        close(fd);
    }
}

TEST(RegsimProgram, FaultFlagsReachTheLine)
{
    RegsimProcess p({"--garbage", "00,13", "--bad-check", "1", "--mute", "presence"});
    ASSERT_TRUE(p.Started());
    const int fd = open(p.FirstLine().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);

    WriteBytes(fd, kWake);
    Bytes bad = ReadBytes(fd, 2 + kDemoIdent.size());
    ASSERT_EQ(bad.size(), 2 + kDemoIdent.size());
    EXPECT_EQ(bad[0], 0x00);
    EXPECT_EQ(bad[1], 0x13);
    EXPECT_NE(bad.back(), kDemoIdent.back());

    WriteBytes(fd, {0xFC, 0x01, 0x03}); // muted: nothing comes
    WriteBytes(fd, kWake);
    EXPECT_EQ(ReadBytes(fd, 2 + kDemoIdent.size()), Cat({{0x00, 0x13}, kDemoIdent}));
    close(fd);
}

TEST(RegsimProgram, HangUpClosesTheLineAndRemovesTheLink)
{
    for (const bool bySignal : {false, true}) {
        SCOPED_TRACE(bySignal ? "SIGUSR1" : "--hangup-after 1");
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const std::string link = dir.filePath("regulator").toStdString();
        std::vector<std::string> args = {"--link", link};
        if (!bySignal)
            args.insert(args.end(), {"--hangup-after", "1"});
        RegsimProcess p(args);
        ASSERT_TRUE(p.Started());
        const int fd = open(p.FirstLine().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        WriteBytes(fd, kWake);
        EXPECT_EQ(ReadBytes(fd, kDemoIdent.size()), kDemoIdent);
        if (bySignal)
            p.Signal(SIGUSR1);
        EXPECT_TRUE(SeesHangUp(fd));
        EXPECT_EQ(p.Wait(), 0);
        EXPECT_FALSE(Exists(link));
        close(fd);
    }
}

TEST(RegsimProgram, RefusesBadStartsClearly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string badFile = dir.filePath("bad.regsim").toStdString();
    std::ofstream(badFile) << "name = A\nversion = V.02\nspeed = fast\n";
    const std::string plainFile = dir.filePath("taken").toStdString();
    std::ofstream(plainFile) << "keep me";

    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string stderrPart;
    } cases[] = {
        {{"--stop-bits", "3"}, 2, "bad value for --stop-bits"},
        {{"--chunk"}, 2, "--chunk needs a value"},
        {{"--mute", "everything"}, 2, "bad value for --mute"},
        {{"--pace=yes"}, 2, "--pace takes no value"},
        {{"--bogus"}, 2, "unknown argument \"--bogus\""},
        {{"--file", badFile}, 1, badFile + ":3: not a number for speed"},
        {{"--file", dir.filePath("none").toStdString()}, 1, "cannot open"},
        {{"--link", plainFile}, 1, "exists and is not a symbolic link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        RegsimProcess p(c.args);
        ASSERT_TRUE(p.Started());
        EXPECT_EQ(p.Wait(), c.exitCode);
        const std::string err = p.Stderr();
        EXPECT_NE(err.find(c.stderrPart), std::string::npos) << err;
    }
    std::ifstream kept(plainFile);
    std::string content;
    std::getline(kept, content);
    EXPECT_EQ(content, "keep me");
}

// A harness that dies leaves no simulator behind when it asked for this.
TEST(RegsimProgram, EndsWithStdinWhenAsked)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string link = dir.filePath("regulator").toStdString();
    RegsimProcess p({"--exit-on-stdin-eof", "--link", link}); // stdin is /dev/null
    ASSERT_TRUE(p.Started());
    EXPECT_FALSE(p.FirstLine().empty());
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_FALSE(Exists(link));
}
