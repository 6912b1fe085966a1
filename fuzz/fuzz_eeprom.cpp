// The EEPROM log download against the regulator simulator, whose log and line faults come from the
// fuzzer: records of any length and content, wrong check bytes on any of them, garbage before the
// replies and replies in pieces of any size. EEPROM.txt must end up holding, as whole lines, the
// records before the end mark in order (all of them when the wrong check bytes stayed within what
// one download allows and every record's reply fits the watchdog's interval, a leading part of
// them otherwise), and the cycle must go back to idle, at once or through a new identification.

#include "fuzzsupport.h"
#include "headless.h"
#include "tools/regsim/regfile.h"
#include "tools/regsim/regulator.h"

#include <algorithm>

namespace {
// The line time this rig gives a byte, and the bytes of a record's exchange beside its payload:
// the request, the frame start, length and check bytes, with room for a longer request.
constexpr int kMsPerLineByte = 17;
constexpr size_t kRecordOverhead = 8;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return FuzzInitialize(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    static const regsim::RegulatorData demo =
        regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo");
    QFile::remove(FuzzProgramDir() + kEepromFileName);

    std::vector<regsim::Bytes> log;
    const int records = in.ConsumeIntegralInRange<int>(0, 12);
    for (int i = 0; i < records; ++i) {
        const std::string r = in.ConsumeRandomLengthString(255);
        log.emplace_back(r.begin(), r.end());
    }
    const int badChecks = in.ConsumeIntegralInRange<int>(0, 5);
    const size_t chunk = in.ConsumeIntegralInRange<size_t>(0, 7);
    // Noise on the line, but none that opens a frame of its own.
    std::string garbage = in.ConsumeRandomLengthString(4);
    std::replace(garbage.begin(), garbage.end(), '\xFE', '\x00');
    regsim::RegulatorData regulator = demo;
    regulator.log = log;
    regsim::Regulator sim(regulator);

    THeadlessCycle* rigPtr = nullptr;
    struct Port final : ISerialPort {
        regsim::Regulator& sim;
        THeadlessCycle*& rig;
        Port(regsim::Regulator& s, THeadlessCycle*& r) : sim(s), rig(r) {}
        bool Active() const override { return true; }
        void OpenComPort(const QString&) override {}
        int SendString(const QByteArray& bytes) override
        {
            const regsim::Bytes reply =
                sim.Feed(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
            const QByteArray b(reinterpret_cast<const char*>(reply.data()),
                               qsizetype(reply.size()));
            // The reply comes back after the line time of the request, on the cycle's clock.
            pending.push_back(
                rig->clock.After(int(bytes.size() + b.size()) * kMsPerLineByte, [this, b] {
                    const qsizetype piece = chunkSize ? qsizetype(chunkSize) : b.size();
                    for (qsizetype i = 0; i < b.size(); i += piece)
                        rig->Receive(b.mid(i, piece));
                    sim.LineIdle();
                }));
            return int(bytes.size());
        }
        size_t chunkSize = 0;
        std::vector<IClock::Token> pending;
    } port(sim, rigPtr);
    THeadlessCycle rig(FuzzProgramDir(), false, &port);
    rigPtr = &rig;

    // Connected and idle, the log button shown.
    FUZZ_CHECK(rig.clock.AdvanceUntil(
        [&] { return rig.view.buttons && rig.view.eeprom && !rig.cycle->State().busy; }, 20000, 5));
    sim.faults().badCheckFrames = badChecks;
    sim.faults().garbage.assign(garbage.begin(), garbage.end());
    port.chunkSize = chunk;

    rig.Click(&TConnectionCycle::StartLogDownload);
    FUZZ_CHECK(rig.cycle->State().logPending);
    FUZZ_CHECK(rig.clock.AdvanceUntil([&] { return !rig.cycle->State().logPending; }, 120000, 5));
    // Idle again: at once after a download that ended normally, after the next identification when
    // the watchdog ended it (a record longer than the watchdog's 4 s of line time never comes
    // through whole, and the cycle starts over with the wake-up).
    FUZZ_CHECK(rig.clock.AdvanceUntil([&] { return rig.view.buttons && !rig.cycle->State().busy; },
                                      30000, 5));

    std::vector<QByteArray> expected;
    for (const regsim::Bytes& r : log) {
        if (!r.empty() && r[0] == 8)
            break;
        expected.emplace_back(reinterpret_cast<const char*>(r.data()), qsizetype(r.size()));
    }
    QFile f(FuzzProgramDir() + kEepromFileName);
    FUZZ_CHECK(f.open(QIODevice::ReadOnly));
    std::vector<QByteArray> stored;
    FUZZ_CHECK(ParseEepromFile(f.readAll(), &stored));
    FUZZ_CHECK(stored.size() <= expected.size());
    FUZZ_CHECK(std::equal(stored.begin(), stored.end(), expected.begin()));
    // Every record whole needs its reply within the watchdog's interval: a longer one (over about
    // 230 bytes here) is not waited for, and the watchdog's ticks end the download early.
    const bool repliesWithinWatchdog = std::all_of(log.begin(), log.end(), [](const auto& r) {
        return int(r.size() + kRecordOverhead) * kMsPerLineByte < kWatchdogInterval;
    });
    if (badChecks <= kLogErrorLimit && garbage.empty() && repliesWithinWatchdog)
        FUZZ_CHECK(stored == expected);
    return 0;
}
