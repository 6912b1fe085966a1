#pragma once
// The session's view of the cycle (tools/cli/session.cpp and session_files.cpp).

#include "tools/cli/report.h"
#include "tools/cli/session.h"

#include <QFileInfo>
#include <cmath>

// What the window would draw, kept as plain values for the reports. Nothing here decides
// anything: the session learns what happened from the cycle's events.
class TCliView final : public ICycleView {
public:
    TCliView(TCliSession& session, QString poles, QString ratio) : s_(session)
    {
        block_.poles = std::move(poles);
        block_.ratio = std::move(ratio);
        block_.maxRpmText = kValuePlaceholder;
    }
    const TBlockFields& Block() const { return block_; }
    void SetThrottle(double minMs, double maxMs)
    {
        block_.throttleMin = minMs;
        block_.throttleMax = maxMs;
    }

    TBlockFields Fields() const override { return block_; }
    void ShowFields(const TBlockFields& fields) override { block_ = fields; }
    void ShowIdentity(const TRegulatorIdentity* identity) override
    {
        identity_ = identity ? *identity : TRegulatorIdentity{};
        known_ = identity != nullptr;
    }
    void ShowConnected(bool) override {}
    void ShowReplyBuffer(const QString&) override {}
    void SetProgress(int, int) override {}
    void SetTransferButtonsEnabled(bool) override {}
    void SetRegulatorControlsEnabled(bool) override {}
    void ShowError(const QString& text) override { s_.Error(text); }
    void ReportError(const QString& text) override { s_.Error(text); }
    // The log download's progress line. A log on its way to stdout names that, not the file it
    // passes through, which is gone when the run ends.
    void ShowProgressHint(const QString& text) override
    {
        if (s_.options_.verbosity >= kNormal)
            s_.env_.err(s_.logTemp_ ? QString(text).replace(
                                          QFileInfo(s_.cycle_->EepromPath()).absoluteFilePath(),
                                          QStringLiteral("-"))
                                    : text);
    }

    TReadReport Report(const TPanelModel& panel) const
    {
        constexpr double kMicrosPerMilli = 1000.0;
        TReadReport r;
        r.name = known_ ? identity_.name : kNamePlaceholder;
        r.version = known_ ? identity_.version : kValuePlaceholder;
        r.date = known_ ? identity_.date : kDatePlaceholder;
        r.keepsLog = identity_.KeepsLog();
        r.throttleMinUs = int(std::lround(block_.throttleMin * kMicrosPerMilli));
        r.throttleMaxUs = int(std::lround(block_.throttleMax * kMicrosPerMilli));
        if (block_.maxRpmEnabled)
            r.maxRpm = block_.maxRpmText;
        r.poles = block_.poles;
        r.ratio = block_.ratio;
        r.panel = &panel;
        return r;
    }

private:
    TCliSession& s_;
    TRegulatorIdentity identity_;
    bool known_ = false;
    TBlockFields block_;
};
