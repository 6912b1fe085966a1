// The real program as a process (offscreen):
//  - start-up to the window shown, and resident memory after start-up, beside an empty Qt Widgets
//    window built the same way, the same at the program's size, and that with one label. "Shown" is
//    the first paint event that reaches the top-level window, announced by the hook of
//    shell/shownhook.h with its CLOCK_MONOTONIC time; the start is taken just before the process is
//    spawned, and the hook's "main" line splits off the loader's part. Memory is VmRSS one second
//    after that paint.
//  - CPU of the idle program over a span (default 60 s) from /proc/<pid>/stat (utime + stime,
//    all threads) and, finer, the sum of the threads' schedstat run times: connected over COM
//    (pseudo-terminal, paced regsim) and over USB (the emulated chip with the real libftdi, paced
//    regsim); after an unplug on each; with USB as link mode and no adapter (the real libusb).
// Run: bench_proc <dist dir> <emptywindow> <ftdiemu dir> [idle seconds] [start-up runs]
// scripts/bench.sh prepares the dist folder.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

int64_t MonoNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Child {
    pid_t pid = -1;
    int out = -1; // its stdout
};

Child Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            const std::string& dir, bool pipeOut)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    for (const std::string& kv : extraEnv) {
        const std::string key = kv.substr(0, kv.find('=') + 1);
        env.erase(std::remove_if(env.begin(), env.end(),
                                 [&](const std::string& s) { return s.rfind(key, 0) == 0; }),
                  env.end());
        env.push_back(kv);
    }
    std::vector<char*> a, e;
    for (const std::string& s : argv)
        a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    for (const std::string& s : env)
        e.push_back(const_cast<char*>(s.c_str()));
    e.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    int pipefd[2] = {-1, -1};
    if (pipeOut) {
        if (pipe(pipefd) != 0)
            std::exit(1);
        posix_spawn_file_actions_adddup2(&fa, pipefd[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&fa, pipefd[0]);
    }
    const int nullFd = open("/dev/null", O_WRONLY);
    posix_spawn_file_actions_adddup2(&fa, nullFd, STDERR_FILENO);
    if (!pipeOut)
        posix_spawn_file_actions_adddup2(&fa, nullFd, STDOUT_FILENO);
    if (!dir.empty())
        posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    Child c;
    if (posix_spawn(&c.pid, a[0], &fa, nullptr, a.data(), e.data()) != 0) {
        std::fprintf(stderr, "cannot start %s\n", a[0]);
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&fa);
    close(nullFd);
    if (pipeOut) {
        close(pipefd[1]);
        c.out = pipefd[0];
    }
    return c;
}

void Stop(Child& c)
{
    if (c.pid <= 0)
        return;
    kill(c.pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(c.pid, nullptr, WNOHANG) == c.pid) {
            c.pid = -1;
            break;
        }
        SleepMs(20);
    }
    if (c.pid > 0) {
        kill(c.pid, SIGKILL);
        waitpid(c.pid, nullptr, 0);
        c.pid = -1;
    }
    if (c.out >= 0)
        close(c.out);
    c.out = -1;
}

// The hook's lines from the child's stdout: "main <ns>" (0 when the child does not announce it)
// and "shown <ns>" (0 when it never came).
struct Marks {
    int64_t main = 0, shown = 0;
};

Marks WaitShown(const Child& c, int limitMs)
{
    std::string buf;
    Marks m;
    const auto mark = [&](const char* word) -> int64_t {
        const size_t at = buf.find(word);
        if (at == std::string::npos || buf.find('\n', at) == std::string::npos)
            return 0;
        return std::atoll(buf.c_str() + at + std::strlen(word));
    };
    const int64_t end = MonoNs() + int64_t(limitMs) * 1'000'000;
    while (MonoNs() < end) {
        pollfd p{c.out, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char tmp[256];
        const ssize_t n = read(c.out, tmp, sizeof tmp);
        if (n <= 0)
            break;
        buf.append(tmp, size_t(n));
        m.main = mark("main ");
        m.shown = mark("shown ");
        if (m.shown)
            break;
    }
    return m;
}

long RssKb(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

// utime + stime of all threads, in clock ticks.
long CpuTicks(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t close = s.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(s.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::atol(field.c_str());
        if (i == 15)
            stime = std::atol(field.c_str());
    }
    return utime + stime;
}

// Time on the CPU of each thread, in ns (the first field of its schedstat), by thread id.
std::map<std::string, int64_t> ThreadNs(pid_t pid)
{
    std::map<std::string, int64_t> out;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(dir.c_str());
    if (!d)
        return out;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream f(dir + "/" + e->d_name + "/schedstat");
        long long ns = 0;
        if (f >> ns)
            out[e->d_name] = ns;
    }
    closedir(d);
    return out;
}

// What the threads alive now used since `before`. A thread that ended in between (an idle pool
// thread that expires, say) takes its time with it; the utime + stime figure still counts it.
int64_t NsSince(pid_t pid, const std::map<std::string, int64_t>& before)
{
    int64_t sum = 0;
    for (const auto& [tid, ns] : ThreadNs(pid)) {
        const auto was = before.find(tid);
        sum += ns - (was == before.end() ? 0 : was->second);
    }
    return sum;
}

std::string ReadText(const std::string& path)
{
    std::ifstream f(path);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

int Count(const std::string& text, const std::string& word)
{
    int n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Offscreen unless KX_BENCH_PLATFORM names another Qt platform (xcb: the X server of DISPLAY, as a
// user's desktop shows the window).
std::vector<std::string> StartEnv()
{
    const char* platform = std::getenv("KX_BENCH_PLATFORM");
    return {std::string("QT_QPA_PLATFORM=") + (platform && *platform ? platform : "offscreen"),
            "KORVALINEX_SHOWN_HOOK=1"};
}

// The program's window, whose size the references take on where they are "sized".
constexpr const char* kProgramWindowSize = "802x575";

void StartUp(const std::string& dist, const std::string& empty, int runs)
{
    const std::string dir = "/tmp/kx-bench-start";
    std::system(("rm -rf " + dir + " && cp -a '" + dist + "' " + dir).c_str());
    // USB as link mode, no adapter: the program's default, and nothing opens a port.
    WriteText(dir + "/setup.ini", "[SETUP]\r\nDEVICE=USB\r\nLANGUAGE=CZ\r\n");
    // Beside the required empty window, the same window at the program's size (its pixels are
    // memory too), and that one with one label (the first text loads the font system).
    const std::string label = empty.substr(0, empty.rfind('/') + 1) + "emptylabel";
    struct Subject {
        const char* name;
        std::vector<std::string> argv;
        std::vector<double> shown, own, rss;
    };
    std::vector<Subject> subjects = {
        {"program", {dir + "/korvalinex"}, {}, {}, {}},
        {"empty window", {empty}, {}, {}, {}},
        {"empty window, program's size", {empty, kProgramWindowSize}, {}, {}, {}},
    };
    if (::access(label.c_str(), X_OK) == 0)
        subjects.push_back({"one label, program's size", {label, kProgramWindowSize}, {}, {}, {}});
    for (int i = 0; i <= runs; ++i) { // run 0 warms the caches and creates the folders
        for (Subject& s : subjects) {
            const int64_t start = MonoNs();
            Child c = Spawn(s.argv, StartEnv(), dir, true);
            const Marks m = WaitShown(c, 20000);
            SleepMs(1000);
            const long rss = RssKb(c.pid);
            Stop(c);
            if (!m.shown) {
                std::printf("  %s: no paint seen\n", s.argv[0].c_str());
                continue;
            }
            if (i == 0)
                continue;
            s.shown.push_back((m.shown - start) / 1e6);
            s.own.push_back(m.main ? (m.shown - m.main) / 1e6 : 0);
            s.rss.push_back(rss / 1024.0);
        }
    }
    std::printf("start-up (%s, median of %d; shown = first paint event of the window; own = from "
                "main() to shown, without the loader):\n",
                StartEnv()[0].c_str() + std::strlen("QT_QPA_PLATFORM="), runs);
    const double tp = Median(subjects[0].shown), op = Median(subjects[0].own),
                 mp = Median(subjects[0].rss);
    for (const Subject& s : subjects) {
        const double t = Median(s.shown), o = Median(s.own), m = Median(s.rss);
        std::printf("  %-30s shown %6.1f ms (own %5.1f ms), VmRSS %5.1f MB", s.name, t, o, m);
        if (&s != &subjects[0])
            std::printf(" | program/this: time %.2f, own %.2f, memory %.2f", t > 0 ? tp / t : 0,
                        o > 0 ? op / o : 0, m > 0 ? mp / m : 0);
        std::printf("\n");
    }
    const double te = Median(subjects[1].shown), me = Median(subjects[1].rss);
    std::printf("  against the empty window: time %.2f %s, memory %.2f %s (goal <= 1.30 each)\n",
                te > 0 ? tp / te : 0, te > 0 && tp / te <= 1.3 ? "ok" : "MISS",
                me > 0 ? mp / me : 0, me > 0 && mp / me <= 1.3 ? "ok" : "MISS");
    if (subjects.size() > 3) {
        // What any window with text starts from: the label window against the empty ones.
        const double tl = Median(subjects[3].shown), ml = Median(subjects[3].rss);
        const double ts = Median(subjects[2].shown), ms = Median(subjects[2].rss);
        std::printf("  one line of text alone, against the empty window: time %.2f, memory %.2f; "
                    "against it at the program's size: time %.2f, memory %.2f\n",
                    te > 0 ? tl / te : 0, me > 0 ? ml / me : 0, ts > 0 ? tl / ts : 0,
                    ms > 0 ? ml / ms : 0);
    }
    std::fflush(stdout);
}

struct Scenario {
    std::string name;
    bool usb = false;
    bool adapter = true; // USB: the emulated chip is there
    bool unplug = false;
    std::string dir;
    Child sim, prog;
    bool ready = false;
    long ticks0 = 0;
    std::map<std::string, int64_t> ns0;
    int presence0 = 0;
};

void Idle(const std::string& dist, const std::string& ftdiemu, int seconds)
{
    const auto scenario = [](const char* name, bool usb, bool adapter, bool unplug) {
        Scenario s;
        s.name = name;
        s.usb = usb;
        s.adapter = adapter;
        s.unplug = unplug;
        return s;
    };
    std::vector<Scenario> all;
    all.push_back(scenario("COM, connected", false, true, false));
    all.push_back(scenario("USB (emulated chip), connected", true, true, false));
    all.push_back(scenario("COM, after an unplug", false, true, true));
    all.push_back(scenario("USB (emulated chip), after an unplug", true, true, true));
    all.push_back(scenario("USB link mode, no adapter", true, false, false));
    for (size_t i = 0; i < all.size(); ++i) {
        Scenario& s = all[i];
        s.dir = "/tmp/kx-bench-idle" + std::to_string(i);
        std::system(("rm -rf " + s.dir + " && cp -a '" + dist + "' " + s.dir).c_str());
        const std::string port = s.dir + "/port";
        std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen"};
        if (s.usb && s.adapter) {
            env.push_back("LD_LIBRARY_PATH=" + ftdiemu);
            env.push_back("KXEMU_PORT=" + port);
            env.push_back("KXEMU_PACE=1");
            env.push_back("KXEMU_UNPLUG_FILE=" + s.dir + "/unplugged");
        }
        if (!s.usb || s.adapter) {
            std::vector<std::string> args = {
                s.dir + "/regsim",     "--file", s.dir + "/demo.regsim", "--link", port, "--record",
                s.dir + "/record.txt", "--pace"};
            if (s.usb) {
                args.push_back("--stop-bits");
                args.push_back("2");
            }
            s.sim = Spawn(args, {}, s.dir, false);
            for (int t = 0; t < 50 && access(port.c_str(), F_OK) != 0; ++t)
                SleepMs(100);
        }
        WriteText(s.dir + "/setup.ini",
                  s.usb ? "[SETUP]\r\nDEVICE=USB\r\nLANGUAGE=CZ\r\n"
                        : "[SETUP]\r\nDEVICE=COM\r\nCOM=" + port + "\r\nLANGUAGE=CZ\r\n");
        s.prog = Spawn({s.dir + "/korvalinex"}, env, s.dir, false);
    }
    // Connected: the first presence query has come.
    for (int t = 0; t < 300; ++t) {
        bool all_ready = true;
        for (Scenario& s : all)
            if (s.adapter && !s.ready) {
                s.ready = Count(ReadText(s.dir + "/record.txt"), "presence") > 0;
                all_ready = all_ready && s.ready;
            }
        if (all_ready)
            break;
        SleepMs(100);
    }
    bool unplugged = false;
    for (Scenario& s : all) {
        if (!s.unplug)
            continue;
        unplugged = true;
        if (s.usb)
            WriteText(s.dir + "/unplugged", "");
        else
            kill(s.sim.pid, SIGUSR1); // the simulator hangs up and ends: the port is gone
    }
    if (unplugged)
        SleepMs(8000); // two presence queries without answer, then the reset
    for (Scenario& s : all) {
        s.ticks0 = CpuTicks(s.prog.pid);
        s.ns0 = ThreadNs(s.prog.pid);
        s.presence0 = Count(ReadText(s.dir + "/record.txt"), "presence");
    }
    const int64_t t0 = MonoNs();
    SleepMs(seconds * 1000);
    const double spanS = (MonoNs() - t0) / 1e9;
    const double tick = double(sysconf(_SC_CLK_TCK));
    std::printf("CPU of the idle program over %.0f s (presence query every 2.5 s), goal < 0.2 %% "
                "of one core:\n",
                spanS);
    for (Scenario& s : all) {
        const long ticks = CpuTicks(s.prog.pid) - s.ticks0;
        const double ns = double(NsSince(s.prog.pid, s.ns0));
        const int presence = Count(ReadText(s.dir + "/record.txt"), "presence") - s.presence0;
        const double pctTicks = ticks / tick / spanS * 100;
        const double pctNs = ns / 1e9 / spanS * 100;
        std::printf("  %-38s %6.3f %% (utime+stime %3ld ticks = %6.3f %%; %3d presence queries; "
                    "%s) %s\n",
                    s.name.c_str(), pctNs, ticks, pctTicks, presence,
                    s.ready || !s.adapter ? "was connected" : "NEVER CONNECTED",
                    std::max(pctNs, pctTicks) < 0.2 ? "ok" : "MISS");
    }
    for (Scenario& s : all) {
        Stop(s.prog);
        if (s.sim.pid > 0)
            Stop(s.sim);
        else if (s.sim.pid == -1) {
        }
    }
    // The hung-up simulators have ended on their own.
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: bench_proc <dist dir> <emptywindow> <ftdiemu dir> [idle seconds] "
                     "[start-up runs]\n");
        return 2;
    }
    const int seconds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 60;
    const int runs = argc > 5 ? std::max(1, std::atoi(argv[5])) : 5;
    const std::string what = std::getenv("KX_BENCH_PROC") ? std::getenv("KX_BENCH_PROC") : "";
    if (what.empty() || what == "start")
        StartUp(argv[1], argv[2], runs);
    if (what.empty() || what == "idle")
        Idle(argv[1], argv[3], seconds);
    return 0;
}
