#pragma once
// What the protocol needs of the parameter panel (built from the model definition file) without
// knowing its widgets. The panel owns the model state: section list and entries, the multiplier
// table and count, the model file missing flag, the active option count and the unassigned bytes.

#include <QByteArray>
#include <QList>
#include <QString>

// Where a model definition file is looked for and what the build needs to know.
struct ModelContext {
    QString programDir;   // the directory of the executable, with a trailing "/"
    QString languageCode; // "CZ", "EN", "GE", "Other", or anything else
    QString modelName;    // the caption of LnH
    bool alternateScale = false;
};

// What the regulator holds of the settings the user changes in the window: the chosen item of the
// option groups 0 .. items.size()-1 (-1 none) and the throttle limits in microseconds, as on the
// wire.
struct TStoredSettings {
    int throttleMinUs = 0;
    int throttleMaxUs = 0;
    QList<int> items;
};

class IParameterPanel {
public:
    virtual ~IParameterPanel() = default;

    // Build, relabel and clear. Build sets or clears the model file missing flag.
    virtual void BuildParameterPanel(const ModelContext& ctx) = 0;
    virtual void RelabelParameterPanel(const ModelContext& ctx) = 0;
    virtual void ClearParameterPanel() = 0;
    virtual bool ModelFileMissing() const = 0;

    // Multiplier table: slot i = 1..3; 0 means a lookup entry.
    virtual double Multiplier(int slot) const = 0;
    virtual int MultiplierCount() const = 0;

    // Display entries "Lab2" + i, i from 0.
    virtual int DisplayCount() const = 0;
    virtual QString DisplayText(int i) const = 0;
    virtual void SetDisplayText(int i, const QString& text) = 0;

    // Option groups "sui" + g, g from 0. ItemIndex is -1 when nothing is chosen. Setting group 0 to
    // a different item runs its click handler (ApplyMasterSwitch).
    virtual int GroupCount() const = 0;
    virtual int ItemCount(int g) const = 0;
    virtual int ItemIndex(int g) const = 0;
    virtual void SetItemIndex(int g, int index) = 0;
    // Every item of group g black, then item `blue` (0-based; -1 none) blue.
    virtual void SetItemColours(int g, int blue) = 0;
    virtual bool GroupEnabled(int g) const = 0;
    virtual void SetGroupEnabled(int g, bool on) = 0;

    // State of the last read reply, kept for the next write.
    virtual int ActiveOptionCount() const = 0;
    virtual void SetActiveOptionCount(int n) = 0;
    virtual QByteArray UnassignedBytes() const = 0;
    virtual void SetUnassignedBytes(const QByteArray& bytes) = 0;

    // The regulator holds these settings now: a read placed its block, or it took a write. Groups
    // beyond stored.items keep what was known of them. Whatever the window shows apart from them
    // is a change not yet written. A panel that does not track changes ignores both.
    virtual void SettingsStored(const TStoredSettings& stored) { (void)stored; }
    // Nothing is known any more of what the regulator holds (a connection reset).
    virtual void ForgetStoredSettings() {}

    // The display values shown now came from this file, not from the regulator: so they are until
    // one of them is set again (the next read). A panel that does not show it ignores it.
    virtual void ValuesFromFile(const QString& fileName) { (void)fileName; }
};
