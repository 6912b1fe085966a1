#pragma once
// The links of one command line, each with a session of its own on the one event loop: one after
// the other, or up to --jobs of them at a time. With one link its results and errors go out as
// they come; with several each link's lines carry its name, and a result line per link and a
// count of the failed ones follow.

#include "diagnose/checks.h"
#include "tools/cli/options.h"

#include <QByteArray>
#include <QString>
#include <functional>

class QCoreApplication;
class TsmlMsgLangRes;

using TLineFn = std::function<void(const QString&)>;

struct TCliOutputs {
    TLineFn out, err;
    std::function<void(const QByteArray&)> outBytes;
};

// The device path that a --port value names: a path as given (a relative one from the current
// folder), "COMn" as the settings mean it, and a bare name such as "ttyS0" under /dev unless a
// file of that name is in the current folder.
QString CliPortPath(const QString& name);

// The connection check's live part on one link: opens it, sends wake-up calls until the regulator
// answers or --timeout runs out, and says what it saw.
QList<TFinding> CheckLiveLink(const TCliOptions& options, const TCheckedLink& link,
                              const QString& dataDir, const TsmlMsgLangRes& messages);

// Runs the command on every link of options; the exit status of the one link, or for several 0
// when all succeeded and kExitSomeFailed otherwise. A byte on signalFd (if >= 0) interrupts.
int RunLinks(QCoreApplication& app, int signalFd, const TCliOptions& options,
             const QString& dataDir, const TsmlMsgLangRes& messages, const TCliOutputs& outputs);
