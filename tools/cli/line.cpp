// korvalinex-cli write --each: a workshop's production line on one link. The file is picked once;
// each regulator connected is checked against it, backed up, written, read back and checked like
// any write, and gets one line of result (and a row of the --record file); the line then waits
// until that regulator is gone, silent or unplugged, and serves the next. A regulator that fails
// is reported and the line goes on; Ctrl-C ends it with a count of what was done, what failed and
// what is in doubt.

#include "tools/cli/session.h"

#include "common/atomicfile.h"
#include "common/readfile.h"
#include "i18n/msglangres.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

// An identification comes within a few wake-ups of a regulator that is there; this much quiet says
// one whose model file is missing, which the cycle keeps resetting, is gone.
constexpr int kGoneQuietMs = 5000;
// A record of a few hundred regulators is a few dozen kilobytes.
constexpr qint64 kRecordMaxBytes = 64 * 1024 * 1024;
const QByteArray kRecordHeader = "time,link,name,version,date,result,status,backup\r\n";

QString CsvField(QString text)
{
    static const QRegularExpression special(QStringLiteral("[\",\r\n]"));
    if (!text.contains(special))
        return text;
    return QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QString ResultWord(int status)
{
    return status == kExitOk
               ? QString::fromLatin1(ExitStatusWord(status))
               : QStringLiteral("%1 (%2)").arg(QLatin1String(ExitStatusWord(status))).arg(status);
}

} // namespace

void TCliSession::RegulatorServed(int status)
{
    serving_ = false;
    waitingGone_ = true;
    goneWhenQuiet_ = status == kExitModelMissing;
    deadline_.reset();
    settle_.reset();
    identifiedCheck_.reset();
    ++line_.served;
    ++(status == kExitOk ? line_.done : status == kExitInDoubt ? line_.inDoubt : line_.failed);
    const TRegulatorIdentity& id = cycle_->Identity();
    env_.out(messages_.Msg("str336")
                 .arg(line_.served)
                 .arg(id.name.trimmed(), id.version.trimmed(), ResultWord(status),
                      backupPath_.isEmpty() ? QStringLiteral("-") : backupPath_));
    AppendRecord(status);
    if (options_.verbosity >= kNormal)
        env_.err(messages_.Msg("str339"));
    // The next regulator starts from nothing.
    phase_ = Phase::Connecting;
    identified_ = false;
    sent_ = false;
    transactionDone_ = false;
    expected_.clear();
    backupPath_.clear();
    lastError_.clear();
    modelMissingText_.clear();
}

void TCliSession::LineReset()
{
    if (!waitingGone_)
        return;
    if (!goneWhenQuiet_)
        return Gone();
    quiet_ = env_.clock->After(kGoneQuietMs, [this] { Gone(); });
}

void TCliSession::Gone()
{
    waitingGone_ = false;
    quiet_.reset();
    if (options_.verbosity >= kNormal)
        env_.err(messages_.Msg("str338"));
}

void TCliSession::EndLine()
{
    // A write that went out unconfirmed is in doubt, and said so with its backup; a regulator
    // interrupted before anything was sent to it is no result.
    if (ServingLine() && Sent())
        InDoubt();
    serving_ = false;
    quiet_.reset();
    env_.out(messages_.Msg("str337").arg(line_.done).arg(line_.failed).arg(line_.inDoubt));
    Finish(line_.failed + line_.inDoubt > 0 ? kExitSomeFailed : kExitOk);
}

void TCliSession::AppendRecord(int status)
{
    if (options_.record.isEmpty())
        return;
    QByteArray bytes;
    if (QFileInfo::exists(options_.record)) {
        const TFileRead read = ReadFileWithLimit(options_.record, kRecordMaxBytes);
        if (!read.Ok()) {
            Error(messages_.Msg("str140").arg(options_.record, read.Reason()));
            return;
        }
        bytes = read.bytes;
    }
    if (bytes.isEmpty())
        bytes = kRecordHeader;
    const TRegulatorIdentity& id = cycle_->Identity();
    const QStringList row = {env_.now().toString(Qt::ISODate),
                             LinkName(),
                             id.name.trimmed(),
                             id.version.trimmed(),
                             id.date.trimmed(),
                             QString::fromLatin1(ExitStatusWord(status)),
                             QString::number(status),
                             backupPath_};
    QStringList fields;
    for (const QString& f : row)
        fields << CsvField(f);
    bytes += fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
    QString reason;
    // The whole record anew, so that a full disk leaves the rows before whole.
    if (!WriteFileAtomically(options_.record, bytes, &reason))
        Error(messages_.Msg("str140").arg(options_.record, reason));
}
