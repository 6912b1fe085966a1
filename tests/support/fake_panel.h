#pragma once
// In-memory stand-ins for the window's fixed fields and the parameter panel, recording what the
// parameter block codec does to them.

#include "protocol/paramblock.h"
#include "tests/support/files.h"

#include <QStringList>
#include <functional>
#include <vector>

// The fixed fields as the window holds them between decodings, with the version text they are
// decoded for and every error box a decoding asked for.
struct FakeFields : TBlockFields {
    FakeFields()
    {
        poles = QStringLiteral("2");
        ratio = QStringLiteral("1");
        maxRpmText = QStringLiteral("untouched");
    }
    QString version = QStringLiteral("1.02");
    QStringList errors;
};

class FakePanel : public IParameterPanel {
public:
    struct Group {
        int items = 0;
        int index = -1;
        int blue = -2; // -2: colours never set
    };

    double multipliers[3] = {0, 0, 0};
    int multiplierCount = 0;
    QStringList displays;
    std::vector<Group> groups;
    int activeCount = -1;
    QByteArray unassigned = QByteArrayLiteral("stale");
    // Groups whose selection was set, in call order.
    std::vector<int> selectionOrder;
    // Stands in for group 0's click handler: runs when group 0 gets a different item.
    std::function<void()> onGroup0Changed;

    // Convenience: n display entries showing "old i", groups with the given item counts.
    FakePanel(int displayCount = 0, std::vector<int> itemCounts = {})
    {
        for (int i = 0; i < displayCount; ++i)
            displays.append(QStringLiteral("old %1").arg(i));
        for (int items : itemCounts)
            groups.push_back(Group{items});
    }

    void BuildParameterPanel(const ModelContext&) override {}
    void RelabelParameterPanel(const ModelContext&) override {}
    void ClearParameterPanel() override {}
    bool ModelFileMissing() const override { return false; }

    double Multiplier(int slot) const override
    {
        return slot >= 1 && slot <= 3 ? multipliers[slot - 1] : 0.0;
    }
    int MultiplierCount() const override { return multiplierCount; }

    int DisplayCount() const override { return static_cast<int>(displays.size()); }
    QString DisplayText(int i) const override { return displays.at(i); }
    void SetDisplayText(int i, const QString& text) override { displays[i] = text; }

    int GroupCount() const override { return static_cast<int>(groups.size()); }
    int ItemCount(int g) const override { return groups.at(g).items; }
    int ItemIndex(int g) const override { return groups.at(g).index; }
    void SetItemIndex(int g, int index) override
    {
        selectionOrder.push_back(g);
        const bool changed = groups.at(g).index != index;
        groups.at(g).index = index;
        if (g == 0 && changed && index >= 0 && onGroup0Changed)
            onGroup0Changed();
    }
    void SetItemColours(int g, int blue) override { groups.at(g).blue = blue; }
    bool GroupEnabled(int) const override { return true; }
    void SetGroupEnabled(int, bool) override {}

    int ActiveOptionCount() const override { return activeCount; }
    void SetActiveOptionCount(int n) override { activeCount = n; }
    QByteArray UnassignedBytes() const override { return unassigned; }
    void SetUnassignedBytes(const QByteArray& bytes) override { unassigned = bytes; }
};
