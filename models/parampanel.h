#pragma once
// The parameter panel as the window shows it: the value labels in the left column and the option
// groups in the right-hand scroll box. The state lives in a widget-free TPanelModel; this view
// makes, relabels and frees the controls as the model changes, and hands the user's choices back
// to it.

#include "models/panelmodel.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>

class QButtonGroup;
class QFrame;
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
// A setting changed since the regulator last stored it: an amber bar at its left, and a group's
// title starts with a bullet (which also tells those who do not see the colour); a screen reader
// hears "not written" (message Str360) with the control.
inline constexpr int kUnwrittenBarWidth = 3;
inline constexpr int kUnwrittenBarLeft = 2;
inline const QString kUnwrittenTitlePrefix = QStringLiteral("\u2022 ");
// The amber bar, hidden; the caller places it and shows it while its setting is unwritten.
QFrame* MakeUnwrittenBar(QWidget* parent, const QString& name);
// What a screen reader hears of the marks (the bars, a marked control) and of the item the last
// read chose (shown in blue).
inline constexpr char kNotWrittenKey[] = "Str360";
inline constexpr char kAsReadKey[] = "Str361";
// Display values loaded from a file rather than read: grey, and what the tooltip and a screen
// reader say of them (the file's name in it).
inline constexpr char kValueFromFileKey[] = "Str530";

class TParameterPanel : public QObject, public IParameterPanel, private IPanelModelObserver {
    Q_OBJECT
public:
    using MessageFn = TPanelModel::MessageFn;

    // panel1: the left column; panel: the right-hand scroll box, whose content widget holds the
    // groups (one is made when it has none). showPlainMessage shows a box with the text and an OK
    // button; reportError is the general error report.
    TParameterPanel(QWidget* panel1, QScrollArea* panel, const TsmlMsgLangRes& messages,
                    MessageFn showPlainMessage, MessageFn reportError, QObject* parent = nullptr);
    ~TParameterPanel() override;

    TPanelModel& Model() { return model_; }
    const TPanelModel& Model() const { return model_; }

    void BuildParameterPanel(const ModelContext& ctx) override { model_.BuildParameterPanel(ctx); }
    void RelabelParameterPanel(const ModelContext& ctx) override
    {
        model_.RelabelParameterPanel(ctx);
    }
    void ClearParameterPanel() override { model_.ClearParameterPanel(); }
    bool ModelFileMissing() const override { return model_.ModelFileMissing(); }

    double Multiplier(int slot) const override { return model_.Multiplier(slot); }
    int MultiplierCount() const override { return model_.MultiplierCount(); }

    int DisplayCount() const override { return model_.DisplayCount(); }
    QString DisplayText(int i) const override { return model_.DisplayText(i); }
    void SetDisplayText(int i, const QString& text) override { model_.SetDisplayText(i, text); }

    int GroupCount() const override { return model_.GroupCount(); }
    int ItemCount(int g) const override { return model_.ItemCount(g); }
    int ItemIndex(int g) const override { return model_.ItemIndex(g); }
    void SetItemIndex(int g, int index) override { model_.SetItemIndex(g, index); }
    void SetItemColours(int g, int blue) override { model_.SetItemColours(g, blue); }
    bool GroupEnabled(int g) const override { return model_.GroupEnabled(g); }
    void SetGroupEnabled(int g, bool on) override { model_.SetGroupEnabled(g, on); }

    int ActiveOptionCount() const override { return model_.ActiveOptionCount(); }
    void SetActiveOptionCount(int n) override { model_.SetActiveOptionCount(n); }
    QByteArray UnassignedBytes() const override { return model_.UnassignedBytes(); }
    void SetUnassignedBytes(const QByteArray& bytes) override { model_.SetUnassignedBytes(bytes); }
    void SettingsStored(const TStoredSettings& stored) override { model_.SettingsStored(stored); }
    void ForgetStoredSettings() override { model_.ForgetStoredSettings(); }
    void ValuesFromFile(const QString& fileName) override { model_.ValuesFromFile(fileName); }

    // Told after the marks have followed the model, so that the window can show the count.
    std::function<void()> onUnwrittenChanged;
    // Told after the controls were made anew, so that the window can put them in its tab order.
    std::function<void()> onControlsMade;

    void ApplyMasterSwitch() { model_.ApplyMasterSwitch(); }

    QLabel* CaptionLabel(int k) const; // "Lab1" + k
    QLabel* ValueLabel(int k) const;   // "Lab2" + k
    QGroupBox* Group(int g) const;     // "sui" + g
    QRadioButton* ItemButton(int g, int i) const;
    QFrame* UnwrittenBar(int g) const; // "sui" + g + "_mark"
    // The section list and entries of the current model definition file.
    const TModelDefinition& Definition() const { return model_.Definition(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct GroupControls {
        QPointer<QGroupBox> box;
        QButtonGroup* buttons = nullptr; // child of box
        QList<QRadioButton*> items;      // children of box, in item order
        QFrame* mark = nullptr;          // child of box
    };

    // IPanelModelObserver
    void PanelStructureChanged() override;
    void PanelCaptionsChanged() override;
    void DisplayTextChanged(int i) override;
    void ItemIndexChanged(int g) override;
    void ItemColoursChanged(int g) override;
    void GroupEnabledChanged(int g) override;
    void UnwrittenChanged() override;
    void ValuesSourceChanged() override;

    // width 0: up to the edge of the left column.
    QLabel* MakeLabel(const QString& name, int left, int k, int width);
    void MakeGroup(int g);
    void SetItemText(QRadioButton* item, const QString& text);
    // The item that Tab stops at in a group: the chosen one, or the first while none is.
    void SetTabStop(const GroupControls& group, int index);
    void NameValueLabel(int k);
    void ShowValueSource(int k);
    void DescribeItems(int g);
    void ShowGroupMark(int g);
    void LayoutGroups();
    void ArrangeItems(const GroupControls& group);
    int GroupHeight(const GroupControls& group) const;
    int GroupWidth() const;
    void DeleteControls();
    const GroupControls* Controls(int g) const;

    TPanelModel model_;
    const TsmlMsgLangRes& messages_;
    QPointer<QWidget> panel1_;
    QPointer<QScrollArea> panel_;
    QPointer<QWidget> content_;
    bool syncing_ = false; // the view is setting a control from the model

    QList<QPointer<QLabel>> captionLabels_;
    QList<QPointer<QLabel>> valueLabels_;
    QList<GroupControls> groups_;
};
