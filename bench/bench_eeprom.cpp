// A long EEPROM log download from the unpaced simulator: the time each record costs at the start
// and at the end of 5000 records, over the USB link (the download runs as one loop) and over the
// COM port (one record per reception). Each record is appended to EEPROM.txt and handed to the
// disk. The cost per record must not grow with the length of the log.
//
//     ./build/bench/bench_eeprom [records]

#include "common/clock.h"
#include "common/settings.h"
#include "i18n/msglangres.h"
#include "protocol/cycle.h"
#include "tests/support/plainview.h"
#include "tests/support/simusb.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The window as far as a download touches it: the hint panel marks each stored record.
class TimingView final : public TPlainView {
public:
    std::vector<Clock::time_point> marks;
    void ShowError(const QString& t) override { std::fprintf(stderr, "%s\n", qPrintable(t)); }
    void ReportError(const QString& t) override { ShowError(t); }
    void ShowProgressHint(const QString& text) override
    {
        hint = text;
        marks.push_back(Clock::now());
    }
};

class NoPanel final : public IParameterPanel {
public:
    void BuildParameterPanel(const ModelContext&) override {}
    void RelabelParameterPanel(const ModelContext&) override {}
    void ClearParameterPanel() override {}
    bool ModelFileMissing() const override { return false; }
    double Multiplier(int) const override { return 0; }
    int MultiplierCount() const override { return 0; }
    int DisplayCount() const override { return 0; }
    QString DisplayText(int) const override { return {}; }
    void SetDisplayText(int, const QString&) override {}
    int GroupCount() const override { return 0; }
    int ItemCount(int) const override { return 0; }
    int ItemIndex(int) const override { return -1; }
    void SetItemIndex(int, int) override {}
    void SetItemColours(int, int) override {}
    bool GroupEnabled(int) const override { return false; }
    void SetGroupEnabled(int, bool) override {}
    int ActiveOptionCount() const override { return 0; }
    void SetActiveOptionCount(int) override {}
    QByteArray UnassignedBytes() const override { return {}; }
    void SetUnassignedBytes(const QByteArray&) override {}
};

// Replies come back on the next turn of virtual time, without the line's pace.
class UnpacedPort final : public ISerialPort {
public:
    UnpacedPort(VirtualClock& clock, regsim::Regulator& sim) : clock_(clock), sim_(sim) {}
    bool Active() const override { return true; }
    void SetReceiver(TSerialReceiver receiver) override { receiver_ = std::move(receiver); }
    void OpenComPort(const QString&) override {}
    int SendString(const QByteArray& bytes) override
    {
        const regsim::Bytes r =
            sim_.Feed(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size());
        const QByteArray reply(reinterpret_cast<const char*>(r.data()), qsizetype(r.size()));
        pending_ = clock_.After(0, [this, reply] { receiver_.bytes(reply); });
        return int(bytes.size());
    }

private:
    VirtualClock& clock_;
    regsim::Regulator& sim_;
    IClock::Token pending_;
    TSerialReceiver receiver_;
};

regsim::RegulatorData LongLog(int records)
{
    regsim::RegulatorData data;
    data.name = "BENCH";
    data.version = "V.03a";
    data.flags = 0x80;
    for (int i = 0; i < records; ++i)
        data.log.push_back(
            {uint8_t(1 + i % 7), uint8_t(i >> 8), uint8_t(i), 0x7F, 0xFE, 0x10, 0x00, 0x22});
    return data;
}

double MicrosPerRecord(const std::vector<Clock::time_point>& m, size_t from, size_t to)
{
    return std::chrono::duration<double, std::micro>(m[to] - m[from]).count() / double(to - from);
}

bool Run(const char* link, int records)
{
    QTemporaryDir dir;
    VirtualClock clock;
    TsmlMsgLangRes messages;
    TimingView view;
    NoPanel panel;
    regsim::Regulator sim(LongLog(records));
    TSimUsb usb(sim);
    UnpacedPort com(clock, sim);
    TUserSettings settings;
    settings.device = QString::fromLatin1(link);
    TConnectionCycle cycle(clock, view, panel, messages, settings, com, usb,
                           dir.path() + QLatin1Char('/'));

    const auto start = Clock::now();
    cycle.StartLogDownload();
    while (cycle.State().logPending && clock.Step(1000)) {
    }
    const double total = std::chrono::duration<double>(Clock::now() - start).count();

    // Marks: one at the start, one per stored record, one at the end.
    const size_t stored = view.marks.size() >= 2 ? view.marks.size() - 2 : 0;
    QFile file(cycle.EepromPath());
    file.open(QIODevice::ReadOnly);
    const QByteArray content = file.readAll();
    const bool ok = int(stored) == records && content.count("\r\n") == records + 1;
    const size_t window = std::min<size_t>(500, stored / 2);
    std::printf("%-3s %d records in %.3f s, %.1f us per record: first %zu %.1f us, last %zu %.1f "
                "us; file %lld bytes%s\n",
                link, records, total, total * 1e6 / records, window,
                MicrosPerRecord(view.marks, 1, 1 + window), window,
                MicrosPerRecord(view.marks, stored + 1 - window, stored + 1),
                static_cast<long long>(content.size()), ok ? "" : "  INCOMPLETE");
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const int records = argc > 1 ? std::atoi(argv[1]) : 5000;
    const bool usb = Run("USB", records);
    const bool com = Run("COM", records);
    return usb && com ? 0 : 1;
}
