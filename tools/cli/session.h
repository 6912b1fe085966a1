#pragma once
// One run of korvalinex-cli against one regulator: the same connection cycle as the window, on the
// same timers, with a view that has no widgets. The session waits for the cycle to come to rest
// after each transaction and then takes the next step of its command.

#include "common/clock.h"
#include "common/settings.h"
#include "link/usbdevices.h"
#include "models/backup.h"
#include "models/panelmodel.h"
#include "protocol/cycle.h"
#include "tools/cli/diff.h"
#include "tools/cli/options.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
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
    std::function<void(const QString&)> out;         // a line of results (stdout)
    std::function<void(const QString&)> err;         // a line of errors and progress (stderr)
    std::function<QString()> usbSerial;              // the serial number of the adapter opened
    std::function<void(const QByteArray&)> outBytes; // a file's bytes as the result (-o -)
};

class TCliSession final : private ICycleEvents {
public:
    TCliSession(const TCliEnv& env, const TCliOptions& options, const TsmlMsgLangRes& messages);
    ~TCliSession();

    // Opens the link and starts the cycle; done() is called once with the exit status.
    void Start(std::function<void(int)> done);
    // Ctrl-C or a request to end: the run ends at once, saying whether a write may have reached
    // the regulator.
    void Interrupt();
    // The device path or adapter the run uses, as its messages and backups name it.
    QString LinkName() const;
    bool Finished() const { return status_.has_value(); }
    int Status() const { return status_.value_or(-1); }

    // Why the adapter that is there cannot be opened: said instead of "no adapter" when the link
    // cannot be opened.
    void UsbOpenProblem(const TUsbOpenProblem& problem) { usbProblem_ = problem; }

    TConnectionCycle& Cycle() { return *cycle_; }
    TPanelModel& Panel() { return panel_; }
    // The errors said so far, for a report that carries them (JSON).
    const QStringList& Errors() const { return errors_; }

private:
    friend class TCliView;
    enum class Phase { Connecting, Writing, ReadingBack, Defaulting, Logging, Done };

    // ICycleEvents: what happened decides every next step.
    void Identified(const TIdentifiedEvent& event) override;
    void BlockRead(const TBlockReadEvent& event) override;
    void WriteAcknowledged(const TWriteTakenEvent& event) override;
    void WriteEnded(const TWriteTakenEvent& event) override;
    void LogEnded(const TLogEvent& event) override;
    void RegulatorLost() override;
    void TimeoutReset() override;
    void LinkError(const TLinkErrorEvent& event) override;
    void BusyChanged(bool busy) override;
    void Lost();

    void Settled(); // posted: the transaction has ended and its handler has returned
    bool Idle() const;
    void Connected(); // the first read is in: the command's own work begins
    void StartWrite(const QByteArray& expected);
    void CheckReadBack();
    void StartLog();
    // A general failure of diff is trouble (2), its 1 meaning "different"; diffResult: the
    // comparison's own status.
    void Finish(int status, bool diffResult = false);
    // The files of write and diff, read before the link is opened; false when the run has ended.
    bool ReadFiles();
    // After the identification, the panel built: does the file fit the regulator? False when the
    // run has ended.
    bool FileFitsRegulator();
    void Diff();
    void Write();
    // The settings sheet of the regulator as read, a file loaded over it as the window loads one.
    void Sheet();
    // What a backup's block puts back: its throttle limits and options.
    void PutBlockImage(const TBlockImage& image);
    // A parameter file's lines into the panel, as "Otevřít ..." loads them; false when a line
    // cannot be used (said on stderr).
    bool LoadLines(const QStringList& lines);
    // The regulator's settings as read, beside its panel.
    TSettingsSide RegulatorSide() const;
    // The write payload that the block as last read holds.
    QByteArray HeldPayload() const;
    // Nothing answers: a link that is gone by now is the reason rather than the regulator.
    void NoAnswer();
    void Error(const QString& text);
    // A write or reset was sent but its end not seen: the regulator may hold the new settings,
    // the old ones, or neither. Says so and where the backup is.
    void InDoubt();
    bool Sent() const;
    void Verbose(const QString& text) const;
    // The time-out of one run, or with --each of one regulator's service.
    void ArmDeadline();

    // write --each (line.cpp). A result that would end a run ends one regulator's service: its
    // line and record row, then the wait until it is gone; Ctrl-C ends the line with a summary.
    bool ServingLine() const { return options_.each && serving_; }
    void RegulatorServed(int status);
    // A reset of the cycle (lost, time-out, link error) while the line waits for the regulator
    // served to go.
    void LineReset();
    void Gone();
    void EndLine();
    void AppendRecord(int status);

    TCliEnv env_;
    TCliOptions options_;
    const TsmlMsgLangRes& messages_;
    TUserSettings settings_; // the link mode and language the cycle reads
    std::unique_ptr<TCliView> view_;
    TPanelModel panel_;
    std::unique_ptr<TConnectionCycle> cycle_;
    std::unique_ptr<TBackupStore> backups_;
    std::function<void(int)> done_;
    std::optional<int> status_;
    Phase phase_ = Phase::Connecting;
    bool identified_ = false;
    bool transactionDone_ = false; // a read, write or log ended since the last step was taken
    QByteArray expected_;          // the write payload the read-back must reproduce
    std::optional<TDiffFile> diffFile_;
    QStringList writeLines_; // the parameter file of a write
    QString modelMissingText_;
    QString lastError_;
    QStringList errors_;
    TUsbOpenProblem usbProblem_;
    bool logFailed_ = false;
    bool sent_ = false;                      // a write or reset has gone out
    QString backupPath_;                     // the backup made before it
    std::unique_ptr<QTemporaryDir> logTemp_; // the log on its way to stdout
    IClock::Token deadline_, settle_, identifiedCheck_;

    // write --each
    struct TLineCounts {
        int served = 0, done = 0, failed = 0, inDoubt = 0;
    };
    TLineCounts line_;
    bool serving_ = false;     // a regulator is being served
    bool waitingGone_ = false; // the one served is still there
    // Its model definition file was missing: the cycle resets by itself while it is there, so
    // only a quiet spell without its identification says it is gone.
    bool goneWhenQuiet_ = false;
    IClock::Token quiet_;
};
