#include "diagnose/findings.h"

#include "i18n/msglangres.h"

#include <QJsonObject>
#include <algorithm>

namespace {

int Rank(TVerdict v)
{
    switch (v) {
    case TVerdict::Problem:
        return 0;
    case TVerdict::CannotTell:
        return 1;
    case TVerdict::Fine:
        break;
    }
    return 2;
}

// The verdict in the user's language, as the report's lines begin.
const char* VerdictKey(TVerdict v)
{
    switch (v) {
    case TVerdict::Problem:
        return "Str401";
    case TVerdict::CannotTell:
        return "Str402";
    case TVerdict::Fine:
        break;
    }
    return "Str400";
}

} // namespace

const char* VerdictWord(TVerdict verdict)
{
    switch (verdict) {
    case TVerdict::Problem:
        return "problem";
    case TVerdict::CannotTell:
        return "cannotTell";
    case TVerdict::Fine:
        break;
    }
    return "fine";
}

QList<TFinding> ProblemsFirst(QList<TFinding> findings)
{
    std::stable_sort(findings.begin(), findings.end(), [](const TFinding& a, const TFinding& b) {
        return Rank(a.verdict) < Rank(b.verdict);
    });
    return findings;
}

int ProblemCount(const QList<TFinding>& findings)
{
    return int(std::count_if(findings.begin(), findings.end(),
                             [](const TFinding& f) { return f.verdict == TVerdict::Problem; }));
}

QString FindingsText(const QList<TFinding>& findings, const TsmlMsgLangRes& messages)
{
    QStringList lines;
    for (const TFinding& f : ProblemsFirst(findings)) {
        lines << QStringLiteral("[%1] %2").arg(
            messages.LookupMessage(QLatin1String(VerdictKey(f.verdict))), f.seen);
        if (!f.todo.isEmpty())
            lines << QStringLiteral("    %1 %2")
                         .arg(messages.LookupMessage(QStringLiteral("Str403")), f.todo);
    }
    return lines.join(QLatin1Char('\n'));
}

QJsonArray FindingsJson(const QList<TFinding>& findings)
{
    QJsonArray array;
    for (const TFinding& f : ProblemsFirst(findings))
        array.append(QJsonObject{{QStringLiteral("id"), f.id},
                                 {QStringLiteral("verdict"), QLatin1String(VerdictWord(f.verdict))},
                                 {QStringLiteral("seen"), f.seen},
                                 {QStringLiteral("todo"), f.todo}});
    return array;
}
