#include "diagnose/linkwatch.h"

#include "i18n/msglangres.h"
#include "link/portname.h"
#include "models/backup.h"

namespace {

// As much of what came back as a user can quote.
constexpr int kQuotedBytes = 16;

TFinding Finding(const char* id, TVerdict verdict, const TsmlMsgLangRes& messages,
                 const char* seenKey, const QStringList& seen, const char* todoKey = nullptr,
                 const QStringList& todo = {})
{
    TFinding f;
    f.id = QLatin1String(id);
    f.verdict = verdict;
    f.seenKey = QLatin1String(seenKey);
    f.seen = FillMessage(messages, f.seenKey, seen);
    if (todoKey) {
        f.todoKey = QLatin1String(todoKey);
        f.todo = FillMessage(messages, f.todoKey, todo);
    }
    return f;
}

// Why the link did not open, in the words the rest of the program uses for it.
QString OpenFailure(int error, const TLiveContext& context, const TsmlMsgLangRes& messages)
{
    if (!context.link.usb)
        return error > 0 ? PortOpenFailureText(error, messages) : messages.Msg("str192");
    const TUsbOpenProblem& p = context.usbProblem;
    const char* word = p.kind == FtOpenFailure::None     ? nullptr
                       : p.kind == FtOpenFailure::Denied ? "str190"
                       : p.kind == FtOpenFailure::Busy   ? "str191"
                                                         : "str192";
    if (!word)
        return messages.Msg("str141");
    return p.detail.isEmpty() ? messages.Msg(word)
                              : QStringLiteral("%1 (%2)").arg(messages.Msg(word), p.detail);
}

} // namespace

TLinkObserver TLinkWatch::Observer()
{
    return {[this](bool toRegulator, const QByteArray& bytes) {
                if (answered_)
                    return; // the regulator's own traffic, not the search for it
                if (toRegulator) {
                    ++sent_;
                    return;
                }
                received_ += int(bytes.size());
                first_ += bytes.left(kQuotedBytes - first_.size());
            },
            [this](int error) { openResult_ = error; }};
}

void TLinkWatch::Identified(const TIdentifiedEvent& event)
{
    answered_ = event.identity;
    lastIdentity_ = event.identity;
    sentBeforeAnswer_ = sent_;
}

void TLinkWatch::Forget()
{
    if (!answered_)
        return;
    answered_.reset();
    sent_ = received_ = 0;
    first_.clear();
}

QList<TFinding> LinkFindings(const TLinkWatch& watch, const TLiveContext& context,
                             const TsmlMsgLangRes& messages)
{
    using V = TVerdict;
    QList<TFinding> findings;
    const QString device = DevicePathForPortName(context.link.port);
    const QString name = context.link.usb ? UsbBackupLink(context.link.usbSerial).trimmed()
                                          : (device.isEmpty() ? context.link.port : device);
    if (!watch.OpenResult()) {
        findings << Finding("link-open", V::CannotTell, messages, "Str514", {});
    } else if (*watch.OpenResult() != 0) {
        findings << Finding("link-open", V::Problem, messages, "Str501",
                            {name, OpenFailure(*watch.OpenResult(), context, messages)});
    } else {
        findings << Finding("link-open", V::Fine, messages, "Str500", {name});
        if (const std::optional<TRegulatorIdentity>& r = watch.Answered()) {
            findings << Finding("wake-up", V::Fine, messages, "Str502",
                                {QString::number(watch.SentBeforeAnswer())});
            findings << Finding("answer", V::Fine, messages, "Str507", {r->name, r->version});
        } else if (watch.Sent() == 0) {
            findings << Finding("wake-up", V::CannotTell, messages, "Str512", {});
        } else if (watch.Received() == 0) {
            findings << Finding("wake-up", V::Problem, messages, "Str503",
                                {QString::number(watch.Sent())}, "Str504");
        } else {
            findings << Finding("wake-up", V::Problem, messages, "Str505",
                                {QString::number(watch.Sent()), QString::number(watch.Received()),
                                 QString::fromLatin1(watch.FirstReceived().toHex(' ').toUpper())},
                                "Str506");
        }
    }
    if (const std::optional<TRegulatorIdentity>& r = watch.LastIdentity())
        findings << CheckModelFile(context.programDir, context.language, r->name, messages);
    return findings;
}
