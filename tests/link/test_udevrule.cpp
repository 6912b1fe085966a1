// The udev rule that lets a user at the seat open the FTDI adapters: it must run before the seat
// rules turn its tag into an access list, and udev skips a line it cannot parse without a word.

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

const QString kDataDir = QStringLiteral(KX_SOURCE_DIR "/data");

QString ShippedRule()
{
    const QStringList rules = QDir(kDataDir).entryList({QStringLiteral("*korvalinex*.rules")});
    return rules.size() == 1 ? rules.front() : QString();
}

// One KEY op "value" pair of a rule line; empty when the text is not one.
struct Pair {
    QString key, op, value;
};

std::vector<Pair> ParseLine(const QString& line, QString* error)
{
    static const QRegularExpression pair(QStringLiteral(
        R"re(^\s*([A-Z_]+(?:\{[A-Za-z_]+\})?)\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(,|$))re"));
    std::vector<Pair> pairs;
    QString rest = line;
    while (!rest.trimmed().isEmpty()) {
        const QRegularExpressionMatch m = pair.match(rest);
        if (!m.hasMatch()) {
            *error = QStringLiteral("cannot parse: ") + rest;
            return {};
        }
        pairs.push_back({m.captured(1), m.captured(2), m.captured(3)});
        rest = rest.mid(m.capturedLength());
    }
    return pairs;
}

} // namespace

TEST(UdevRule, SortsBeforeTheSeatRules)
{
    const QString name = ShippedRule();
    ASSERT_FALSE(name.isEmpty()) << "exactly one rule file ships in data/";
    // udev runs the files of all its folders in the order of their names.
    EXPECT_LT(name.toStdString(), "70-uaccess.rules");
    EXPECT_LT(name.toStdString(), "73-seat-late.rules");
}

TEST(UdevRule, EveryLineParsesWithKnownKeysAndGivesTheListedAdaptersToTheSeat)
{
    QFile file(kDataDir + QLatin1Char('/') + ShippedRule());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    // Keys as udev spells them; a typo ("ATTR{idVender}", "SUBSYTEM") would match nothing.
    const QSet<QString> keys = {"ACTION",
                                "SUBSYSTEM",
                                "SUBSYSTEMS",
                                "KERNEL",
                                "DRIVER",
                                "ENV{DEVTYPE}",
                                "ENV{ID_VENDOR_ID}",
                                "ENV{ID_MODEL_ID}",
                                "ATTR{idVendor}",
                                "ATTR{idProduct}",
                                "ATTRS{idVendor}",
                                "ATTRS{idProduct}",
                                "TAG",
                                "MODE",
                                "GROUP",
                                "GOTO",
                                "LABEL"};
    const QSet<QString> assignments = {"TAG", "MODE", "GROUP", "GOTO", "LABEL"};
    // The product ids the README names, each with its own line.
    QSet<QString> products = {"6001", "6010", "6011", "6014", "6015"};
    QSet<QString> labels, gotos;
    int lineNo = 0;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        ++lineNo;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        SCOPED_TRACE(lineNo);
        QString error;
        const std::vector<Pair> pairs = ParseLine(line, &error);
        ASSERT_FALSE(pairs.empty()) << error.toStdString();
        QString vendor, product;
        bool seat = false, group = false, mode = false;
        for (const Pair& p : pairs) {
            EXPECT_TRUE(keys.contains(p.key)) << p.key.toStdString();
            const bool assigns = p.op != QLatin1String("==") && p.op != QLatin1String("!=");
            EXPECT_EQ(assigns, assignments.contains(p.key)) << p.key.toStdString();
            if (p.key == QLatin1String("LABEL"))
                labels.insert(p.value);
            if (p.key == QLatin1String("GOTO"))
                gotos.insert(p.value);
            if (p.key.endsWith(QLatin1String("{idVendor}")))
                vendor = p.value;
            if (p.key.endsWith(QLatin1String("{idProduct}")))
                product = p.value;
            seat |= p.key == QLatin1String("TAG") && p.op == QLatin1String("+=") &&
                    p.value == QLatin1String("uaccess");
            group |= p.key == QLatin1String("GROUP") && p.value == QLatin1String("plugdev");
            mode |= p.key == QLatin1String("MODE") && p.value == QLatin1String("0664");
        }
        if (product.isEmpty())
            continue;
        EXPECT_EQ(vendor, QStringLiteral("0403"));
        EXPECT_TRUE(products.remove(product)) << "unknown or repeated " << product.toStdString();
        EXPECT_TRUE(seat && group && mode) << "seat, group fallback and mode on every adapter";
    }
    EXPECT_TRUE(products.isEmpty())
        << "no line for " << QStringList(products.values()).join(',').toStdString();
    EXPECT_EQ(gotos, labels) << "every jump has its label";
}
