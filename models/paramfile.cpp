#include "models/paramfile.h"

#include "common/atomicfile.h"
#include "common/readfile.h"
#include "common/textcodec.h"
#include "i18n/msglangres.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QLatin1String kLineEnd("\r\n");

// The file could not be made at all (no folder, no right to write there or to replace it), as
// opposed to a failure while writing it.
bool CannotCreate(const QString& fileName)
{
    const QFileInfo info(fileName);
    const QFileInfo dir(info.absolutePath());
    if (!dir.isDir() || !dir.isWritable())
        return true;
    return info.exists() && (!info.isFile() || !info.isWritable());
}

} // namespace

bool ParseItemIndex(const QString& line, int& v)
{
    bool ok = false;
    v = line.trimmed().toInt(&ok, 10);
    return ok;
}

bool ParameterPanelExists(const IParameterPanel& panel)
{
    return !panel.ModelFileMissing() && (panel.DisplayCount() > 0 || panel.GroupCount() > 0);
}

QStringList ParameterFileLines(const IParameterPanel& panel)
{
    QStringList lines;
    for (int k = 0; k < panel.DisplayCount(); ++k)
        lines.append(panel.DisplayText(k));
    lines.append(kParamFileMarker);
    for (int g = 0; g < panel.GroupCount(); ++g)
        lines.append(QString::number(panel.ItemIndex(g)));
    return lines;
}

QByteArray EncodeParameterFile(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines)
        text += line + kLineEnd;
    return EncodeText(text);
}

QStringList DecodeParameterFile(const QByteArray& bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    const QString text = DecodeText(nul < 0 ? bytes : bytes.left(nul));
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines.append(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

bool TParameterFiles::LoadParameterFile(const QString& fileName, const AcceptFn& accept)
{
    // A file too large to be one is refused like one that cannot be opened.
    const TFileRead read = ReadFileWithLimit(fileName, kParameterFileMaxBytes);
    if (!read.Ok()) {
        showError_(messages_.Msg("str1") + QLatin1Char('\r') + fileName + QLatin1Char('.'));
        return false;
    }
    const QStringList lines = DecodeParameterFile(read.bytes);
    // What cannot be loaded is refused before anyone is asked whether to load it.
    if (const QString problem = Problem(lines); !problem.isEmpty()) {
        Refuse(problem);
        return false;
    }
    if (accept && !accept(lines))
        return false;
    return LoadParameterLines(lines, fileName);
}

void TParameterFiles::Refuse(const QString& reason) const
{
    showError_(messages_.Msg("str1") + QStringLiteral("\r\r") + reason);
}

QString TParameterFiles::Problem(const QStringList& lines) const
{
    // The last marker line counts: a value text that happens to read "Data" comes before it. A
    // file without one is no parameter file (a text, a picture): none of it is a setting.
    const qsizetype marker = lines.lastIndexOf(kParamFileMarker);
    if (marker < 0) {
        QString reason = messages_.Msg("Str218").arg(kParamFileMarker);
        if (!reason.isEmpty())
            reason[0] = reason[0].toUpper();
        return reason;
    }
    // Surplus value lines of another model are skipped; too few leave the values without theirs.
    if (marker < panel_.DisplayCount())
        return messages_.Msg("str111").arg(marker).arg(panel_.DisplayCount());
    // Lines beyond the panel's groups have no group to go to: a file of another model with more
    // options loads as far as it fits.
    const qsizetype last = std::min<qsizetype>(lines.size(), marker + 1 + panel_.GroupCount());
    int v = 0;
    for (qsizetype i = marker + 1; i < last; ++i)
        if (!ParseItemIndex(lines[i], v))
            return messages_.Msg("str112").arg(lines[i]).arg(i + 1);
    return {};
}

bool TParameterFiles::LoadParameterLines(const QStringList& lines, const QString& valuesFrom)
{
    // Checked whole before anything changes: a load that fails leaves the panel as it was.
    if (const QString problem = Problem(lines); !problem.isEmpty()) {
        Refuse(problem);
        return false;
    }
    // A value the panel shows already is left alone: it stays what it was (the regulator's, or an
    // earlier file's).
    for (int k = 0; k < panel_.DisplayCount(); ++k)
        if (panel_.DisplayText(k) != lines[k])
            panel_.SetDisplayText(k, lines[k]);
    const qsizetype first = lines.lastIndexOf(kParamFileMarker) + 1;
    const qsizetype last = std::min<qsizetype>(lines.size(), first + panel_.GroupCount());
    for (qsizetype i = first; i < last; ++i) {
        const int g = int(i - first);
        int v = 0;
        ParseItemIndex(lines[i], v);
        // Out of range leaves the group as it was; -1 clears its choice. Group 0 runs its master
        // switch when its item really changes.
        if (v >= -1 && v < panel_.ItemCount(g))
            panel_.SetItemIndex(g, v);
    }
    if (!valuesFrom.isEmpty())
        panel_.ValuesFromFile(valuesFrom);
    return true;
}

void TParameterFiles::SaveParameterFile(const QString& fileName)
{
    const QByteArray bytes = EncodeParameterFile(ParameterFileLines(panel_));
    if (CannotCreate(fileName)) {
        showError_(messages_.Msg("str3") + QLatin1Char('\r') + fileName + QLatin1Char('.'));
        return;
    }
    QString reason;
    if (!WriteFileAtomically(fileName, bytes, &reason))
        showError_(messages_.Msg("str3") + QStringLiteral("\r\r") + reason);
}
