#pragma once
// korvalinex-cli doctor: the connection check on each link of the command line (setup.ini's when
// there is none), printed as the window lists it: problems first, each with what to do.

#include "diagnose/checks.h"
#include "tools/cli/options.h"

#include <QList>
#include <functional>

class TMachine;
class TsmlMsgLangRes;

// What opening the link and talking to the regulator found; empty when it was not tried.
using TLiveCheck = std::function<QList<TFinding>(const TCheckedLink& link)>;

// The findings of every link as lines (or one JSON object with --json); a summary line ends the
// text. 0 when no finding is a problem, kExitProblemFound otherwise.
// programDir (with "/"): the program folder, where the model files and a portable copy's udev rule
// are.
int DoctorCommand(const TCliOptions& options, const QList<TCheckedLink>& links,
                  const TMachine& machine, const QString& programDir,
                  const TsmlMsgLangRes& messages, const std::function<void(const QString&)>& out,
                  const TLiveCheck& live = {});
