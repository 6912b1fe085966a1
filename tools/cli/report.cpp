#include "tools/cli/report.h"

#include "common/numbers.h"
#include "i18n/msglangres.h"
#include "models/modelfile.h"
#include "models/panelmodel.h"
#include "tools/cli/options.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cmath>
#include <exception>

namespace {

QString Ms(int us) { return QString::number(us / 1000.0, 'f', 2); }

QString DisplayCaption(const TPanelModel& panel, int i) { return panel.Caption(i); }

QString GroupCaption(const TPanelModel& panel, int g)
{
    const TPanelGroup* group = panel.Group(g);
    return group ? group->caption.trimmed() : QString();
}

QString ItemText(const TPanelModel& panel, int g, int index)
{
    const TPanelGroup* group = panel.Group(g);
    return group && index >= 0 && index < group->items.size() ? group->items[index] : QString();
}

QJsonObject IdentityObject(const TReadReport& r)
{
    QJsonObject o;
    o[QStringLiteral("name")] = r.name;
    o[QStringLiteral("version")] = r.version;
    o[QStringLiteral("date")] = r.date;
    o[QStringLiteral("keepsLog")] = r.keepsLog;
    return o;
}

QString Json(QJsonObject o)
{
    o[QStringLiteral("schemaVersion")] = kCliSchemaVersion;
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)).trimmed();
}

// An adapter's access in fixed words for JSON, and the message key of the short reason beside one
// the tool cannot open (null for one it can).
struct TAccess {
    const char* word;
    const char* key;
};
TAccess Access(TPortProbe probe)
{
    switch (probe) {
    case TPortProbe::Opens:
        return {"ok", nullptr};
    case TPortProbe::NoPermission:
        return {"denied", "str190"};
    case TPortProbe::Busy:
        return {"busy", "str191"};
    case TPortProbe::Missing:
    case TPortProbe::Refused:
        break;
    }
    return {"failed", "str192"};
}

TAccess Access(FtOpenFailure problem)
{
    switch (problem) {
    case FtOpenFailure::None:
        return {"ok", nullptr};
    case FtOpenFailure::Denied:
        return {"denied", "str190"};
    case FtOpenFailure::Busy:
        return {"busy", "str191"};
    case FtOpenFailure::Gone:
    case FtOpenFailure::Other:
        break;
    }
    return {"failed", "str192"};
}

} // namespace

QString IdentityText(const TReadReport& r)
{
    return QStringLiteral("name: %1\nversion: %2\ndate: %3\nlog: %4")
        .arg(r.name, r.version, r.date, r.keepsLog ? QStringLiteral("yes") : QStringLiteral("no"));
}

QString IdentityJson(const TReadReport& r) { return Json(IdentityObject(r)); }

QString ReadText(const TReadReport& r)
{
    QStringList lines{IdentityText(r)};
    lines << QStringLiteral("throttle-min: %1 ms").arg(Ms(r.throttleMinUs))
          << QStringLiteral("throttle-max: %1 ms").arg(Ms(r.throttleMaxUs));
    if (r.maxRpm)
        lines << QStringLiteral("max-rpm: %1 (poles %2, ratio 1:%3)")
                     .arg(*r.maxRpm, r.poles, r.ratio);
    const TPanelModel& p = *r.panel;
    for (int i = 0; i < p.DisplayCount(); ++i)
        lines << QStringLiteral("%1 %2").arg(DisplayCaption(p, i), p.DisplayText(i));
    for (int g = 0; g < p.GroupCount(); ++g) {
        const int index = p.ItemIndex(g);
        lines << QStringLiteral("[%1] %2").arg(
            GroupCaption(p, g), index < 0 ? QStringLiteral("-") : ItemText(p, g, index));
    }
    if (!p.UnassignedBytes().isEmpty())
        lines << QStringLiteral("unassigned: %1")
                     .arg(QString::fromLatin1(p.UnassignedBytes().toHex(' ').toUpper()));
    return lines.join(QLatin1Char('\n'));
}

namespace {

// A number for JSON, whatever the locale wrote it with; null for a text that is none ("-----", a
// lookup line such as "20 °C").
QJsonValue NumberOrNull(const QString& text)
{
    try {
        const double x = TextToFloat(text.trimmed());
        return std::isfinite(x) ? QJsonValue(x) : QJsonValue();
    } catch (const std::exception&) {
        return QJsonValue();
    }
}

// A display value as the window shows it: a number, or a number and its unit from a lookup file
// ("20 °C"), the unit apart; null for a text that holds no number.
QJsonValue DisplayNumber(const QString& text, QString* unit)
{
    static const QRegularExpression numberAndUnit(
        QStringLiteral("^\\s*([-+]?\\d+(?:[.,]\\d+)?)\\s*(\\D.*)?$"));
    const QRegularExpressionMatch m = numberAndUnit.match(text);
    if (!m.hasMatch())
        return NumberOrNull(text);
    *unit = m.captured(2).trimmed();
    return NumberOrNull(m.captured(1));
}

// The ids of the model definition file, which stay the same in every language: a group is its
// section's name, a display entry its key in the last section.
QString GroupId(const TPanelModel& p, int g)
{
    const QStringList& sections = p.Definition().SectionNames();
    return g >= 0 && g < sections.size() - 1 ? sections[g] : QString::number(g);
}

QString DisplayId(const TPanelModel& p, int i)
{
    const QList<QStringList>& entries = p.Definition().SectionEntries();
    if (entries.isEmpty() || i < 0 || i >= entries.last().size())
        return QString::number(i);
    return entries.last()[i].section(QLatin1Char('='), 0, 0).trimmed();
}

} // namespace

QString ReadJson(const TReadReport& r)
{
    QJsonObject o = IdentityObject(r);
    o[QStringLiteral("throttleMinMs")] = r.throttleMinUs / 1000.0;
    o[QStringLiteral("throttleMaxMs")] = r.throttleMaxUs / 1000.0;
    o[QStringLiteral("throttleMinUs")] = r.throttleMinUs;
    o[QStringLiteral("throttleMaxUs")] = r.throttleMaxUs;
    if (r.maxRpm) {
        o[QStringLiteral("maxRpm")] = NumberOrNull(*r.maxRpm);
        o[QStringLiteral("poles")] = NumberOrNull(r.poles);
        o[QStringLiteral("ratio")] = NumberOrNull(r.ratio);
    }
    const TPanelModel& p = *r.panel;
    QJsonArray display;
    for (int i = 0; i < p.DisplayCount(); ++i) {
        QString unit;
        const QJsonValue value = DisplayNumber(p.DisplayText(i), &unit);
        QJsonObject entry{{QStringLiteral("id"), DisplayId(p, i)},
                          {QStringLiteral("caption"), DisplayCaption(p, i)},
                          {QStringLiteral("value"), value},
                          // The text as shown, but a number in the same form whatever the locale.
                          {QStringLiteral("text"), value.isDouble() && unit.isEmpty()
                                                       ? QString::number(value.toDouble())
                                                       : p.DisplayText(i)}};
        if (!unit.isEmpty())
            entry[QStringLiteral("unit")] = unit;
        display.append(entry);
    }
    o[QStringLiteral("display")] = display;
    QJsonArray groups;
    for (int g = 0; g < p.GroupCount(); ++g) {
        const int index = p.ItemIndex(g);
        QJsonObject group{{QStringLiteral("id"), GroupId(p, g)},
                          {QStringLiteral("caption"), GroupCaption(p, g)},
                          {QStringLiteral("index"), index}};
        group[QStringLiteral("item")] =
            index < 0 ? QJsonValue() : QJsonValue(ItemText(p, g, index));
        groups.append(group);
    }
    o[QStringLiteral("groups")] = groups;
    o[QStringLiteral("unassigned")] = QString::fromLatin1(p.UnassignedBytes().toHex(' ').toUpper());
    return Json(o);
}

QString ErrorJson(int status, const QStringList& messages)
{
    // Texts made for a box break their lines with carriage returns.
    QString message = messages.join(QLatin1Char('\n'));
    message.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), '\n');
    QJsonObject error{{QStringLiteral("code"), status},
                      {QStringLiteral("status"), QLatin1String(ExitStatusWord(status))},
                      {QStringLiteral("message"), message}};
    return Json(QJsonObject{{QStringLiteral("error"), error}});
}

QString PortsText(const TPortReport& r, const TsmlMsgLangRes& messages)
{
    QStringList lines;
    for (const TPortStatus& port : r.serial) {
        QString line = QStringLiteral("serial %1").arg(port.path);
        if (!port.target.isEmpty())
            line += QStringLiteral(" -> %1").arg(port.target);
        if (const char* key = Access(port.probe).key)
            line += QStringLiteral(" (%1)").arg(messages.LookupMessage(QLatin1String(key)));
        lines << line;
    }
    for (const TPortReport::Adapter& a : r.adapters) {
        // A string the adapter did not give keeps its place, so the columns stay where they are.
        const auto word = [](const QString& s) { return s.isEmpty() ? QStringLiteral("-") : s; };
        QString line = QStringLiteral("usb %1 %2").arg(word(a.serialNo), word(a.description));
        if (const char* key = Access(a.problem).key)
            line += QStringLiteral(" (%1)").arg(messages.LookupMessage(QLatin1String(key)));
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

QString PortsJson(const TPortReport& r)
{
    QJsonArray serial, serialPorts;
    for (const TPortStatus& port : r.serial) {
        if (port.target.isEmpty() && port.probe == TPortProbe::Opens)
            serial.append(port.path);
        QJsonObject o{{QStringLiteral("path"), port.path},
                      {QStringLiteral("access"), QLatin1String(Access(port.probe).word)}};
        if (!port.target.isEmpty())
            o[QStringLiteral("target")] = port.target;
        serialPorts.append(o);
    }
    QJsonArray usb;
    for (const TPortReport::Adapter& a : r.adapters)
        usb.append(QJsonObject{{QStringLiteral("serialNumber"), a.serialNo},
                               {QStringLiteral("description"), a.description},
                               {QStringLiteral("access"), QLatin1String(Access(a.problem).word)}});
    return Json(QJsonObject{{QStringLiteral("serial"), serial},
                            {QStringLiteral("serialPorts"), serialPorts},
                            {QStringLiteral("usb"), usb}});
}
