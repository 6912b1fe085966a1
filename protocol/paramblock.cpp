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

void ShowMaxRpm(const QByteArray& p, IBlockFields& fields)
{
    fields.EnableMaxRpm();
    const QString zero = QStringLiteral("0");
    if (fields.PoleText().isEmpty() || fields.PoleText() == zero)
        fields.SetPoleText(QStringLiteral("2"));
    if (fields.RatioText().isEmpty() || fields.RatioText() == zero)
        fields.SetRatioText(QStringLiteral("1"));

    if (p.size() < kThrottleBytes + kSpeedBytes) {
        fields.SetMaxRpmText(kPlaceholder);
        return;
    }
    const int t = Word(p, kThrottleBytes);
    const std::optional<double> poles = ToFloat(fields.PoleText());
    const std::optional<double> ratio = ToFloat(fields.RatioText());
    // "00" or "0,0" pass the empty-or-"0" test above and still mean zero: no division then.
    if (t == 0 || !poles || !ratio || *poles == 0 || *ratio == 0) {
        fields.SetMaxRpmText(kPlaceholder);
        return;
    }
    const double rpm = RoundDecimals(1, kRpmNumerator / (t * *poles * *ratio));
    QString text = FloatToText(rpm);
    if (ByteAt(p, kThrottleBytes) == kSpeedSaturated &&
        ByteAt(p, kThrottleBytes + 1) == kSpeedSaturated)
        text.prepend(QLatin1Char('<')); // the counter ran over: the real maximum is lower
    fields.SetMaxRpmText(text);
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

void ShowDisplayEntries(const QByteArray& p, qsizetype base, IBlockFields& fields,
                        IParameterPanel& panel, const DecodeEnv& env, DecodeOutcome& outcome)
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
                fields.ShowError(messages.LookupMessage(QStringLiteral("str1")) +
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

int ToWire(double ms)
{
    const double us = std::nearbyint(ms * kMicrosPerMilli);
    if (!(us > 0)) // NaN too
        return 0;
    return us > kMaxWireValue ? kMaxWireValue : static_cast<int>(us);
}

void AppendWord(QByteArray& out, int v)
{
    out.append(static_cast<char>(v >> 8));
    out.append(static_cast<char>(v & 0xFF));
}

} // namespace

DecodeOutcome DecodeReadReply(const QByteArray& payload, IBlockFields& fields,
                              IParameterPanel& panel, const DecodeEnv& env)
{
    DecodeOutcome outcome;
    const QByteArray& p = payload;
    if (p.size() >= kThrottleBytes)
        fields.SetThrottleMin(Word(p, 2) / kMicrosPerMilli);
    if (p.size() >= 2)
        fields.SetThrottleMax(Word(p, 0) / kMicrosPerMilli);

    qsizetype base = kThrottleBytes;
    const QString version = fields.VersionCaption();
    const std::optional<int> versionNumber = VersionNumber(version);
    if (!versionNumber) {
        // Without the number it is unknown whether T is present, so every later byte would be
        // taken from a guessed place: nothing more is decoded.
        outcome.notices.append({kNoticeVersionWithoutNumber, {version}});
        outcome.complete = false;
        return outcome;
    }
    if (*versionNumber >= kFirstVersionWithSpeed) {
        ShowMaxRpm(p, fields);
        base = kThrottleBytes + kSpeedBytes;
    }

    ShowDisplayEntries(p, base, fields, panel, env, outcome);

    const qsizetype optionsStart = base + panel.DisplayCount();
    ApplyOptions(optionsStart < p.size() ? p.mid(optionsStart) : QByteArray(), panel);
    return outcome;
}

QByteArray BuildWritePayload(const IBlockFields& fields, const IParameterPanel& panel)
{
    QByteArray out;
    AppendWord(out, ToWire(fields.ThrottleMax()));
    AppendWord(out, ToWire(fields.ThrottleMin()));
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
