#pragma once
// The connection cycle without windows, for the fuzz targets: a view that only remembers what it
// was told, a panel of the demo regulator's shape, a COM port and a USB adapter whose answers come
// from the fuzzer's input, and virtual time.

#include "common/clock.h"
#include "common/settings.h"
#include "i18n/msglangres.h"
#include "protocol/cycle.h"
#include "protocol/eepromlog.h"
#include "tests/support/plainview.h"

#include <QByteArray>
#include <QStringList>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

using THeadlessView = TPlainView;

// Six option groups and three scaled display entries, as the demo regulator's model file builds.
class THeadlessPanel final : public IParameterPanel {
public:
    struct Group {
        int items = 0;
        int index = -1;
    };
    bool missing = false;
    QStringList displays;
    std::vector<Group> groups;
    int activeCount = -1;
    QByteArray unassigned;

    void BuildParameterPanel(const ModelContext& ctx) override
    {
        ClearParameterPanel();
        if (missing)
            return;
        displays = {kValuePlaceholder, kValuePlaceholder, kValuePlaceholder};
        multipliers_[1] = ctx.alternateScale ? 1 : 0.5;
        for (int items : {2, 4, 6, 4, 4, 2})
            groups.push_back(Group{items});
    }
    void RelabelParameterPanel(const ModelContext&) override {}
    void ClearParameterPanel() override
    {
        displays.clear();
        groups.clear();
    }
    bool ModelFileMissing() const override { return missing; }
    double Multiplier(int slot) const override
    {
        return slot >= 1 && slot <= 3 && !displays.isEmpty() ? multipliers_[slot - 1] : 0.0;
    }
    int MultiplierCount() const override { return displays.isEmpty() ? 0 : 3; }
    int DisplayCount() const override { return int(displays.size()); }
    QString DisplayText(int i) const override { return displays.at(i); }
    void SetDisplayText(int i, const QString& text) override { displays[i] = text; }
    int GroupCount() const override { return int(groups.size()); }
    int ItemCount(int g) const override { return groups.at(size_t(g)).items; }
    int ItemIndex(int g) const override { return groups.at(size_t(g)).index; }
    void SetItemIndex(int g, int index) override { groups.at(size_t(g)).index = index; }
    void SetItemColours(int g, int) override { (void)groups.at(size_t(g)); }
    bool GroupEnabled(int) const override { return true; }
    void SetGroupEnabled(int g, bool) override { (void)groups.at(size_t(g)); }
    int ActiveOptionCount() const override { return activeCount; }
    void SetActiveOptionCount(int n) override { activeCount = n; }
    QByteArray UnassignedBytes() const override { return unassigned; }
    void SetUnassignedBytes(const QByteArray& bytes) override { unassigned = bytes; }

private:
    double multipliers_[3] = {0.1, 0.5, 1};
};

// A serial port that takes every send, or fails every send while the line is gone.
class THeadlessPort final : public ISerialPort {
public:
    bool lineGone = false;
    bool present = true;
    QByteArray sent;
    bool Active() const override { return true; }
    void OpenComPort(const QString&) override {}
    int SendString(const QByteArray& bytes) override
    {
        if (lineGone)
            throw std::runtime_error("Error 5 Input/output error in function: WriteFile");
        sent += bytes;
        return int(bytes.size());
    }
    bool ReopenIfBack() override
    {
        if (present)
            lineGone = false;
        return present;
    }
};

// A USB adapter whose receives end after a while with what `next` hands them (the fuzzer's bytes),
// or with a failed read. Like the real link it never throws: a lost adapter shows in the ready
// check.
class THeadlessUsb final : public IUsbLink {
public:
    explicit THeadlessUsb(IClock& clock) : clock_(clock) {}
    bool present = true;
    std::function<UsbReadResult()> next;
    int readsInFlight = 0;

    bool UsbReadyCheck() override { return present; }
    void UsbSend(const QByteArray&) override {}
    void UsbReadAsync(int count, UsbReplyNeed, UsbReadDone done) override
    {
        UsbReadResult r = next ? next() : UsbReadResult{};
        r.bytes = r.bytes.left(count);
        ++readsInFlight;
        pending_.push_back(clock_.After(int(r.bytes.size()) * 17 + 5, [this, r, done] {
            --readsInFlight;
            done(r);
        }));
    }
    void UsbSetDataCharacteristics(int, int, int) override {}
    void UsbClose() override {}

private:
    IClock& clock_;
    std::vector<IClock::Token> pending_;
};

struct THeadlessCycle {
    VirtualClock clock;
    TsmlMsgLangRes messages;
    TUserSettings settings;
    THeadlessView view;
    THeadlessPanel panel;
    THeadlessPort port;
    THeadlessUsb usb{clock};
    QString dir;
    std::unique_ptr<TConnectionCycle> cycle;

    THeadlessCycle(const QString& programDir, bool overUsb, ISerialPort* com = nullptr)
        : dir(programDir)
    {
        settings.device = overUsb ? QStringLiteral("USB") : QStringLiteral("COM");
        cycle = std::make_unique<TConnectionCycle>(clock, view, panel, messages, settings,
                                                   com ? *com : port, usb, dir);
        cycle->ClearWorkingState();
        cycle->StartConnecting();
    }
    // Bytes from the line, by the link's own receive path.
    void Receive(const QByteArray& bytes)
    {
        if (settings.device == QLatin1String("COM"))
            cycle->OnSerialBytes(bytes);
    }
    // A click of the window: only while its button is enabled, after the exchange in flight, and
    // with what escapes it reported as the window does.
    void Click(void (TConnectionCycle::*handler)())
    {
        if (!view.buttons || (handler == &TConnectionCycle::StartLogDownload && !view.eeprom))
            return;
        cycle->WhenLinkIdle([this, handler] {
            try {
                ((*cycle).*handler)();
            } catch (const std::exception&) {
                ++view.reports;
            }
        });
    }
    bool AnyTimerRunning() const
    {
        TConnectionCycle& c = *cycle;
        return c.WakeUpTimer().Enabled() || c.PresenceTimer().Enabled() ||
               c.TimeoutTimer().Enabled() || c.WatchdogTimer().Enabled() || c.PortWatch().Enabled();
    }
};

// EEPROM.txt as the download writes it: one empty line, then one line of decimal byte values, each
// followed by a blank, per stored record. Returns the records, or false when the file is malformed.
inline bool ParseEepromFile(const QByteArray& text, std::vector<QByteArray>* records)
{
    if (!text.startsWith("\r\n"))
        return false;
    qsizetype pos = 2;
    while (pos < text.size()) {
        const qsizetype end = text.indexOf("\r\n", pos);
        if (end < 0)
            return false;
        QByteArray record;
        for (const QByteArray& v : text.mid(pos, end - pos).split(' ')) {
            if (v.isEmpty())
                continue;
            bool ok = false;
            const uint n = v.toUInt(&ok);
            if (!ok || n > 255)
                return false;
            record.append(char(n));
        }
        if (EepromRecordLine(record) != text.mid(pos, end + 2 - pos))
            return false;
        records->push_back(record);
        pos = end + 2;
    }
    return true;
}
