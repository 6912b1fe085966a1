// Worst cases of the parsers, each at several input sizes, with the cost per byte (or per section)
// beside that of the smallest size: a ratio that grows with the size is a rescan.
//  - noise that never forms a frame (no start byte), in receptions of 1 and 64 bytes and at once;
//  - frames split at every offset: receptions of 1 byte, and of 1, 2, 3, ... bytes in turn;
//  - a model definition file of up to 2000 sections: loading it, and building the panel from it.
// The parse runs as the window runs it: each reception is appended and parsed, and the reply
// buffer's caption (Label3) is rebuilt at the start of every run.
// Run: ./build/bench/bench_scaling

#include "i18n/msglangres.h"
#include "models/modelfile.h"
#include "models/parampanel.h"
#include "protocol/frames.h"
#include "protocol/replyparser.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScrollArea>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace {

class WindowLikeHandlers : public IReplyHandlers {
public:
    explicit WindowLikeHandlers(ProtocolState& state) : state_(state) {}
    long frames = 0;
    qsizetype captionChars = 0;
    void PresenceAcknowledged() override {}
    void WriteAcknowledged() override {}
    void WriteEndByte() override {}
    void LogRecord() override {}
    void LogFrameError() override {}
    void ReadReply() override
    {
        ++frames;
        state_.replyPayload.clear();
    }
    void IdentificationReply() override {}
    void ReplyBufferChanged(const ReplyBuffer& buffer) override
    {
        captionChars += ReplyBufferCaption(buffer).size();
    }

private:
    ProtocolState& state_;
};

QByteArray Noise(qsizetype size)
{
    std::mt19937 rng(7);
    QByteArray s(size, '\0');
    for (char& c : s) {
        auto b = static_cast<unsigned char>(rng());
        c = static_cast<char>(b == kFrameStart ? 0x55 : b);
    }
    return s;
}

QByteArray Frames(qsizetype size)
{
    std::mt19937 rng(11);
    QByteArray s;
    while (s.size() < size) {
        QByteArray payload(static_cast<int>(rng() % 256), '\0');
        for (char& b : payload)
            b = static_cast<char>(rng());
        s += BuildDataFrame(payload);
    }
    return s;
}

// chunk > 0: receptions of that size; 0: at once; -1: 1, 2, 3, ... 300 bytes in turn.
double ParseSeconds(const QByteArray& stream, int chunk, long* frames)
{
    const auto t0 = std::chrono::steady_clock::now();
    ProtocolState s;
    s.readPending = true;
    WindowLikeHandlers h(s);
    int next = 1;
    for (qsizetype at = 0; at < stream.size();) {
        qsizetype n = chunk > 0 ? chunk : chunk == 0 ? stream.size() : next;
        if (chunk < 0)
            next = next % 300 + 1;
        n = std::min(n, stream.size() - at);
        s.replyBuffer.Append(stream.mid(at, n));
        ParseReplyBuffer(s, h);
        at += n;
    }
    *frames = h.frames;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Row {
    qsizetype size;
    double perUnitNs;
};

void Report(const char* what, const char* unit, const std::vector<Row>& rows)
{
    std::printf("  %-44s", what);
    for (const Row& r : rows)
        std::printf("  %7lld: %8.1f ns/%s", static_cast<long long>(r.size), r.perUnitNs, unit);
    const double ratio = rows.back().perUnitNs / rows.front().perUnitNs;
    std::printf("  | largest/smallest %.2f %s\n", ratio, ratio < 2.0 ? "ok" : "GROWS");
    std::fflush(stdout);
}

void Parsers()
{
    // Receptions of one byte cost about 10 us each with the caption: smaller sizes keep the run
    // short; the others start above the caches.
    const std::vector<qsizetype> small = {1 << 16, 1 << 18, 1 << 20};
    const std::vector<qsizetype> large = {1 << 18, 1 << 20, 1 << 22};
    struct Case {
        const char* what;
        std::function<QByteArray(qsizetype)> make;
        int chunk;
    };
    const std::vector<Case> cases = {
        {"noise, never a frame, 1-byte receptions", Noise, 1},
        {"noise, never a frame, 64-byte receptions", Noise, 64},
        {"noise, never a frame, at once", Noise, 0},
        {"frames split at every offset (1-byte rec.)", Frames, 1},
        {"frames, receptions of 1..300 bytes in turn", Frames, -1},
        {"frames, at once", Frames, 0},
    };
    for (const Case& c : cases) {
        std::vector<Row> rows;
        for (qsizetype size : c.chunk == 1 ? small : large) {
            const QByteArray stream = c.make(size);
            long frames = 0;
            double best = 1e9;
            for (int rep = 0; rep < (c.chunk == 1 ? 1 : 3); ++rep)
                best = std::min(best, ParseSeconds(stream, c.chunk, &frames));
            rows.push_back({size, best * 1e9 / double(stream.size())});
        }
        Report(c.what, "B", rows);
    }
}

QByteArray ModelFile(int sections)
{
    // Short section names: the section list passes through a 16384-byte buffer.
    QByteArray text;
    for (int s = 0; s < sections - 1; ++s) {
        text += "[S" + QByteArray::number(s) + "]\r\n";
        const QByteArray key = QByteArray(1, char('A' + s % 26)) + QByteArray::number(s);
        text += key + "0=Volba " + QByteArray::number(s) + "\r\n";
        for (int i = 1; i <= 4; ++i)
            text += key + QByteArray::number(i) + "=Hodnota " + QByteArray::number(i) + "\r\n";
    }
    text += "[Hodnoty]\r\nG000=Napeti [V]:0,1\r\nG001=Proud [A]:0,5;1\r\n";
    return text;
}

void Models()
{
    QTemporaryDir dir;
    const std::vector<int> sizes = {250, 500, 1000, 2000};
    std::vector<Row> load, build;
    for (int n : sizes) {
        const QString path = dir.path() + "/Regulators/CZ/M" + QString::number(n) + ".ini";
        QDir().mkpath(dir.path() + "/Regulators/CZ");
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(ModelFile(n));
        f.close();

        double best = 1e9;
        qsizetype sections = 0;
        for (int rep = 0; rep < 3; ++rep) {
            TModelDefinition def;
            const auto t0 = std::chrono::steady_clock::now();
            def.Load(path);
            best = std::min(
                best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
            sections = def.SectionNames().size();
        }
        if (sections != n)
            std::printf("  (only %lld of %d sections seen)\n", static_cast<long long>(sections), n);
        load.push_back({n, best * 1e9 / n});

        QWidget panel1;
        QScrollArea area;
        area.resize(600, 400);
        TsmlMsgLangRes messages;
        TParameterPanel panel(
            &panel1, &area, messages, [](const QString&) {}, [](const QString&) {});
        const ModelContext ctx{dir.path() + "/", QStringLiteral("CZ"), "M" + QString::number(n),
                               false};
        best = 1e9;
        for (int rep = 0; rep < 2; ++rep) {
            const auto t0 = std::chrono::steady_clock::now();
            panel.BuildParameterPanel(ctx);
            best = std::min(
                best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
            panel.ClearParameterPanel();
        }
        build.push_back({n, best * 1e9 / n});
    }
    Report("model file: load", "sec", load);
    Report("model file: load and build the panel", "sec", build);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("parser worst cases, cost per byte or per section by input size (goal: largest / "
                "smallest < 2, i.e. no growth with the input):\n");
    Parsers();
    Models();
    return 0;
}
