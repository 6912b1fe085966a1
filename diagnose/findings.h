#pragma once
// What the connection check found: one finding per thing looked at, each with a verdict, what was
// seen and what to do, already in the user's language. The window lists them and the command-line
// tool prints them; both through the functions below, so a report reads the same in either.

#include <QJsonArray>
#include <QList>
#include <QString>

class TsmlMsgLangRes;

enum class TVerdict { Fine, Problem, CannotTell };

struct TFinding {
    QString id; // what was looked at, in fixed words for scripts: "port", "permission", ...
    TVerdict verdict = TVerdict::Fine;
    QString seenKey, todoKey; // the message keys of the two texts (todo may have none)
    QString seen, todo;
};

// The verdict as JSON says it: fine, problem, cannotTell.
const char* VerdictWord(TVerdict verdict);

// Problems first, then what could not be told, then what is fine; the order of the check within.
QList<TFinding> ProblemsFirst(QList<TFinding> findings);
int ProblemCount(const QList<TFinding>& findings);

// One block per finding, problems first: the verdict and what was seen, and below it what to do.
QString FindingsText(const QList<TFinding>& findings, const TsmlMsgLangRes& messages);
// The same as a JSON array of {"id", "verdict", "seen", "todo"}, for a report object.
QJsonArray FindingsJson(const QList<TFinding>& findings);
