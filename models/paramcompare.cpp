#include "models/paramcompare.h"

#include "i18n/msglangres.h"
#include "models/panelmodel.h"
#include "models/paramfile.h"
#include "models/settingssheet.h"

#include <QLocale>

namespace {

QString GroupTitle(const TPanelModel& panel, int g)
{
    const TPanelGroup* group = panel.Group(g);
    return group ? group->caption.trimmed() : QString();
}

// The item text a group line names, or the line as it stands when it names none.
QString ItemText(const TPanelModel& panel, int g, const QString& line)
{
    const TPanelGroup* group = panel.Group(g);
    int v = 0;
    if (!group || !ParseItemIndex(line, v))
        return line;
    if (v == -1)
        return {};
    return v >= 0 && v < group->items.size() ? group->items[v] : line;
}

// A caption of the window's left column as a table's column has it: without the colon.
QString ColumnCaption(const QString& languageFile, const char* component)
{
    QString caption = LeftColumnCaption(languageFile, component).trimmed();
    if (caption.endsWith(QLatin1Char(':')))
        caption.chop(1);
    return caption.trimmed();
}

} // namespace

QString ThrottleText(int us)
{
    constexpr double kMicrosPerMilli = 1000.0;
    // Never grouped, as the field shows it.
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(us / kMicrosPerMilli, 'f', 2);
}

TParameterFileParts SplitParameterFile(const QStringList& lines)
{
    TParameterFileParts parts;
    // The last marker counts, as when loading: a value text may read "Data".
    const qsizetype marker = lines.lastIndexOf(kParamFileMarker);
    if (marker < 0)
        return parts;
    parts.hasMarker = true;
    parts.values = lines.mid(0, marker);
    parts.groups = lines.mid(marker + 1);
    return parts;
}

QString TParameterFit::Summary(int most) const
{
    QStringList shown = problems.mid(0, most);
    if (problems.size() > most)
        shown.append(QStringLiteral("…"));
    return shown.join(QStringLiteral("; "));
}

TParameterFit CheckParameterFit(const TPanelModel& panel, const QStringList& fileLines,
                                const TsmlMsgLangRes& messages)
{
    TParameterFit fit;
    const TParameterFileParts parts = SplitParameterFile(fileLines);
    if (!parts.hasMarker) {
        fit.problems.append(messages.Msg("Str218").arg(kParamFileMarker));
        return fit;
    }
    if (parts.values.size() != panel.DisplayCount())
        fit.problems.append(
            messages.Msg("Str215").arg(parts.values.size()).arg(panel.DisplayCount()));
    if (parts.groups.size() != panel.GroupCount())
        fit.problems.append(
            messages.Msg("Str216").arg(parts.groups.size()).arg(panel.GroupCount()));
    const int shared = std::min<int>(int(parts.groups.size()), panel.GroupCount());
    for (int g = 0; g < shared; ++g) {
        int v = 0;
        if (!ParseItemIndex(parts.groups[g], v) || v < -1)
            fit.problems.append(messages.Msg("Str219").arg(g + 1).arg(GroupTitle(panel, g),
                                                                      parts.groups[g].trimmed()));
        else if (v >= panel.ItemCount(g))
            fit.problems.append(
                messages.Msg("Str217").arg(g + 1).arg(GroupTitle(panel, g)).arg(v + 1));
    }
    return fit;
}

QList<TCompareRow> CompareWithFile(const TPanelModel& panel, const QStringList& fileLines)
{
    const TParameterFileParts parts = SplitParameterFile(fileLines);
    QList<TCompareRow> rows;
    for (int k = 0; k < panel.DisplayCount(); ++k) {
        TCompareRow row;
        row.kind = TCompareRow::Kind::Value;
        row.index = k;
        // The label's colon belongs beside a value, not in a table column.
        row.caption = panel.Caption(k).trimmed();
        if (row.caption.endsWith(QLatin1Char(':')))
            row.caption.chop(1);
        row.panelText = panel.DisplayText(k);
        row.fileText = k < parts.values.size() ? parts.values[k] : QString();
        rows.append(row);
    }
    for (int g = 0; g < panel.GroupCount(); ++g) {
        TCompareRow row;
        row.kind = TCompareRow::Kind::Group;
        row.index = g;
        row.caption = GroupTitle(panel, g);
        const int mine = panel.ItemIndex(g);
        row.panelText = ItemText(panel, g, QString::number(mine));
        const bool present = g < parts.groups.size();
        int theirs = 0;
        if (present) {
            row.fileText = ItemText(panel, g, parts.groups[g]);
            row.differs = !ParseItemIndex(parts.groups[g], theirs) || theirs != mine;
        } else {
            row.differs = true;
        }
        rows.append(row);
    }
    return rows;
}

QList<TCompareRow> CompareWithFile(const TPanelModel& panel, const TFileSettings& file,
                                   const QString& languageFile)
{
    QList<TCompareRow> rows = CompareWithFile(panel, file.lines);
    if (!file.throttle)
        return rows;
    const TThrottleLimits mine = panel.ThrottleShown();
    const struct {
        const char* caption;
        int mine, theirs;
    } limits[] = {{"Lkorekcemin", mine.minUs, file.throttle->minUs},
                  {"Lkorekcemax", mine.maxUs, file.throttle->maxUs}};
    for (int i = 0; i < 2; ++i) {
        TCompareRow row;
        row.kind = TCompareRow::Kind::Throttle;
        row.index = i;
        row.caption = ColumnCaption(languageFile, limits[i].caption);
        row.panelText = ThrottleText(limits[i].mine);
        row.fileText = ThrottleText(limits[i].theirs);
        row.differs = limits[i].mine != limits[i].theirs;
        rows.append(row);
    }
    return rows;
}

int CountSettings(const QList<TCompareRow>& rows)
{
    return int(std::count_if(rows.begin(), rows.end(), [](const TCompareRow& row) {
        return row.kind != TCompareRow::Kind::Value;
    }));
}

int CountDifferences(const QList<TCompareRow>& rows)
{
    return int(std::count_if(rows.begin(), rows.end(),
                             [](const TCompareRow& row) { return row.differs; }));
}

QStringList TakeGroups(const TPanelModel& panel, const QStringList& fileLines,
                       const QList<int>& groups)
{
    QStringList lines = ParameterFileLines(panel);
    const TParameterFileParts parts = SplitParameterFile(fileLines);
    const int first = panel.DisplayCount() + 1;
    for (const int g : groups)
        if (g >= 0 && g < panel.GroupCount() && g < parts.groups.size())
            lines[first + g] = parts.groups[g];
    return lines;
}

TFileSettings TakeSettings(const TPanelModel& panel, const TFileSettings& file,
                           const QList<TCompareRow>& taken)
{
    QList<int> groups;
    TFileSettings out;
    for (const TCompareRow& row : taken) {
        if (row.kind == TCompareRow::Kind::Group)
            groups.append(row.index);
        if (row.kind != TCompareRow::Kind::Throttle || !file.throttle)
            continue;
        if (!out.throttle)
            out.throttle = panel.ThrottleShown();
        (row.index == 0 ? out.throttle->minUs : out.throttle->maxUs) =
            row.index == 0 ? file.throttle->minUs : file.throttle->maxUs;
    }
    out.lines = TakeGroups(panel, file.lines, groups);
    return out;
}

QStringList GroupCaptions(const TPanelModel& panel)
{
    QStringList captions;
    for (int g = 0; g < panel.GroupCount(); ++g)
        captions.append(GroupTitle(panel, g));
    return captions;
}

std::optional<QList<int>> FindGroups(const TPanelModel& panel, const QStringList& names,
                                     QString* unknown)
{
    QList<int> groups;
    for (const QString& name : names) {
        int found = -1;
        const QStringList captions = GroupCaptions(panel);
        for (int g = 0; g < captions.size() && found < 0; ++g)
            if (captions[g].compare(name.trimmed(), Qt::CaseInsensitive) == 0)
                found = g;
        bool number = false;
        const int n = name.trimmed().toInt(&number);
        if (found < 0 && number && n >= 1 && n <= panel.GroupCount())
            found = n - 1;
        if (found < 0) {
            *unknown = name;
            return std::nullopt;
        }
        if (!groups.contains(found))
            groups.append(found);
    }
    return groups;
}
