// korvalinex-cli in a workshop's batch: several regulators (regsim programs, each on a
// pseudo-terminal of its own, paced at the line's 600 baud), and the tool run once per regulator
// after the other, as a shell loop runs it. Per regulator and over the batch:
//   write                a parameter file that changes two option groups (backup, write,
//                        read-back check)
//   write --if-different the same file again: only identification and read, nothing written
//   diff                 the file against the regulator
//   write --dry-run      what the write would change, nothing sent
// Each figure is the wall time of one run of the program, from its start to its end; the batch's
// time beside the sum of its runs shows what the loop itself costs. --if-different against write
// shows what a workshop saves on regulators that already hold the set-up.
// Run: ./build/bench/bench_cli [regulators, default 4]  (about a minute for four)

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kLimitMs = 60'000;

QByteArray SourceFile(const QString& rel)
{
    QFile f(QStringLiteral(KX_SOURCE_DIR "/") + rel);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

struct Run {
    int status = -1;
    double ms = 0;
};

Run RunCli(const QStringList& args)
{
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(KX_CLI_PROGRAM), args);
    Run r;
    if (!p.waitForFinished(kLimitMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.ms = double(t.nsecsElapsed()) / 1e6;
    r.status = p.exitCode();
    return r;
}

struct Row {
    const char* name;
    QStringList args; // before the file and the port
    int status;       // what every run must end with
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;
    QTemporaryDir dir;
    const QString data = dir.path() + QLatin1Char('/');
    Write(data + QStringLiteral("Regulators/CZ/KVX-40 OPTO.ini"),
          SourceFile(QStringLiteral("data/Regulators/CZ/KVX-40 OPTO.ini")));
    for (const char* lookup : {"Teplota1.txt", "Teplota2.txt"})
        Write(data + QLatin1String(lookup), SourceFile(QStringLiteral("data/") + lookup));
    QDir().mkpath(data + QStringLiteral("Data"));
    // The demo holds items 1 0 2 0 3 1: this file changes the brake and the direction.
    const QString master = data + QStringLiteral("master.zeq");
    Write(master, "- - - - -\r\n- - - - -\r\n- - - - -\r\nData\r\n1\r\n3\r\n2\r\n0\r\n3\r\n0\r\n");

    std::vector<std::unique_ptr<QProcess>> regulators;
    QStringList links;
    for (int i = 0; i < count; ++i) {
        const QString link = data + QStringLiteral("ttyREG%1").arg(i);
        auto p = std::make_unique<QProcess>();
        p->start(QStringLiteral(KX_REGSIM_PROGRAM),
                 {QStringLiteral("--link"), link, QStringLiteral("--pace")});
        if (!p->waitForStarted(kLimitMs) || !p->waitForReadyRead(kLimitMs)) {
            std::fprintf(stderr, "regsim %d did not start\n", i);
            return 1;
        }
        links << link;
        regulators.push_back(std::move(p));
    }

    const Row rows[] = {
        {"write (2 groups change)", {QStringLiteral("write")}, 0},
        {"write --if-different (unchanged)",
         {QStringLiteral("write"), QStringLiteral("--if-different")},
         0},
        {"diff (the same)", {QStringLiteral("diff")}, 0},
        {"write --dry-run", {QStringLiteral("write"), QStringLiteral("--dry-run")}, 0},
    };
    std::printf("korvalinex-cli batch over %d paced regulators (COM, pseudo-terminals)\n", count);
    std::printf("| run | per regulator: min / median / max (ms) | median / write's | batch (ms) | "
                "batch / sum |\n");
    std::printf("|---|---|---|---|---|\n");
    double writeMedian = 0;
    int failures = 0;
    for (const Row& row : rows) {
        std::vector<double> times;
        QElapsedTimer batch;
        batch.start();
        for (const QString& link : links) {
            const Run r = RunCli(row.args + QStringList{master, QStringLiteral("--port"), link,
                                                        QStringLiteral("--data"), data});
            if (r.status != row.status) {
                std::fprintf(stderr, "%s on %s: status %d\n", row.name, qPrintable(link), r.status);
                ++failures;
            }
            times.push_back(r.ms);
        }
        const double total = double(batch.nsecsElapsed()) / 1e6;
        double sum = 0;
        for (double t : times)
            sum += t;
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        if (writeMedian == 0) // the first row
            writeMedian = median;
        std::printf("| %s | %.0f / %.0f / %.0f | %.2f | %.0f | %.3f |\n", row.name, times.front(),
                    median, times.back(), median / writeMedian, total, total / sum);
    }
    for (auto& p : regulators) {
        p->closeWriteChannel();
        p->terminate();
        if (!p->waitForFinished(5000))
            p->kill();
    }
    return failures == 0 ? 0 : 1;
}
