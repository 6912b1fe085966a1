#include "models/writecheck.h"

#include "models/panelmodel.h"
#include "models/paramcompare.h"

namespace {

constexpr int kWordBytes = 2;
constexpr int kThrottleBytes = 2 * kWordBytes;

int Word(const QByteArray& p, int at)
{
    if (p.size() < at + kWordBytes)
        return -1;
    return static_cast<unsigned char>(p[at]) * 256 + static_cast<unsigned char>(p[at + 1]);
}

QString MsText(int us) { return us < 0 ? QString() : ThrottleText(us) + QStringLiteral(" ms"); }

// A group's byte as the user reads it: the item's text, or the byte itself when it names none.
QString ItemText(const TPanelModel& panel, int g, const QByteArray& payload, qsizetype at)
{
    if (at >= payload.size())
        return QString();
    const int value = static_cast<unsigned char>(payload[at]);
    const TPanelGroup* group = panel.Group(g);
    if (group && value >= 1 && value <= group->items.size())
        return group->items[value - 1].trimmed();
    return QString::number(value);
}

} // namespace

QByteArray HeldWritePayload(const QByteArray& readPayload, const QString& version,
                            const TPanelModel& panel)
{
    TBlockLayout layout{version, panel.DisplayCount(), {}};
    for (int g = 0; g < panel.GroupCount(); ++g)
        layout.itemCounts.append(panel.ItemCount(g));
    const std::optional<TBlockImage> image = ImageFromReadPayload(readPayload, layout);
    return image ? image->WritePayload() : QByteArray();
}

TWriteCheck CheckWrite(const QByteArray& sent, const QByteArray& readPayload,
                       const QString& version, const TPanelModel& panel)
{
    TWriteCheck check{sent, HeldWritePayload(readPayload, version, panel), {}};
    if (check.Confirmed())
        return check;
    using Kind = TWriteDifference::Kind;
    const QByteArray& held = check.held;
    for (const auto& [kind, at] : {std::pair{Kind::ThrottleMax, 0}, {Kind::ThrottleMin, 2}}) {
        const int a = Word(sent, at), b = Word(held, at);
        if (a != b)
            check.differences.append({kind, -1, QString(), MsText(a), MsText(b)});
    }
    // The group bytes as the block read back counts them; what follows them is the bytes the model
    // has no group for.
    const int groups =
        std::min(panel.GroupCount(),
                 int(std::max<qsizetype>(0, std::max(sent.size(), held.size()) - kThrottleBytes)));
    qsizetype at = kThrottleBytes;
    for (int g = 0; g < groups && (at < sent.size() || at < held.size()); ++g, ++at) {
        const bool same = at < sent.size() && at < held.size() ? sent[at] == held[at] : false;
        if (!same) {
            const TPanelGroup* group = panel.Group(g);
            check.differences.append({Kind::Group, g, group ? group->caption.trimmed() : QString(),
                                      ItemText(panel, g, sent, at), ItemText(panel, g, held, at)});
        }
    }
    const QByteArray restSent = sent.mid(at), restHeld = held.mid(at);
    if (restSent != restHeld)
        check.differences.append({Kind::Unassigned, -1, QString(),
                                  QString::fromLatin1(restSent.toHex(' ').toUpper()),
                                  QString::fromLatin1(restHeld.toHex(' ').toUpper())});
    return check;
}
