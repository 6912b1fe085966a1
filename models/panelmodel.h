#pragma once
// The parameter panel's state without widgets: display entries (caption and value text) and option
// groups (caption, items, chosen item, blue item, enabled), built from the model definition file of
// the identified regulator, together with the model state the protocol reads (multipliers, model
// file missing flag, active option count, unassigned bytes). The window's panel shows it through
// widgets; the command-line tool uses it as it is.

#include "models/modelfile.h"
#include "protocol/panel.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class TsmlMsgLangRes;

inline const QString kNoValueText = QStringLiteral("- - - - -");

// Told of every change, so that a view can follow the model.
class IPanelModelObserver {
public:
    virtual ~IPanelModelObserver() = default;
    // Entries or groups came or went (build, clear): the controls are made anew.
    virtual void PanelStructureChanged() = 0;
    // Captions, group titles and item texts changed (relabel).
    virtual void PanelCaptionsChanged() = 0;
    virtual void DisplayTextChanged(int i) = 0;
    virtual void ItemIndexChanged(int g) = 0;
    virtual void ItemColoursChanged(int g) = 0;
    virtual void GroupEnabledChanged(int g) = 0;
    // Which settings differ from what the regulator holds may have changed.
    virtual void UnwrittenChanged() {}
    // The display values came from a file, or are the regulator's again.
    virtual void ValuesSourceChanged() {}
};

// The throttle limits, in microseconds as a write sends them.
struct TThrottleLimits {
    int minUs = 0;
    int maxUs = 0;
};

struct TPanelGroup {
    QString caption; // two blanks, the title, two blanks
    QStringList items;
    int itemIndex = -1;    // the chosen item; -1 none
    int blueItem = -1;     // the item the last read chose; -1 none
    bool coloured = false; // the item colours have been set at least once
    bool enabled = true;
};

// The changes not yet written, to be put back over a fresh read of the same regulator: the chosen
// item of each changed group and the changed throttle limits, in microseconds.
struct TUnwrittenEdits {
    QList<QPair<int, int>> items; // group, item
    std::optional<int> throttleMinUs, throttleMaxUs;
    int Count() const
    {
        return int(items.size()) + int(throttleMinUs.has_value()) + int(throttleMaxUs.has_value());
    }
};

class TPanelModel final : public IParameterPanel {
public:
    using MessageFn = std::function<void(const QString&)>;

    // messages: the texts of the missing-file box. showPlainMessage shows a box with the text and
    // an OK button; reportError is the general error report.
    TPanelModel(const TsmlMsgLangRes& messages, MessageFn showPlainMessage, MessageFn reportError);

    void SetObserver(IPanelModelObserver* observer) { observer_ = observer; }

    void BuildParameterPanel(const ModelContext& ctx) override;
    void RelabelParameterPanel(const ModelContext& ctx) override;
    void ClearParameterPanel() override;
    bool ModelFileMissing() const override { return modelFileMissing_; }

    double Multiplier(int slot) const override { return multipliers_.Slot(slot); }
    int MultiplierCount() const override { return multipliers_.Count(); }

    int DisplayCount() const override { return int(values_.size()); }
    QString DisplayText(int i) const override;
    void SetDisplayText(int i, const QString& text) override;
    void ValuesFromFile(const QString& fileName) override;
    // The file the display values came from; empty while they are the regulator's (or none).
    const QString& ValuesFile() const { return valuesFile_; }

    int GroupCount() const override { return int(groups_.size()); }
    int ItemCount(int g) const override;
    int ItemIndex(int g) const override;
    void SetItemIndex(int g, int index) override;
    void SetItemColours(int g, int blue) override;
    bool GroupEnabled(int g) const override;
    void SetGroupEnabled(int g, bool on) override;

    int ActiveOptionCount() const override { return activeOptionCount_; }
    void SetActiveOptionCount(int n) override { activeOptionCount_ = n; }
    QByteArray UnassignedBytes() const override { return unassignedBytes_; }
    void SetUnassignedBytes(const QByteArray& bytes) override { unassignedBytes_ = bytes; }

    // Changes not yet written: the settings as the regulator holds them (last read or written)
    // against what the panel and the throttle fields show now. Known only from a read until the
    // next reset, clear or build; until then nothing counts as changed.
    void SettingsStored(const TStoredSettings& stored) override;
    void ForgetStoredSettings() override;
    // The throttle fields as the window shows them, in ms.
    void SetThrottleShown(double minMs, double maxMs);
    TThrottleLimits ThrottleShown() const { return {throttleMinShownUs_, throttleMaxShownUs_}; }
    bool GroupUnwritten(int g) const;
    bool ThrottleMinUnwritten() const;
    bool ThrottleMaxUnwritten() const;
    int UnwrittenCount() const;
    TUnwrittenEdits UnwrittenEdits() const;
    // The edits' items chosen again, in group order; the throttle limits are the caller's fields.
    void RestoreItems(const TUnwrittenEdits& edits);

    // The enabling rule of group 0: groups from 2 on are disabled; unless the first item of group 0
    // is chosen, groups 0 to a-1 are enabled again (a = active option count). Runs whenever group 0
    // gets a different chosen item.
    void ApplyMasterSwitch();

    // Caption labels may outnumber the value labels after a build that stopped at a bad entry.
    int CaptionCount() const { return int(captions_.size()); }
    QString Caption(int k) const
    {
        return k >= 0 && k < captions_.size() ? captions_[k] : QString();
    }
    const TPanelGroup* Group(int g) const;
    // The section list and entries of the current model definition file.
    const TModelDefinition& Definition() const { return definition_; }

private:
    void ShowMissing(const QString& modelName, const QString& gap);
    void StructureChanged();
    void Unwritten();

    const TsmlMsgLangRes& messages_;
    MessageFn showPlainMessage_;
    MessageFn reportError_;
    IPanelModelObserver* observer_ = nullptr;

    TModelDefinition definition_;
    TMultiplierTable multipliers_;
    bool modelFileMissing_ = false;
    int activeOptionCount_ = 0;
    QByteArray unassignedBytes_;

    QStringList captions_; // "Lab1" + k
    QStringList values_;   // "Lab2" + k
    QString valuesFile_;
    QList<TPanelGroup> groups_;

    std::optional<TStoredSettings> stored_;
    int throttleMinShownUs_ = 0;
    int throttleMaxShownUs_ = 0;
};
