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

void TParameterFiles::LoadParameterFile(const QString& fileName, const AcceptFn& accept)
{
    // A file too large to be one is refused like one that cannot be opened.
    const TFileRead read = ReadFileWithLimit(fileName, kParameterFileMaxBytes);
    if (!read.Ok()) {
        showError_(messages_.Msg("str1") + QLatin1Char('\r') + fileName + QLatin1Char('.'));
        return;
    }
    const QStringList lines = DecodeParameterFile(read.bytes);
    if (accept && !accept(lines))
        return;
    LoadParameterLines(lines);
}

void TParameterFiles::LoadParameterLines(const QStringList& lines)
{
    auto fail = [this](const QString& reason) {
        showError_(messages_.Msg("str1") + QStringLiteral("\r\r") + reason);
    };

    const int displays = panel_.DisplayCount();
    for (int k = 0; k < displays; ++k) {
        if (k >= lines.size()) {
            fail(messages_.Msg("str111").arg(lines.size()).arg(displays));
            return;
        }
        panel_.SetDisplayText(k, lines[k]);
    }

    // The last marker line counts: a value text that happens to read "Data" comes before it.
    // Without any marker the group lines start after line 1.
    const qsizetype marker = lines.lastIndexOf(kParamFileMarker);
    const qsizetype first = marker < 0 ? 1 : marker + 1;
    // Lines beyond the panel's groups have no group to go to: a file of another model with more
    // options loads as far as it fits.
    const qsizetype last = std::min<qsizetype>(lines.size(), first + panel_.GroupCount());
    for (qsizetype i = first; i < last; ++i) {
        const int g = int(i - first);
        int v = 0;
        if (!ParseItemIndex(lines[i], v)) {
            fail(messages_.Msg("str112").arg(lines[i]).arg(i + 1));
            return;
        }
        // Out of range leaves the group as it was; -1 clears its choice. Group 0 runs its master
        // switch when its item really changes.
        if (v >= -1 && v < panel_.ItemCount(g))
            panel_.SetItemIndex(g, v);
    }
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
