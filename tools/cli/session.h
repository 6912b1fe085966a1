#pragma once
// One run of korvalinex-cli against one regulator: the same connection cycle as the window, on the
// same timers, with a view that has no widgets. The session waits for the cycle to come to rest
// after each transaction and then takes the next step of its command.

#include "common/clock.h"
#include "link/usbdevices.h"
#include "models/backup.h"
#include "models/panelmodel.h"
#include "protocol/cycle.h"
#include "tools/cli/options.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class TsmlMsgLangRes;
class TCliView;

struct TCliEnv {
    IClock* clock = nullptr;
    ISerialPort* com = nullptr;
    IUsbLink* usb = nullptr;
    QString programDir; // with a trailing "/": Regulators/, Data/, the lookup files
    TimeSource now;     // for the names of backups
    std::function<void(const QString&)> out; // a line of results (stdout)
    std::function<void(const QString&)> err; // a line of errors and progress (stderr)
};

class TCliSession {
public:
    TCliSession(const TCliEnv& env, const TCliOptions& options, const TsmlMsgLangRes& messages);
    ~TCliSession();

    // Opens the link and starts the cycle; done() is called once with the exit status.
    void Start(std::function<void(int)> done);
    bool Finished() const { return status_.has_value(); }
    int Status() const { return status_.value_or(-1); }

    // Why the adapter that is there cannot be opened: said instead of "no adapter" when the link
    // cannot be opened.
    void UsbOpenProblem(const TUsbOpenProblem& problem) { usbProblem_ = problem; }

    TConnectionCycle& Cycle() { return *cycle_; }
    TPanelModel& Panel() { return panel_; }

private:
    friend class TCliView;
    enum class Phase { Connecting, Writing, ReadingBack, Defaulting, Logging, Done };

    // From the view.
    void Identified();
    void TransferButtons(bool on);
    void LinkError();
    void Lost();
    void LogProgress();

    void Settled(); // posted: the handler that enabled the buttons has returned
    bool Idle() const;
    void Connected(); // the first read is in: the command's own work begins
    void StartWrite(const QByteArray& expected);
    void CheckReadBack();
    void StartLog();
    void Finish(int status);
    // Nothing answers: a link that is gone by now is the reason rather than the regulator.
    void NoAnswer();
    void Error(const QString& text);
    QString Msg(const char* key) const;

    TCliEnv env_;
    TCliOptions options_;
    const TsmlMsgLangRes& messages_;
    std::unique_ptr<TCliView> view_;
    TPanelModel panel_;
    std::unique_ptr<TConnectionCycle> cycle_;
    std::unique_ptr<TBackupStore> backups_;
    std::function<void(int)> done_;
    std::optional<int> status_;
    Phase phase_ = Phase::Connecting;
    bool identified_ = false;
    QByteArray expected_; // the write payload the read-back must reproduce
    QString modelMissingText_;
    QString lastError_;
    TUsbOpenProblem usbProblem_;
    bool logFailed_ = false;
    IClock::Token deadline_, settle_, identifiedCheck_;
};
