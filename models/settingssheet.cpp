#include "models/settingssheet.h"

#include "common/profile.h"
#include "i18n/msglangres.h"
#include "models/backup.h"
#include "models/panelmodel.h"

#include <QFileInfo>

namespace {

// The left column's captions as the window has them built in, for a language file without them.
struct TBuiltInCaption {
    const char* component;
    const char* text;
};
const TBuiltInCaption kLeftColumn[] = {
    {"Ln", "Název regulátoru : "},        {"Lv", "Verze regulátoru : "},
    {"La", "Aktualizováno : "},           {"Lkorekcemin", "Plyn min. [ms] : "},
    {"Lkorekcemax", "Plyn max. [ms] : "}, {"LPocPolu", "Počet pólů : "},
    {"LPrevPom", "Převodový poměr : "},   {"Label4", "1: "},
    {"Lm", "Max. otácky [ot./min] : "},
};

const QString kNothingChosen = QStringLiteral("-");
const QString kMadeFormat = QStringLiteral("yyyy-MM-dd HH:mm");

QString HtmlLanguage(const QString& code)
{
    if (code == QLatin1String("CZ"))
        return QStringLiteral("cs");
    if (code == QLatin1String("GE"))
        return QStringLiteral("de");
    return code == QLatin1String("EN") ? QStringLiteral("en") : QString();
}

void AddField(TSheetSection& section, const TSheetLine& field, bool unwritten = false)
{
    if (field.value.isEmpty())
        return;
    section.lines.append({SheetCaption(field.caption), field.value.trimmed(), unwritten});
}

} // namespace

QString SheetCaption(QString caption)
{
    caption = caption.trimmed();
    if (caption.endsWith(QLatin1Char(':')))
        caption.chop(1);
    return caption.trimmed();
}

QString LeftColumnCaption(const QString& languageFile, const char* component)
{
    QString builtIn;
    for (const TBuiltInCaption& c : kLeftColumn)
        if (qstrcmp(c.component, component) == 0)
            builtIn = QString::fromUtf8(c.text);
    if (languageFile.isEmpty())
        return builtIn;
    const QString text = GetPrivateProfileString(
        QStringLiteral("MainForm"), QString::fromLatin1(component) + QStringLiteral("_Caption"),
        QString(), languageFile);
    return text.isEmpty() ? builtIn : text;
}

QString LatestBackupName(const QString& programDir, const QString& modelName)
{
    const QList<TBackupEntry> backups = ListBackups(programDir, modelName);
    return backups.isEmpty() ? QString() : QFileInfo(backups.first().recordPath).completeBaseName();
}

TSheetFormat SheetFormatFor(const QString& output)
{
    const QString suffix = QFileInfo(output).suffix().toLower();
    if (output == QLatin1String("-") || suffix == QLatin1String("txt"))
        return TSheetFormat::Text;
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm"))
        return TSheetFormat::Html;
    return TSheetFormat::Pdf;
}

TSettingsSheet BuildSettingsSheet(const TSheetSource& source, const TsmlMsgLangRes& messages)
{
    const TPanelModel& panel = *source.panel;
    TSettingsSheet sheet;
    const QString name = source.name.value.trimmed();
    sheet.title = name.isEmpty() ? messages.Msg("str320")
                                 : messages.Msg("str320") + QStringLiteral(" – ") + name;
    sheet.subtitle = source.program + QStringLiteral(" · ") +
                     messages.Msg("str321").arg(source.made.toString(kMadeFormat));
    sheet.htmlLanguage = HtmlLanguage(source.languageCode);
    sheet.unwrittenMark = messages.Msg("str331");

    // In the window's order: the left column from the top, then the option groups.
    TSheetSection regulator{messages.Msg("str322"), {}};
    AddField(regulator, source.name);
    AddField(regulator, source.version);
    AddField(regulator, source.date);
    AddField(regulator, {messages.Msg("str285"), source.link});
    AddField(regulator, {messages.Msg("str326"), source.file});
    if (!name.isEmpty())
        AddField(regulator,
                 {messages.Msg("str324"),
                  source.latestBackup.isEmpty() ? messages.Msg("str325") : source.latestBackup});
    sheet.sections.append(regulator);

    TSheetSection motor{messages.Msg("str327"), {}};
    AddField(motor, source.throttleMin, panel.ThrottleMinUnwritten());
    AddField(motor, source.throttleMax, panel.ThrottleMaxUnwritten());
    AddField(motor, source.poles);
    AddField(motor, source.ratio);
    AddField(motor, source.maxRpm);
    if (!motor.lines.isEmpty())
        sheet.sections.append(motor);

    TSheetSection values{messages.Msg("str328"), {}};
    for (int k = 0; k < panel.DisplayCount(); ++k)
        values.lines.append({SheetCaption(panel.Caption(k)), panel.DisplayText(k), false});
    if (!values.lines.isEmpty())
        sheet.sections.append(values);

    TSheetSection groups{messages.Msg("str329"), {}};
    for (int g = 0; g < panel.GroupCount(); ++g) {
        const TPanelGroup* group = panel.Group(g);
        const int item = group->itemIndex;
        groups.lines.append(
            {group->caption.trimmed(),
             item >= 0 && item < group->items.size() ? group->items[item] : kNothingChosen,
             panel.GroupUnwritten(g)});
    }
    if (!groups.lines.isEmpty())
        sheet.sections.append(groups);

    if (const int unwritten = panel.UnwrittenCount(); unwritten > 0)
        sheet.unwrittenNote = messages.Msg("str330").arg(sheet.unwrittenMark) +
                              QStringLiteral(" ") + messages.Msg("str260").arg(unwritten);
    return sheet;
}

QString SheetText(const TSettingsSheet& sheet)
{
    qsizetype width = 0;
    for (const TSheetSection& s : sheet.sections)
        for (const TSheetLine& l : s.lines)
            width = std::max(width, l.caption.size());
    QStringList out{sheet.title, sheet.subtitle};
    for (const TSheetSection& s : sheet.sections) {
        out << QString() << s.title;
        for (const TSheetLine& l : s.lines) {
            QString line = QStringLiteral("  ") + l.caption.leftJustified(width + 2) + l.value;
            if (l.unwritten)
                line += QStringLiteral("   [") + sheet.unwrittenMark + QLatin1Char(']');
            out << line;
        }
    }
    if (!sheet.unwrittenNote.isEmpty())
        out << QString() << sheet.unwrittenNote;
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString SheetHtml(const TSettingsSheet& sheet)
{
    auto esc = [](const QString& text) { return text.toHtmlEscaped(); };
    QString html = QStringLiteral("<!DOCTYPE html>\n<html");
    if (!sheet.htmlLanguage.isEmpty())
        html += QStringLiteral(" lang=\"%1\"").arg(sheet.htmlLanguage);
    html += QStringLiteral("><head><meta charset=\"utf-8\"><title>%1</title></head>\n"
                           "<body style=\"font-family: sans-serif\">\n"
                           "<h2>%1</h2>\n<p>%2</p>\n")
                .arg(esc(sheet.title), esc(sheet.subtitle));
    for (const TSheetSection& s : sheet.sections) {
        html +=
            QStringLiteral(
                "<h3 style=\"margin-top: 18px\">%1</h3>\n<table width=\"100%\" cellspacing=\"0\" "
                "cellpadding=\"4\" border=\"1\" "
                "style=\"border-collapse: collapse; border-color: #999999\">\n")
                .arg(esc(s.title));
        for (const TSheetLine& l : s.lines) {
            // An unwritten row is pale amber and says so in words, for paper without colour.
            html +=
                l.unwritten ? QStringLiteral("<tr bgcolor=\"#ffe4a0\">") : QStringLiteral("<tr>");
            html += QStringLiteral("<td width=\"40%\">%1</td><td width=\"60%\"><b>%2</b>")
                        .arg(esc(l.caption), esc(l.value));
            if (l.unwritten)
                html += QStringLiteral(" &nbsp; <i>%1</i>").arg(esc(sheet.unwrittenMark));
            html += QStringLiteral("</td></tr>\n");
        }
        html += QStringLiteral("</table>\n");
    }
    if (!sheet.unwrittenNote.isEmpty())
        html += QStringLiteral("<p>%1</p>\n").arg(esc(sheet.unwrittenNote));
    html += QStringLiteral("</body></html>\n");
    return html;
}
