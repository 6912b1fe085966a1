#pragma once
// The parameter panel: the value labels in the left column and the option groups in the right-hand
// scroll box, built at run time from the model definition file of the identified regulator. The
// window keeps the two parent widgets; the panel creates, relabels and frees the controls in them
// and holds the model state the protocol reads (multipliers, active option count, unassigned
// bytes).

#include "models/modelfile.h"
#include "protocol/panel.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QRadioButton;
class QScrollArea;
class QWidget;
class TsmlMsgLangRes;

// Layout of the run-time controls, in pixels.
inline constexpr int kLeftColumnWidth = 317;
inline constexpr int kCaptionLabelLeft = 6;
inline constexpr int kValueLabelLeft = 254;
inline constexpr int kFirstEntryTop = 324;
inline constexpr int kEntryPitch = 26;
inline constexpr int kPanelFontPixels = 13;
inline constexpr int kGroupColumns = 4;
inline constexpr int kSmallGroupHeight = 45;
inline constexpr int kLargeGroupHeight = 90;
inline constexpr int kItemsInSmallGroup = 4;
inline constexpr int kItemLeftMargin = 8;
inline constexpr int kGroupSideMargin = 4; // between a group's frame and the panel's edges

inline const QString kNoValueText = QStringLiteral("- - - - -");

class TParameterPanel : public QObject, public IParameterPanel {
    Q_OBJECT
public:
    using MessageFn = std::function<void(const QString&)>;

    // panel1: the left column; panel: the right-hand scroll box, whose content widget holds the
    // groups (one is made when it has none). showPlainMessage shows a box with the text and an OK
    // button; reportError is the general error report.
    TParameterPanel(QWidget* panel1, QScrollArea* panel, const TsmlMsgLangRes& messages,
                    MessageFn showPlainMessage, MessageFn reportError, QObject* parent = nullptr);
    ~TParameterPanel() override;

    void BuildParameterPanel(const ModelContext& ctx) override;
    void RelabelParameterPanel(const ModelContext& ctx) override;
    void ClearParameterPanel() override;
    bool ModelFileMissing() const override { return modelFileMissing_; }

    double Multiplier(int slot) const override { return multipliers_.Slot(slot); }
    int MultiplierCount() const override { return multipliers_.Count(); }

    int DisplayCount() const override;
    QString DisplayText(int i) const override;
    void SetDisplayText(int i, const QString& text) override;

    int GroupCount() const override;
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

    // The enabling rule of group 0: groups from 2 on are disabled; unless the first item of group 0
    // is chosen, groups 0 to a-1 are enabled again (a = active option count). Runs whenever group 0
    // gets a different chosen item.
    void ApplyMasterSwitch();

    QLabel* CaptionLabel(int k) const; // "Lab1" + k
    QLabel* ValueLabel(int k) const;   // "Lab2" + k
    QGroupBox* Group(int g) const;     // "sui" + g
    QRadioButton* ItemButton(int g, int i) const;
    // The section list and entries of the current model definition file.
    const TModelDefinition& Definition() const { return definition_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct GroupControls {
        QPointer<QGroupBox> box;
        QButtonGroup* buttons = nullptr; // child of box
        QList<QRadioButton*> items;      // children of box, in item order
    };

    // width 0: up to the edge of the left column.
    QLabel* MakeLabel(const QString& name, int left, int k, int width);
    void MakeGroup(int g);
    void SetItemText(QRadioButton* item, const QString& text);
    void LayoutGroups();
    void ArrangeItems(const GroupControls& group);
    int GroupHeight(const GroupControls& group) const;
    int GroupWidth() const;
    void ShowMissing(const QString& modelName, const QString& gap);
    void DeleteControls();
    const GroupControls* Controls(int g) const;

    QPointer<QWidget> panel1_;
    QPointer<QScrollArea> panel_;
    QPointer<QWidget> content_;
    const TsmlMsgLangRes& messages_;
    MessageFn showPlainMessage_;
    MessageFn reportError_;

    TModelDefinition definition_;
    TMultiplierTable multipliers_;
    bool modelFileMissing_ = false;
    int activeOptionCount_ = 0;
    QByteArray unassignedBytes_;

    QList<QPointer<QLabel>> captionLabels_;
    QList<QPointer<QLabel>> valueLabels_;
    QList<GroupControls> groups_;
};
