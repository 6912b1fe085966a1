#include "tools/cli/doctor.h"

#include "i18n/msglangres.h"
#include "models/backup.h"
#include "tools/cli/report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Opening a link that is not there, or that this user may not open, can only fail the same way
// again: the machine's findings already say why.
bool WorthOpening(const QList<TFinding>& findings)
{
    for (const TFinding& f : findings)
        if (f.verdict == TVerdict::Problem &&
            (f.id == QLatin1String("port") || f.id == QLatin1String("usb-adapter") ||
             f.id == QLatin1String("permission")))
            return false;
    return true;
}

// As the several links of the other commands name theirs.
QString LinkName(const TCheckedLink& link)
{
    return link.usb ? UsbBackupLink(link.usbSerial).trimmed() : link.port;
}

} // namespace

int DoctorCommand(const TCliOptions& options, const QList<TCheckedLink>& links,
                  const TMachine& machine, const QString& programDir,
                  const TsmlMsgLangRes& messages, const std::function<void(const QString&)>& out,
                  const TLiveCheck& live)
{
    int problems = 0;
    QStringList blocks;
    QJsonArray json;
    for (const TCheckedLink& link : links) {
        QList<TFinding> findings = CheckMachine(machine, link, messages, programDir);
        if (live && WorthOpening(findings))
            findings += live(link);
        const int found = ProblemCount(findings);
        problems += found;
        blocks << FindingsText(findings, messages);
        json.append(QJsonObject{{QStringLiteral("link"), LinkName(link)},
                                {QStringLiteral("problems"), found},
                                {QStringLiteral("findings"), FindingsJson(findings)}});
    }
    if (options.json) {
        const QJsonObject o{{QStringLiteral("schemaVersion"), kCliSchemaVersion},
                            {QStringLiteral("links"), json},
                            {QStringLiteral("problems"), problems}};
        out(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)).trimmed());
    } else {
        blocks << (problems > 0 ? FillMessage(messages, QStringLiteral("Str405"),
                                              {QString::number(problems)})
                                : messages.LookupMessage(QStringLiteral("Str406")));
        out(blocks.join(QStringLiteral("\n\n")));
    }
    return problems > 0 ? kExitProblemFound : kExitOk;
}
