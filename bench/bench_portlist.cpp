// Building the settings dialog's port list: the real /dev, and a folder of 32 serial names, each a
// link to a pseudo-terminal (every one opened, checked and locked by the probe).

#include "link/portlist.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <pty.h>
#include <unistd.h>
#include <vector>

static void BM_PortListOfThisMachine(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(BuildPortList({}, false, QString()));
}
BENCHMARK(BM_PortListOfThisMachine)->Unit(benchmark::kMillisecond);

static void BM_PortListOf32Ports(benchmark::State& state)
{
    QTemporaryDir dev;
    std::vector<int> masters;
    for (int i = 0; i < 32; ++i) {
        int master = -1, slave = -1;
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            state.SkipWithError("openpty failed");
            return;
        }
        ::close(slave);
        masters.push_back(master);
        QFile::link(QString::fromLocal8Bit(name), dev.filePath(QStringLiteral("ttyUSB%1").arg(i)));
    }
    size_t found = 0;
    for (auto _ : state)
        found = BuildPortList({dev.path(), dev.path(), QString()}, false, QString()).ports.size();
    state.counters["ports"] = static_cast<double>(found);
    for (int m : masters)
        ::close(m);
}
BENCHMARK(BM_PortListOf32Ports)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
