#include "common/numbers.h"

#include "common/errors.h"

#include <QLocale>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

// Significant digits the displayed values carry: the double's reliable precision, so that
// 0.1 * 3 shows as 0.3 and not as 0.30000000000000004.
constexpr int kDisplayDigits = 15;

int HexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

} // namespace

QString HexByte(int v)
{
    return QStringLiteral("%1").arg(static_cast<uint>(v), 2, 16, QLatin1Char('0')).toUpper();
}

qint64 HexToInt(const QString& text)
{
    constexpr int kMaxDigits = 16;
    auto fail = [&text]() {
        return EConvertError(QStringLiteral("'%1' is not a valid hexadecimal value").arg(text));
    };
    if (text.isEmpty() || text.size() > kMaxDigits)
        throw fail();
    quint64 value = 0;
    for (const QChar c : text) {
        const int d = HexDigitValue(c);
        if (d < 0)
            throw fail();
        value = value * 16 + static_cast<quint64>(d);
    }
    if (value > static_cast<quint64>(std::numeric_limits<qint64>::max()))
        throw fail();
    return static_cast<qint64>(value);
}

double TextToFloat(const QString& text)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
    QString t = text.trimmed();
    qsizetype sep = t.indexOf(QLatin1Char(','));
    if (sep < 0)
        sep = t.indexOf(QLatin1Char('.'));
    if (sep >= 0)
        t.replace(sep, 1, locale.decimalPoint());
    bool ok = false;
    const double value = locale.toDouble(t, &ok);
    if (!ok || !std::isfinite(value))
        throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return value;
}

double RoundDecimals(int d, double x)
{
    const double scale = std::pow(10.0, d);
    return std::nearbyint(x * scale) / scale;
}

QString FloatToText(double x)
{
    if (std::isnan(x))
        return QStringLiteral("NAN");
    if (std::isinf(x))
        return x > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (x == 0)
        return QStringLiteral("0"); // also for -0, which would show as "-0"

    char buf[64];
    const auto res =
        std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, kDisplayDigits);
    QString out = QString::fromLatin1(buf, res.ptr - buf);
    const qsizetype e = out.indexOf(QLatin1Char('e'));
    if (e >= 0)
        out[e] = QLatin1Char('E');
    const qsizetype dot = out.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        out.replace(dot, 1, QLocale().decimalPoint());
    return out;
}
