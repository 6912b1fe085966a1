#pragma once
// The parameter block: decoding a read reply into the window, building the write payload from it.
// Widget-free: the window's fixed fields travel as a TBlockFields value, the panel is reached
// through IParameterPanel.

#include "protocol/panel.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class TsmlMsgLangRes;

// The fixed fields of the left column that the block reads and writes, as values: decoding
// returns them, the write is built from them, and whoever shows them applies them.
struct TBlockFields {
    double throttleMin = 0; // LKorekceA, ms
    double throttleMax = 0; // LKorekceB, ms
    QString poles;          // EPocPolu
    QString ratio;          // EPrevPom
    // Lm and LmH: enabled and showing maxRpmText once a block with the speed value was decoded.
    bool maxRpmEnabled = false;
    QString maxRpmText;
};

// The throttle limits the regulator takes, in milliseconds: the window's fields and the tool's
// options keep within them.
constexpr double kThrottleMinLow = 0.70, kThrottleMinHigh = 1.40;
constexpr double kThrottleMaxLow = 1.70, kThrottleMaxHigh = 2.30;

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
    // The fields given, with what the block carried in their place.
    TBlockFields fields;
    // Which throttle limits the reply was long enough to carry; the others were left as given.
    bool throttleMinRead = false;
    bool throttleMaxRead = false;
    // Error boxes (caption "str2") the display values asked for, in order.
    QStringList errors;
    QList<DecodeNotice> notices;
    // False when the decoding stopped before the display values and options: the block was not
    // read and must not be written back.
    bool complete = true;
    qsizetype displayStart = 0; // where the display values begin in the payload
};

// A read reply decoded into the fixed fields given and the panel. The version text (LvH) tells
// where the block's later bytes stand.
DecodeOutcome DecodeReadReply(const QByteArray& payload, const QString& version,
                              const TBlockFields& fields, IParameterPanel& panel,
                              const DecodeEnv& env);

// The same a part at a time, for a window that shows the fields, then the display values and
// their error boxes, before the options change the panel's selections. The later parts do
// nothing after an incomplete outcome.
DecodeOutcome DecodeBlockFields(const QByteArray& payload, const QString& version,
                                const TBlockFields& fields);
void DecodeDisplayValues(const QByteArray& payload, IParameterPanel& panel, const DecodeEnv& env,
                         DecodeOutcome& outcome);
void DecodeOptions(const QByteArray& payload, IParameterPanel& panel, const DecodeOutcome& outcome);

// The least payload length of a read reply for this model: the throttle limits, T when the version
// reports it, one byte per display entry and one per option group. Longer replies carry option
// bytes the model has no group for. Empty when the version gives no number (the decoding says so).
std::optional<qsizetype> ReadPayloadMinimum(const QString& version, int displayCount, int groups);

// A throttle limit in ms as the write sends it: microseconds, to the nearest (ties to even), within
// one 16-bit word.
int ToWire(double ms);
QByteArray BuildWritePayload(const TBlockFields& fields, const IParameterPanel& panel);

// The read payload the regulator would send after taking this write: the block of the last read
// with the written throttle limits and option bytes in place (measured values as last read). Lets
// a backup taken after a write hold what the regulator now keeps rather than what it held before.
QByteArray ReadPayloadAfterWrite(const QByteArray& read, const QByteArray& write,
                                 const QString& version, int displayCount, int groups);
