#pragma once
// What korvalinex-cli prints: the identity and the decoded parameter block, as lines of text or as
// one JSON object (with "schemaVersion"; numbers as numbers, in no locale's form). The field names
// are part of the output format and stay the same in every language; captions and item texts come
// from the model definition file of the chosen language.

#include "link/ftd2xx.h"
#include "link/portlist.h"
#include "models/panelmodel.h"

#include <QString>
#include <QStringList>
#include <optional>

class TsmlMsgLangRes;

// The form of the JSON output; raised by any change that could break a script that reads it.
inline constexpr int kCliSchemaVersion = 1;

struct TReadReport {
    QString name, version, date;
    bool keepsLog = false;
    int throttleMinUs = 0, throttleMaxUs = 0;
    std::optional<QString> maxRpm; // only for regulators that report the speed value
    QString poles, ratio;
    const TPanelModel* panel = nullptr;
};

QString IdentityText(const TReadReport& r);
QString IdentityJson(const TReadReport& r);
QString ReadText(const TReadReport& r);
QString ReadJson(const TReadReport& r);
// A failure in JSON: its exit status as a number and a word, and what was said about it.
QString ErrorJson(int status, const QStringList& messages);

struct TPortReport {
    // Every serial device and stable name there, with what opening it found; those that do not
    // open are listed with the reason as adapters are.
    QList<TPortStatus> serial;
    struct Adapter {
        QString serialNo, description;               // empty where the adapter could not tell
        FtOpenFailure problem = FtOpenFailure::None; // why the tool could not open it
    };
    QList<Adapter> adapters;
};
// A port or adapter that cannot be opened is followed by the reason in the messages' language; the
// JSON field "access" says it in fixed words: ok, denied, busy, failed. "serial" lists the devices
// that open, as it always has; "serialPorts" all of them with their stable names.
QString PortsText(const TPortReport& r, const TsmlMsgLangRes& messages);
QString PortsJson(const TPortReport& r);
