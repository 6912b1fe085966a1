// Throughput of the reply parser on a megabyte of noise with data frames in between, delivered at
// once (a USB receive) and in small pieces (COM receive events).

#include "protocol/frames.h"
#include "protocol/replyparser.h"

#include <benchmark/benchmark.h>
#include <random>

namespace {

class CountingHandlers : public IReplyHandlers {
public:
    explicit CountingHandlers(ProtocolState& state) : state_(state) {}
    long frames = 0;
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
    void ReplyBufferChanged(const ReplyBuffer&) override {}

private:
    ProtocolState& state_;
};

const QByteArray& MixedMegabyte()
{
    static const QByteArray stream = [] {
        std::mt19937 rng(42);
        QByteArray s;
        while (s.size() < (1 << 20)) {
            const int noise = static_cast<int>(rng() % 512);
            for (int i = 0; i < noise; ++i) {
                const auto b = static_cast<unsigned char>(rng());
                s.append(static_cast<char>(b == kFrameStart ? 0 : b));
            }
            QByteArray payload(static_cast<int>(rng() % 256), '\0');
            for (char& b : payload)
                b = static_cast<char>(rng());
            s += BuildDataFrame(payload);
        }
        return s;
    }();
    return stream;
}

void BM_ParseMixedMegabyte(benchmark::State& st)
{
    const QByteArray& stream = MixedMegabyte();
    const qsizetype chunk = st.range(0) == 0 ? stream.size() : st.range(0);
    long frames = 0;
    for (auto _ : st) {
        ProtocolState s;
        s.readPending = true;
        CountingHandlers h(s);
        for (qsizetype at = 0; at < stream.size(); at += chunk) {
            s.replyBuffer.Append(stream.mid(at, chunk));
            ParseReplyBuffer(s, h);
        }
        frames = h.frames;
        benchmark::DoNotOptimize(frames);
    }
    st.counters["frames"] = static_cast<double>(frames);
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * stream.size());
}

} // namespace

// 0: the whole megabyte in one reception.
BENCHMARK(BM_ParseMixedMegabyte)->Arg(0)->Arg(7)->Arg(64)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
