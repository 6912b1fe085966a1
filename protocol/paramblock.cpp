#include "protocol/paramblock.h"

#include "common/errors.h"
#include "common/numbers.h"
#include "common/readfile.h"
#include "common/textcodec.h"
#include "i18n/msglangres.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

const QString kPlaceholder = QStringLiteral("- - - - -");
const QString kFirstLookupFile = QStringLiteral("Teplota1.txt");
const QString kLaterLookupFile = QStringLiteral("Teplota2.txt");

constexpr int kThrottleBytes = 4;
constexpr int kSpeedBytes = 2;
// Firmware from this version on reports the speed value T after the throttle limits.
constexpr int kFirstVersionWithSpeed = 3;
constexpr int kMultiplierSlots = 3;
constexpr double kRpmNumerator = 1.2e8;
constexpr unsigned char kSpeedSaturated = 0xFF;
constexpr double kMicrosPerMilli = 1000.0;
constexpr int kMaxWireValue = 0xFFFF;
constexpr int kMaxOptionByte = 0xFF;

const QString kNoticeLookupBeyondFile = QStringLiteral("str90");
const QString kNoticeVersionWithoutNumber = QStringLiteral("str91");

unsigned char ByteAt(const QByteArray& p, qsizetype i) { return static_cast<unsigned char>(p[i]); }

int Word(const QByteArray& p, qsizetype i) { return ByteAt(p, i) * 256 + ByteAt(p, i + 1); }

// The third and fourth characters of the version text as a decimal number, when they are two
// digits.
std::optional<int> VersionNumber(const QString& version)
{
    if (version.size() < 4)
        return std::nullopt;
    const QChar hi = version[2];
    const QChar lo = version[3];
    auto digit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    if (!digit(hi) || !digit(lo))
        return std::nullopt;
    return (hi.unicode() - u'0') * 10 + (lo.unicode() - u'0');
}

std::optional<double> ToFloat(const QString& text)
{
    try {
        return TextToFloat(text);
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

void ShowMaxRpm(const QByteArray& p, TBlockFields& fields)
{
    fields.maxRpmEnabled = true;
    const QString zero = QStringLiteral("0");
    if (fields.poles.isEmpty() || fields.poles == zero)
        fields.poles = QStringLiteral("2");
    if (fields.ratio.isEmpty() || fields.ratio == zero)
        fields.ratio = QStringLiteral("1");

    if (p.size() < kThrottleBytes + kSpeedBytes) {
        fields.maxRpmText = kPlaceholder;
        return;
    }
    const int t = Word(p, kThrottleBytes);
    const std::optional<double> poles = ToFloat(fields.poles);
    const std::optional<double> ratio = ToFloat(fields.ratio);
    // "00" or "0,0" pass the empty-or-"0" test above and still mean zero: no division then.
    if (t == 0 || !poles || !ratio || *poles == 0 || *ratio == 0) {
        fields.maxRpmText = kPlaceholder;
        return;
    }
    const double rpm = RoundDecimals(1, kRpmNumerator / (t * *poles * *ratio));
    QString text = FloatToText(rpm);
    if (ByteAt(p, kThrottleBytes) == kSpeedSaturated &&
        ByteAt(p, kThrottleBytes + 1) == kSpeedSaturated)
        text.prepend(QLatin1Char('<')); // the counter ran over: the real maximum is lower
    fields.maxRpmText = text;
}

// Lines split on CR LF or LF; a line break at the very end does not start another line.
std::optional<QStringList> ReadLookupFile(const QString& path)
{
    const TFileRead read = ReadFileWithLimit(path, kLookupFileMaxBytes);
    if (!read.Ok())
        return std::nullopt; // too large counts as cannot be opened: the same box names the file
    QString text = DecodeText(read.bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    return lines;
}

void ShowDisplayEntries(const QByteArray& p, qsizetype base, IParameterPanel& panel,
                        const DecodeEnv& env, DecodeOutcome& outcome)
{
    const int n = panel.DisplayCount();
    const int multiplierCount = panel.MultiplierCount();
    bool firstLookup = true;
    for (int i = 1; i <= n; ++i) {
        const qsizetype at = base + i - 1;
        if (at >= p.size())
            return; // a short reply: the remaining labels keep their texts
        const int raw = ByteAt(p, at);
        const int label = i - 1;
        const double m = i <= kMultiplierSlots ? panel.Multiplier(i) : 0.0;
        if (i <= kMultiplierSlots && m != 0 && i <= multiplierCount) {
            panel.SetDisplayText(label, FloatToText(raw * m));
        } else {
            const QString path =
                env.programDir + (firstLookup ? kFirstLookupFile : kLaterLookupFile);
            firstLookup = false;
            const std::optional<QStringList> lines = ReadLookupFile(path);
            if (!lines) {
                const TsmlMsgLangRes builtIn;
                const TsmlMsgLangRes& messages = env.messages ? *env.messages : builtIn;
                // The label keeps its text and the next entry is decoded.
                outcome.errors.append(messages.LookupMessage(QStringLiteral("str1")) +
                                      QLatin1Char('\r') + path + QLatin1Char('.'));
            } else if (raw != 0) {
                if (raw <= lines->size()) {
                    panel.SetDisplayText(label, lines->at(raw - 1));
                } else {
                    panel.SetDisplayText(label, QString::number(raw));
                    outcome.notices.append({kNoticeLookupBeyondFile, {QString::number(raw), path}});
                }
            }
        }
        if (panel.DisplayText(label) == QLatin1String("0"))
            panel.SetDisplayText(label, kPlaceholder);
    }
}

void ApplyOptions(const QByteArray& values, IParameterPanel& panel)
{
    const int groups = panel.GroupCount();
    const qsizetype positions = values.size();

    // Everything that group 0's click handler reads is settled before any selection changes:
    // the handler runs from inside SetItemIndex(0, …).
    int active = 0;
    for (qsizetype k = 0; k < positions && k < groups; ++k)
        if (ByteAt(values, k) != 0)
            ++active;
    panel.SetActiveOptionCount(active);
    panel.SetUnassignedBytes(groups < positions ? values.mid(groups) : QByteArray());

    for (qsizetype k = std::min<qsizetype>(positions, groups) - 1; k >= 0; --k) {
        const int g = static_cast<int>(k);
        const int v = ByteAt(values, k);
        const int items = panel.ItemCount(g);
        if (v <= items)
            panel.SetItemIndex(g, v - 1);
        panel.SetItemColours(g, v >= 1 && v <= items ? v - 1 : -1);
    }
}

void AppendWord(QByteArray& out, int v)
{
    out.append(static_cast<char>(v >> 8));
    out.append(static_cast<char>(v & 0xFF));
}

} // namespace

int ToWire(double ms)
{
    const double us = std::nearbyint(ms * kMicrosPerMilli);
    if (!(us > 0)) // NaN too
        return 0;
    return us > kMaxWireValue ? kMaxWireValue : static_cast<int>(us);
}

DecodeOutcome DecodeBlockFields(const QByteArray& payload, const QString& version,
                                const TBlockFields& fields)
{
    DecodeOutcome outcome;
    outcome.fields = fields;
    const QByteArray& p = payload;
    outcome.throttleMinRead = p.size() >= kThrottleBytes;
    if (outcome.throttleMinRead)
        outcome.fields.throttleMin = Word(p, 2) / kMicrosPerMilli;
    outcome.throttleMaxRead = p.size() >= 2;
    if (outcome.throttleMaxRead)
        outcome.fields.throttleMax = Word(p, 0) / kMicrosPerMilli;

    outcome.displayStart = kThrottleBytes;
    const std::optional<int> versionNumber = VersionNumber(version);
    if (!versionNumber) {
        // Without the number it is unknown whether T is present, so every later byte would be
        // taken from a guessed place: nothing more is decoded.
        outcome.notices.append({kNoticeVersionWithoutNumber, {version}});
        outcome.complete = false;
        return outcome;
    }
    if (*versionNumber >= kFirstVersionWithSpeed) {
        ShowMaxRpm(p, outcome.fields);
        outcome.displayStart = kThrottleBytes + kSpeedBytes;
    }
    return outcome;
}

void DecodeDisplayValues(const QByteArray& payload, IParameterPanel& panel, const DecodeEnv& env,
                         DecodeOutcome& outcome)
{
    if (outcome.complete)
        ShowDisplayEntries(payload, outcome.displayStart, panel, env, outcome);
}

void DecodeOptions(const QByteArray& payload, IParameterPanel& panel, const DecodeOutcome& outcome)
{
    if (!outcome.complete)
        return;
    const qsizetype optionsStart = outcome.displayStart + panel.DisplayCount();
    ApplyOptions(optionsStart < payload.size() ? payload.mid(optionsStart) : QByteArray(), panel);
}

DecodeOutcome DecodeReadReply(const QByteArray& payload, const QString& version,
                              const TBlockFields& fields, IParameterPanel& panel,
                              const DecodeEnv& env)
{
    DecodeOutcome outcome = DecodeBlockFields(payload, version, fields);
    DecodeDisplayValues(payload, panel, env, outcome);
    DecodeOptions(payload, panel, outcome);
    return outcome;
}

std::optional<qsizetype> ReadPayloadMinimum(const QString& version, int displayCount, int groups)
{
    const std::optional<int> number = VersionNumber(version);
    if (!number)
        return std::nullopt;
    const qsizetype base = kThrottleBytes + (*number >= kFirstVersionWithSpeed ? kSpeedBytes : 0);
    return base + std::max(displayCount, 0) + std::max(groups, 0);
}

QByteArray BuildWritePayload(const TBlockFields& fields, const IParameterPanel& panel)
{
    QByteArray out;
    AppendWord(out, ToWire(fields.throttleMax));
    AppendWord(out, ToWire(fields.throttleMin));
    const int groups = panel.GroupCount();
    for (int k = 0; k < panel.ActiveOptionCount(); ++k) {
        const int value = k < groups ? std::max(panel.ItemIndex(k) + 1, 0) : 0;
        if (value > kMaxOptionByte)
            throw EKorvalinexError(
                QStringLiteral("Option group %1: item %2 cannot be sent in one byte.")
                    .arg(k)
                    .arg(value));
        out.append(static_cast<char>(value));
    }
    out.append(panel.UnassignedBytes());
    return out;
}

QByteArray ReadPayloadAfterWrite(const QByteArray& read, const QByteArray& write,
                                 const QString& version, int displayCount, int groups)
{
    if (read.size() < kThrottleBytes || write.size() < kThrottleBytes)
        return read;
    const std::optional<int> number = VersionNumber(version);
    const qsizetype base =
        kThrottleBytes + (number && *number >= kFirstVersionWithSpeed ? kSpeedBytes : 0);
    QByteArray out = read;
    out.replace(0, kThrottleBytes, write.left(kThrottleBytes));
    const qsizetype optionsStart = base + displayCount;
    if (out.size() < optionsStart)
        out.append(QByteArray(optionsStart - out.size(), '\0'));
    // The write carries the groups up to the active count, then the unassigned bytes; the groups
    // it leaves out keep their value.
    const QByteArray values = write.mid(kThrottleBytes);
    QByteArray options = out.mid(optionsStart);
    const qsizetype unassignedInWrite = std::max<qsizetype>(0, options.size() - groups);
    const qsizetype groupBytes = std::max<qsizetype>(0, values.size() - unassignedInWrite);
    if (options.size() < groupBytes)
        options.append(QByteArray(groupBytes - options.size(), '\0'));
    options.replace(0, groupBytes, values.left(groupBytes));
    return out.left(optionsStart) + options;
}
