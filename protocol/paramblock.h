#pragma once
// The parameter block: decoding a read reply into the window, building the write payload from it.
// Widget-free: the window's fixed fields are reached through IBlockFields, the panel through
// IParameterPanel.

#include "protocol/panel.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class TsmlMsgLangRes;

// The fixed fields of the left column that the block touches.
class IBlockFields {
public:
    virtual ~IBlockFields() = default;
    virtual double ThrottleMin() const = 0; // LKorekceA, ms
    virtual double ThrottleMax() const = 0; // LKorekceB, ms
    virtual void SetThrottleMin(double ms) = 0;
    virtual void SetThrottleMax(double ms) = 0;
    virtual QString VersionCaption() const = 0; // LvH
    virtual QString PoleText() const = 0;       // EPocPolu
    virtual void SetPoleText(const QString& text) = 0;
    virtual QString RatioText() const = 0; // EPrevPom
    virtual void SetRatioText(const QString& text) = 0;
    virtual void EnableMaxRpm() = 0; // Lm and LmH
    virtual void SetMaxRpmText(const QString& text) = 0;
    // An error message box: caption "str2", the given text, error icon, OK.
    virtual void ShowError(const QString& text) = 0;
};

// A raw value picks one of at most 255 short lines of a lookup file: a larger file is refused like
// one that cannot be opened.
constexpr qint64 kLookupFileMaxBytes = 1024 * 1024;

struct DecodeEnv {
    QString programDir; // with a trailing "/"; the lookup files live here
    const TsmlMsgLangRes* messages = nullptr;
};

// What a decoding found wrong in the data it was given, beside what it showed: a message key and
// the arguments for its %1, %2 … The caller decides how often to show each.
struct DecodeNotice {
    QString key;
    QStringList args;
};
struct DecodeOutcome {
    QList<DecodeNotice> notices;
    // False when the decoding stopped before the display values and options: the block was not
    // read and must not be written back.
    bool complete = true;
};

DecodeOutcome DecodeReadReply(const QByteArray& payload, IBlockFields& fields,
                              IParameterPanel& panel, const DecodeEnv& env);

QByteArray BuildWritePayload(const IBlockFields& fields, const IParameterPanel& panel);

// The read payload the regulator would send after taking this write: the block of the last read
// with the written throttle limits and option bytes in place (measured values as last read). Lets
// a backup taken after a write hold what the regulator now keeps rather than what it held before.
QByteArray ReadPayloadAfterWrite(const QByteArray& read, const QByteArray& write,
                                 const QString& version, int displayCount, int groups);
