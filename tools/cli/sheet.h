#pragma once
// korvalinex-cli sheet: the settings sheet the window prints, made without the window from the
// regulator as read (with a file loaded over it, as the window loads one) or from a file alone,
// and written as text, HTML or PDF by the name of the output.

#include "models/settingssheet.h"
#include "protocol/paramblock.h"
#include "tools/cli/options.h"

#include <QByteArray>
#include <QString>
#include <functional>

class TPanelModel;
class TsmlMsgLangRes;

struct TSheetOutputs {
    std::function<void(const QString&)> err;
    std::function<void(const QByteArray&)> outBytes; // "-o -"
    int verbosity = kNormal;
};

// A sheet's source with the left column's captions in the messages' language; the throttle limits
// and the speed only where known (a parameter file alone has none of them, nor the motor's).
TSheetSource CliSheetSource(const TsmlMsgLangRes& messages, const QString& languageCode,
                            const TBlockFields* fields, const TPanelModel& panel);

// Writes the sheet where output says, in the form its name asks for; the exit status.
int WriteSheet(const TSettingsSheet& sheet, const QString& output, const TsmlMsgLangRes& messages,
               const TSheetOutputs& outputs);

// sheet FILE without a link: a backup's record describes its regulator as it was read, a
// parameter file the model --model names.
int SheetFileCommand(const TCliOptions& options, const QString& dataDir,
                     const TsmlMsgLangRes& messages, const QDateTime& now,
                     const TSheetOutputs& outputs);
