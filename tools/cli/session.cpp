#include "tools/cli/session.h"
#include "tools/cli/cliview.h"

#include "common/atomicfile.h"
#include "common/readfile.h"
#include "diagnose/checks.h"
#include "i18n/msglangres.h"
#include "link/commconnect.h"
#include "models/paramfile.h"
#include "models/writecheck.h"
#include "protocol/eepromlog.h"
#include "protocol/frames.h"
#include "protocol/paramblock.h"
#include "tools/cli/report.h"
#include "tools/cli/sheet.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <sys/stat.h>

namespace {

constexpr int kMillisPerSecond = 1000;
const QString kDataFolder = QStringLiteral("Data");
constexpr mode_t kFolderMode = 0777; // narrowed by the umask

} // namespace

TCliSession::TCliSession(const TCliEnv& env, const TCliOptions& options,
                         const TsmlMsgLangRes& messages)
    : env_(env), options_(options), messages_(messages),
      view_(std::make_unique<TCliView>(*this, options.poles, options.ratio)),
      panel_(
          messages, [this](const QString& text) { modelMissingText_ = text; },
          [this](const QString& text) {
              // identify needs neither the model nor its folder: what is wrong with them is
              // nothing it failed at.
              if (options_.command != QLatin1String("identify"))
                  Error(text);
          })
{
    settings_.device = options.usb ? QStringLiteral("USB") : QStringLiteral("COM");
    settings_.language = options.language;
    cycle_ = std::make_unique<TConnectionCycle>(*env_.clock, *view_, panel_, messages_, settings_,
                                                *env_.com, *env_.usb, env_.programDir);
    cycle_->AddListener(this);
    cycle_->SetTimeSource(env_.now);
    backups_ = std::make_unique<TBackupStore>(
        env_.programDir, messages_, env_.now, [this](const QString& text) { Error(text); },
        [this](const QString& path) {
            backupPath_ = path;
            if (options_.verbosity >= kNormal)
                env_.err(messages_.Msg("str132").arg(path));
        });
    backups_->SetLink(LinkName());
    cycle_->SetOverwriteGuard(backups_.get());
}

TCliSession::~TCliSession()
{
    deadline_.reset();
    settle_.reset();
    cycle_.reset();
}

void TCliSession::Error(const QString& text)
{
    lastError_ = text;
    errors_ << text;
    env_.err(text);
}

void TCliSession::Verbose(const QString& text) const
{
    if (options_.verbosity >= kVerbose)
        env_.err(text);
}

QString TCliSession::LinkName() const
{
    if (options_.usb) {
        const QString serial = !options_.usbSerial.isEmpty() ? options_.usbSerial
                               : env_.usbSerial              ? env_.usbSerial()
                                                             : QString();
        return UsbBackupLink(serial).trimmed();
    }
    return options_.port;
}

bool TCliSession::Sent() const
{
    return sent_ && (phase_ == Phase::Writing || phase_ == Phase::ReadingBack ||
                     phase_ == Phase::Defaulting);
}

void TCliSession::InDoubt()
{
    Error(messages_.Msg("str231").arg(backupPath_));
    Finish(kExitInDoubt);
}

void TCliSession::Interrupt()
{
    if (status_)
        return;
    if (options_.each)
        return EndLine();
    if (Sent())
        return InDoubt();
    Error(messages_.Msg("str232"));
    Finish(kExitInterrupted);
}

void TCliSession::Finish(int status, bool diffResult)
{
    if (status_)
        return;
    if (ServingLine())
        return RegulatorServed(status);
    if (options_.command == QLatin1String("diff") && !diffResult && status == kExitFailure)
        status = kExitDiffTrouble;
    status_ = status;
    phase_ = Phase::Done;
    if (logTemp_) {
        QFile log(logTemp_->filePath(QStringLiteral("EEPROM.txt")));
        if (log.open(QIODevice::ReadOnly) && env_.outBytes)
            env_.outBytes(log.readAll());
        logTemp_.reset();
    }
    deadline_.reset();
    settle_.reset();
    identifiedCheck_.reset();
    // Nothing more goes out once the result is known.
    for (ITimer* t : {&cycle_->WakeUpTimer(), &cycle_->PresenceTimer(), &cycle_->TimeoutTimer(),
                      &cycle_->WatchdogTimer()})
        t->Stop();
    if (done_)
        done_(status);
}

void TCliSession::Start(std::function<void(int)> done)
{
    done_ = std::move(done);
    if (options_.throttleMin &&
        (*options_.throttleMin < kThrottleMinLow || *options_.throttleMin > kThrottleMinHigh)) {
        Error(messages_.Msg("str142"));
        return Finish(kExitUsage);
    }
    if (options_.throttleMax &&
        (*options_.throttleMax < kThrottleMaxLow || *options_.throttleMax > kThrottleMaxHigh)) {
        Error(messages_.Msg("str142"));
        return Finish(kExitUsage);
    }
    // The window's start-up makes Data; a folder given with --data may not have it yet. Should it
    // fail, the model's own folder below it cannot be made either: the reason is said here.
    const QString data = env_.programDir + kDataFolder;
    if (options_.command != QLatin1String("identify") && !QFileInfo(data).isDir() &&
        ::mkdir(QFile::encodeName(data).constData(), kFolderMode) != 0)
        Error(messages_.Msg("str241").arg(data, QString::fromLocal8Bit(std::strerror(errno))));
    if (!ReadFiles())
        return;
    cycle_->ClearWorkingState();
    if (options_.usb) {
        Verbose(messages_.Msg("str237").arg(LinkName()));
        if (!env_.usb->UsbReadyCheck()) {
            const char* advice = UsbProblemKeys(usbProblem_.kind).advice;
            if (advice)
                Error(messages_.Msg(advice).arg(usbProblem_.detail));
            else if (!options_.usbSerial.isEmpty())
                Error(messages_.Msg("str193").arg(options_.usbSerial));
            else
                Error(messages_.Msg("str141"));
            return Finish(kExitLinkError);
        }
    } else {
        try {
            Verbose(messages_.Msg("str237").arg(options_.port));
            env_.com->OpenComPort(options_.port);
        } catch (const EComError& e) {
            // What failed in the user's words; the serial component's own only when asked.
            Error(messages_.Msg("str235").arg(options_.port,
                                              PortOpenFailureText(e.Code(), messages_)));
            Verbose(QString::fromStdString(e.what()));
            return Finish(kExitLinkError);
        } catch (const std::exception& e) {
            Error(messages_.Msg("str235").arg(options_.port, QString::fromStdString(e.what())));
            return Finish(kExitLinkError);
        }
    }
    // The time-out bounds the whole run, not only the search for the regulator; a line waits for
    // each regulator as long as it takes.
    if (options_.each)
        Gone();
    else
        ArmDeadline();
    cycle_->StartConnecting();
}

void TCliSession::ArmDeadline()
{
    deadline_ = env_.clock->After(options_.TimeoutSeconds() * kMillisPerSecond, [this] {
        if (Sent())
            return InDoubt();
        if (phase_ == Phase::Connecting || phase_ == Phase::ReadingBack)
            return NoAnswer();
        Error(messages_.Msg("str242").arg(options_.TimeoutSeconds()));
        Finish(kExitNoRegulator);
    });
}

// ---- what the cycle tells ------------------------------------------------------------------

void TCliSession::Identified(const TIdentifiedEvent& event)
{
    if (options_.each) {
        // The one served is still there; otherwise the next one's service begins.
        quiet_.reset();
        if (waitingGone_)
            return;
        serving_ = true;
        ArmDeadline();
    }
    identified_ = true;
    // Now that the adapter is open, its serial number is known.
    backups_->SetLink(LinkName());
    if (status_)
        return;
    // The read follows inside the same handler, as in the window: look once it has returned.
    identifiedCheck_ = env_.clock->After(0, [this, missing = event.modelFileMissing] {
        if (status_)
            return;
        if (options_.command == QLatin1String("identify")) {
            const TReadReport report = view_->Report(panel_);
            env_.out(options_.json ? IdentityJson(report) : IdentityText(report));
            return Finish(kExitOk);
        }
        if (missing) {
            const QString& name = cycle_->Identity().name;
            const QString modelFile = ModelFilePath(env_.programDir, options_.language, name);
            // The model is there but its parameter folder could not be made: the reason is out.
            if (QFileInfo::exists(modelFile) &&
                !QFileInfo(ParameterFolder(env_.programDir, name)).isDir())
                return Finish(kExitFailure);
            const bool said = !lastError_.isEmpty();
            Error(messages_.Msg("str135").arg(modelFile));
            if (!modelMissingText_.isEmpty() && !said)
                Error(modelMissingText_);
            return Finish(kExitModelMissing);
        }
        FileFitsRegulator();
    });
}

void TCliSession::BlockRead(const TBlockReadEvent&) { transactionDone_ = true; }
void TCliSession::WriteAcknowledged(const TWriteTakenEvent&) { transactionDone_ = true; }
void TCliSession::WriteEnded(const TWriteTakenEvent&) { transactionDone_ = true; }

void TCliSession::BusyChanged(bool busy)
{
    // The next step starts once the handler that freed the cycle has returned, and only after a
    // transaction that ended (Settled looks).
    if (busy || status_)
        return;
    settle_ = env_.clock->After(0, [this] { Settled(); });
}

void TCliSession::LinkError(const TLinkErrorEvent&)
{
    if (options_.each && !serving_)
        return LineReset();
    Error(messages_.Msg("str134").arg(messages_.Msg("str53")) +
          QStringLiteral(" (%1)").arg(LinkName()));
    if (Sent())
        return InDoubt();
    Finish(kExitLinkError);
}

void TCliSession::LogEnded(const TLogEvent& event)
{
    switch (event.ending) {
    case TLogEnding::BadCommunication:
        // Four damaged records in one download end it: what was stored stays in the file.
        logFailed_ = true;
        Error(messages_.Msg(kEepromBadCommunicationKey));
        transactionDone_ = true;
        break;
    case TLogEnding::DiskError:
        // A log the disk refused is a file that could not be written, not a silent regulator:
        // the records before it are in the file and no more are asked for, so the run ends here
        // rather than by the watchdog's reset, which would blame the regulator.
        if (phase_ == Phase::Logging)
            Finish(kExitFailure);
        break;
    case TLogEnding::Complete:
        transactionDone_ = true;
        break;
    case TLogEnding::Silence:
    case TLogEnding::Running:
        break;
    }
}

void TCliSession::RegulatorLost() { Lost(); }
void TCliSession::TimeoutReset() { Lost(); }

void TCliSession::Lost()
{
    // Whatever settles after a reset is no transaction that ended.
    settle_.reset();
    transactionDone_ = false;
    if (options_.each && !serving_)
        return LineReset();
    // Before the identification a reset is the cycle trying again; after it, the regulator is
    // gone.
    if (!identified_ || status_)
        return;
    NoAnswer();
    if (options_.each)
        LineReset();
}

void TCliSession::NoAnswer()
{
    // An adapter pulled out only shows as silence on the line; asking for it again tells.
    if (options_.usb && !env_.usb->UsbReadyCheck()) {
        Error(messages_.Msg("str134").arg(messages_.Msg("str141")));
        if (Sent())
            return InDoubt();
        return Finish(kExitLinkError);
    }
    Error(messages_.Msg("str133").arg(LinkName()));
    if (Sent())
        return InDoubt();
    Finish(kExitNoRegulator);
}

bool TCliSession::Idle() const
{
    const ProtocolState& s = cycle_->State();
    return !s.busy && !s.readPending && !s.writePending && !s.identificationPending &&
           !s.logPending;
}

void TCliSession::Settled()
{
    if (status_ || !Idle() || !transactionDone_ || (options_.each && !serving_))
        return;
    transactionDone_ = false;
    switch (phase_) {
    case Phase::Connecting:
        Verbose(messages_.Msg("str238").arg(cycle_->Identity().name, cycle_->Identity().version,
                                            LinkName()));
        Connected();
        break;
    case Phase::Writing:
        // The regulator has taken the block: read it back.
        Verbose(messages_.Msg("str240"));
        phase_ = Phase::ReadingBack;
        cycle_->WhenLinkIdle([this] { cycle_->StartRead(); });
        break;
    case Phase::ReadingBack:
        CheckReadBack();
        break;
    case Phase::Defaulting: {
        const TReadReport report = view_->Report(panel_);
        env_.out(options_.json ? ReadJson(report) : ReadText(report));
        Finish(kExitOk);
        break;
    }
    case Phase::Logging:
        // Four damaged records in one download end it: what was stored stays in the file.
        Finish(logFailed_ ? kExitLinkError : kExitOk);
        break;
    case Phase::Done:
        break;
    }
}

void TCliSession::Connected()
{
    const QString& command = options_.command;
    if (command == QLatin1String("read")) {
        const TReadReport report = view_->Report(panel_);
        if (options_.output == QLatin1String("-")) {
            // The parameter file itself is the result.
            if (env_.outBytes)
                env_.outBytes(BackupParameterFile(panel_));
            return Finish(kExitOk);
        }
        if (!options_.output.isEmpty()) {
            QString reason;
            if (!WriteFileAtomically(options_.output, BackupParameterFile(panel_), &reason)) {
                Error(messages_.Msg("str140").arg(options_.output, reason));
                return Finish(kExitFailure);
            }
        }
        env_.out(options_.json ? ReadJson(report) : ReadText(report));
        return Finish(kExitOk);
    }
    if (command == QLatin1String("default")) {
        phase_ = Phase::Defaulting;
        // As the window's button does: a receive still running over USB goes first.
        cycle_->WhenLinkIdle([this] {
            cycle_->StartFactoryReset();
            if (!cycle_->State().readPending)
                return Finish(kExitBackupFailed); // the guard has said why
            sent_ = true;
        });
        return;
    }
    if (command == QLatin1String("diff"))
        return Diff();
    if (command == QLatin1String("restore")) {
        QString reason;
        const std::optional<TBackupRecord> record = LoadBackupRecord(options_.argument, &reason);
        if (!record) {
            Error(messages_.Msg("str138").arg(reason));
            return Finish(kExitFailure);
        }
        if (record->identity.name != cycle_->Identity().name) {
            Error(messages_.Msg("str139").arg(record->identity.name, cycle_->Identity().name));
            return Finish(kExitFailure);
        }
        const std::optional<TBlockImage> image =
            ImageFromReadPayload(record->readPayload, record->layout);
        PutBlockImage(*image);
        if (BuildWritePayload(view_->Block(), panel_) != record->writePayload) {
            Error(messages_.Msg("str143").arg(cycle_->Identity().name));
            return Finish(kExitFailure);
        }
        return StartWrite(record->writePayload);
    }
    if (command == QLatin1String("write"))
        return Write();
    if (command == QLatin1String("log")) {
        // A regulator that keeps no log would only be asked for one it cannot give.
        if (!view_->Report(panel_).keepsLog) {
            Error(FillMessage(messages_, QStringLiteral("Str527"), {cycle_->Identity().name}));
            return Finish(kExitFailure);
        }
        return StartLog();
    }
    if (command == QLatin1String("sheet"))
        return Sheet();
    Finish(kExitOk);
}

void TCliSession::PutBlockImage(const TBlockImage& image)
{
    TBlockFields fields = view_->Block();
    ::PutBlockImage(image, fields, panel_);
    view_->SetThrottle(fields.throttleMin, fields.throttleMax);
}

void TCliSession::Sheet()
{
    if (diffFile_ && diffFile_->image)
        PutBlockImage(*diffFile_->image);
    else if (diffFile_ && !LoadLines(diffFile_->lines))
        return Finish(kExitFailure);
    // The limits as the window's fields would show them now, beside what the regulator holds.
    panel_.SetThrottleShown(view_->Block().throttleMin, view_->Block().throttleMax);
    TSheetSource source = CliSheetSource(messages_, options_.language, &view_->Block(), panel_);
    source.made = env_.now();
    source.name.value = cycle_->Identity().name;
    source.version.value = cycle_->Identity().version;
    source.date.value = cycle_->Identity().date;
    source.link = LinkName();
    source.file = diffFile_ ? diffFile_->path : QString();
    source.latestBackup = LatestBackupName(env_.programDir, cycle_->Identity().name);
    Finish(WriteSheet(BuildSettingsSheet(source, messages_), options_.output, messages_,
                      {env_.err, env_.outBytes, options_.verbosity}));
}

void TCliSession::StartWrite(const QByteArray& expected)
{
    expected_ = expected;
    phase_ = Phase::Writing;
    Verbose(messages_.Msg("str239"));
    cycle_->WhenLinkIdle([this] {
        cycle_->StartWrite();
        if (!cycle_->State().writePending)
            return Finish(kExitBackupFailed); // the guard refused and has said why
        sent_ = true;
    });
}

QByteArray TCliSession::HeldPayload() const
{
    return HeldWritePayload(cycle_->LastReadPayload(), cycle_->Identity().version, panel_);
}

void TCliSession::CheckReadBack()
{
    const TWriteCheck check =
        CheckWrite(expected_, cycle_->LastReadPayload(), cycle_->Identity().version, panel_);
    const TReadReport report = view_->Report(panel_);
    // A line says one line for each regulator, its result.
    if (!options_.each)
        env_.out(options_.json ? ReadJson(report) : ReadText(report));
    if (!check.Confirmed()) {
        Error(messages_.Msg("str136").arg(QString::fromLatin1(check.sent.toHex(' ').toUpper()),
                                          QString::fromLatin1(check.held.toHex(' ').toUpper())));
        return Finish(kExitCheckFailed);
    }
    Finish(kExitOk);
}

void TCliSession::StartLog()
{
    phase_ = Phase::Logging;
    QString path = options_.output;
    if (path == QLatin1String("-")) {
        // The log goes to stdout once it is in, through a file as any log does.
        logTemp_ = std::make_unique<QTemporaryDir>();
        path = logTemp_->filePath(QStringLiteral("EEPROM.txt"));
    }
    cycle_->SetEepromPath(path);
    cycle_->WhenLinkIdle([this] {
        cycle_->StartLogDownload();
        if (!cycle_->State().logPending)
            Finish(kExitFailure); // the file could not be started; the reason is out
    });
}
