#include "models/parampanel.h"

#include "i18n/msglangres.h"
#include "look/keyboard.h"
#include "look/windowlook.h"

#include <QButtonGroup>
#include <QDir>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QRadioButton>
#include <QScrollArea>

#include <algorithm>

namespace {

constexpr char kHintProperty[] = "hint";
const QString kHintPrefix = QStringLiteral("| ");

QFont PanelFont(QFont font, bool bold)
{
    font.setPixelSize(kPanelFontPixels);
    font.setBold(bold);
    return font;
}

// The read's colours, and the amber of the marks; each becomes as light or dark as the background
// it sits on needs (on a dark desktop the black of the items is the desktop's text).
const QColor kChosenByRead(0, 0, 255);
const QColor kItemText(0, 0, 0);
const QColor kUnwrittenAmber(0xE0, 0x8A, 0x00);
// A value from a file: a slate grey, not a neutral one, so that on a dark desktop it is lightened
// as far as it needs rather than taken for the desktop's own text.
const QColor kValueFromFile(0x5A, 0x64, 0x78);

} // namespace

QFrame* MakeUnwrittenBar(QWidget* parent, const QString& name)
{
    auto* bar = new QFrame(parent);
    bar->setObjectName(name);
    bar->setFrameShape(QFrame::NoFrame);
    SetFillColour(bar, kUnwrittenAmber);
    bar->hide();
    return bar;
}

TParameterPanel::TParameterPanel(QWidget* panel1, QScrollArea* panel,
                                 const TsmlMsgLangRes& messages, MessageFn showPlainMessage,
                                 MessageFn reportError, QObject* parent)
    : QObject(parent), model_(messages, std::move(showPlainMessage), std::move(reportError)),
      messages_(messages), panel1_(panel1), panel_(panel)
{
    model_.SetObserver(this);
    if (!panel_)
        return;
    content_ = panel_->widget();
    if (!content_) {
        auto* content = new QWidget;
        content->setObjectName(QStringLiteral("PanelContent"));
        panel_->setWidget(content);
        content_ = content;
    }
    // The groups always fit the viewport's width; only the height scrolls.
    panel_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    panel_->viewport()->installEventFilter(this);
}

TParameterPanel::~TParameterPanel()
{
    model_.SetObserver(nullptr);
    DeleteControls();
}

// ---- following the model
// -------------------------------------------------------------------------

void TParameterPanel::PanelStructureChanged()
{
    DeleteControls();
    for (int k = 0; k < model_.CaptionCount(); ++k) {
        QLabel* caption = MakeLabel(QStringLiteral("Lab1%1").arg(k), kCaptionLabelLeft, k,
                                    kValueLabelLeft - kCaptionLabelLeft);
        caption->setText(model_.Caption(k));
        captionLabels_.append(caption);
    }
    for (int k = 0; k < model_.DisplayCount(); ++k) {
        QLabel* value = MakeLabel(QStringLiteral("Lab2%1").arg(k), kValueLabelLeft, k, 0);
        value->setText(model_.DisplayText(k));
        // Read-only values are read in turn with the rest of the column.
        MakeFocusableText(value);
        valueLabels_.append(value);
        NameValueLabel(k);
        ShowValueSource(k);
    }
    groups_.resize(model_.GroupCount());
    for (int g = model_.GroupCount() - 1; g >= 0; --g)
        MakeGroup(g);
    LayoutGroups();
    for (int g = int(groups_.size()) - 1; g >= 0; --g) {
        if (groups_[g].box)
            groups_[g].box->show();
    }
    // Made from the last to the first, they would reach a screen reader bottom up: its order is
    // that of the children, which raising puts from the top down.
    for (const GroupControls& group : groups_)
        if (group.box)
            group.box->raise();
    if (onControlsMade)
        onControlsMade();
}

void TParameterPanel::PanelCaptionsChanged()
{
    for (int k = 0; k < captionLabels_.size(); ++k) {
        if (captionLabels_[k])
            captionLabels_[k]->setText(model_.Caption(k));
        NameValueLabel(k);
        ShowValueSource(k);
    }
    for (int g = int(groups_.size()) - 1; g >= 0; --g) {
        const GroupControls& group = groups_[g];
        const TPanelGroup* state = model_.Group(g);
        if (!group.box || !state)
            continue;
        ShowGroupMark(g);
        for (int j = 0; j < group.items.size() && j < state->items.size(); ++j)
            SetItemText(group.items[j], state->items[j]);
        DescribeItems(g);
    }
}

void TParameterPanel::DisplayTextChanged(int i)
{
    if (QLabel* label = ValueLabel(i))
        label->setText(model_.DisplayText(i));
    NameValueLabel(i);
}

void TParameterPanel::NameValueLabel(int k)
{
    QLabel* value = ValueLabel(k);
    if (value && k < model_.CaptionCount())
        value->setAccessibleName(NameOfValue(model_.Caption(k), value->text()));
}

void TParameterPanel::ValuesSourceChanged()
{
    for (int k = 0; k < valueLabels_.size(); ++k)
        ShowValueSource(k);
}

void TParameterPanel::ShowValueSource(int k)
{
    QLabel* value = ValueLabel(k);
    if (!value)
        return;
    const QString& file = model_.ValuesFile();
    if (file.isEmpty()) {
        ClearTextColour(value);
        value->setToolTip(QString());
        value->setAccessibleDescription(QString());
        return;
    }
    const QString said = messages_.Msg(kValueFromFileKey).arg(QDir::toNativeSeparators(file));
    SetTextColour(value, kValueFromFile);
    value->setToolTip(said);
    value->setAccessibleDescription(said);
}

void TParameterPanel::ItemIndexChanged(int g)
{
    const GroupControls* group = Controls(g);
    if (!group)
        return;
    const int index = model_.ItemIndex(g);
    syncing_ = true;
    if (index >= 0 && index < group->items.size()) {
        group->items[index]->setChecked(true);
    } else if (QAbstractButton* chosen = group->buttons->checkedButton()) {
        // An exclusive group refuses to end up with nothing chosen; "none" is a valid state here.
        group->buttons->setExclusive(false);
        chosen->setChecked(false);
        group->buttons->setExclusive(true);
    }
    syncing_ = false;
    SetTabStop(*group, index);
}

void TParameterPanel::SetTabStop(const GroupControls& group, int index)
{
    if (index < 0 || index >= group.items.size())
        index = 0;
    // Only the stop takes the Tab key; the arrow keys move between all of them (and choose).
    for (int i = 0; i < group.items.size(); ++i)
        group.items[i]->setFocusPolicy(i == index ? Qt::StrongFocus : Qt::ClickFocus);
}

void TParameterPanel::ItemColoursChanged(int g)
{
    const GroupControls* group = Controls(g);
    const TPanelGroup* state = model_.Group(g);
    if (!group || !state || !state->coloured)
        return;
    for (int i = 0; i < group->items.size(); ++i)
        SetTextColour(group->items[i], i == state->blueItem ? kChosenByRead : kItemText);
    DescribeItems(g);
}

// The blue item is told by words too.
void TParameterPanel::DescribeItems(int g)
{
    const GroupControls* group = Controls(g);
    const TPanelGroup* state = model_.Group(g);
    if (!group || !state)
        return;
    const QString asRead = messages_.Msg(kAsReadKey);
    for (int i = 0; i < group->items.size(); ++i)
        group->items[i]->setAccessibleDescription(
            state->coloured && i == state->blueItem ? asRead : QString());
}

void TParameterPanel::GroupEnabledChanged(int g)
{
    if (const GroupControls* group = Controls(g))
        group->box->setEnabled(model_.GroupEnabled(g));
}

void TParameterPanel::UnwrittenChanged()
{
    for (int g = 0; g < groups_.size(); ++g)
        ShowGroupMark(g);
    if (onUnwrittenChanged)
        onUnwrittenChanged();
}

void TParameterPanel::ShowGroupMark(int g)
{
    const GroupControls* group = Controls(g);
    const TPanelGroup* state = model_.Group(g);
    if (!group || !state)
        return;
    const bool marked = model_.GroupUnwritten(g);
    QString title = state->caption;
    if (marked) {
        // The bullet takes the place of the caption's leading blanks, so the title barely moves.
        qsizetype blanks = 0;
        while (blanks < kUnwrittenTitlePrefix.size() && blanks < title.size() &&
               title[blanks] == QLatin1Char(' '))
            ++blanks;
        title = kUnwrittenTitlePrefix + title.mid(blanks);
    }
    if (group->box->title() != title)
        group->box->setTitle(title);
    group->mark->setVisible(marked);
    // Heard without the bullet, with the words the bullet stands for.
    const QString notWritten = messages_.Msg(kNotWrittenKey);
    group->box->setAccessibleName(state->caption.trimmed());
    group->box->setAccessibleDescription(marked ? notWritten : QString());
    group->mark->setAccessibleName(notWritten);
}

// ---- controls ----------------------------------------------------------------------------------

QLabel* TParameterPanel::CaptionLabel(int k) const
{
    return k >= 0 && k < captionLabels_.size() ? captionLabels_[k].data() : nullptr;
}

QLabel* TParameterPanel::ValueLabel(int k) const
{
    return k >= 0 && k < valueLabels_.size() ? valueLabels_[k].data() : nullptr;
}

QGroupBox* TParameterPanel::Group(int g) const
{
    const GroupControls* group = Controls(g);
    return group ? group->box.data() : nullptr;
}

QRadioButton* TParameterPanel::ItemButton(int g, int i) const
{
    const GroupControls* group = Controls(g);
    return group && i >= 0 && i < group->items.size() ? group->items[i] : nullptr;
}

QFrame* TParameterPanel::UnwrittenBar(int g) const
{
    const GroupControls* group = Controls(g);
    return group ? group->mark : nullptr;
}

bool TParameterPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && panel_ && watched == panel_->viewport()) {
        LayoutGroups();
    } else if (event->type() == QEvent::KeyPress) {
        // Enter chooses the focused item as Space does.
        auto* item = qobject_cast<QRadioButton*>(watched);
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (item && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            item->click();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

QLabel* TParameterPanel::MakeLabel(const QString& name, int left, int k, int width)
{
    auto* label = new QLabel(panel1_);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setFont(PanelFont(label->font(), true));
    if (width <= 0) {
        const int column = panel1_ && panel1_->width() > left ? panel1_->width() : kLeftColumnWidth;
        width = column - left;
    }
    label->setGeometry(left, kFirstEntryTop + kEntryPitch * k, width, label->sizeHint().height());
    label->show();
    return label;
}

void TParameterPanel::MakeGroup(int g)
{
    const TPanelGroup* state = model_.Group(g);
    if (!content_ || !state)
        return;
    GroupControls group;
    group.box = new QGroupBox(content_);
    group.box->hide();
    group.box->setObjectName(QStringLiteral("sui%1").arg(g));
    group.box->setFont(PanelFont(group.box->font(), true));
    group.box->setTitle(state->caption);
    group.buttons = new QButtonGroup(group.box);
    group.buttons->setExclusive(true);
    group.mark = MakeUnwrittenBar(group.box, QStringLiteral("sui%1_mark").arg(g));

    const QFont itemFont = PanelFont(group.box->font(), false);
    for (int i = 0; i < state->items.size(); ++i) {
        auto* item = new QRadioButton(group.box);
        item->setObjectName(QStringLiteral("sui%1_item%2").arg(g).arg(i));
        item->setFont(itemFont);
        SetItemText(item, state->items[i]);
        item->installEventFilter(this);
        group.buttons->addButton(item, i);
        group.items.append(item);
    }
    // A choice made on the control (click, Space, Enter, arrow keys) goes to the model, which runs
    // group 0's rule.
    connect(group.buttons, &QButtonGroup::idToggled, this, [this, g](int id, bool checked) {
        if (checked && !syncing_)
            model_.SetItemIndex(g, id);
    });
    groups_[g] = group;
    ItemIndexChanged(g);
    ItemColoursChanged(g);
    ShowGroupMark(g);
    if (!state->enabled)
        group.box->setEnabled(false);
}

void TParameterPanel::SetItemText(QRadioButton* item, const QString& text)
{
    item->setText(text);
    // The window shows the part after "|" in its status bar; there is deliberately no tooltip.
    item->setProperty(kHintProperty, kHintPrefix + text);
}

int TParameterPanel::GroupWidth() const
{
    if (!panel_)
        return 0;
    const int width = panel_->viewport()->width();
    return width > 0 ? width : panel_->width();
}

void TParameterPanel::LayoutGroups()
{
    if (!content_)
        return;
    const int width = std::max(0, GroupWidth() - 2 * kGroupSideMargin);
    int top = 0;
    for (const GroupControls& group : groups_) {
        if (!group.box)
            continue;
        group.box->setGeometry(kGroupSideMargin, top, width, GroupHeight(group));
        ArrangeItems(group);
        top += group.box->height();
    }
    content_->setMinimumHeight(top);
    if (panel_ && !panel_->widgetResizable())
        content_->resize(GroupWidth(), top);
}

int TParameterPanel::GroupHeight(const GroupControls& group) const
{
    const int n = int(group.items.size());
    const int nominal = n > kItemsInSmallGroup ? kLargeGroupHeight : kSmallGroupHeight;
    if (n == 0)
        return nominal;
    // The nominal heights were made for a smaller face; a group grows rather than let its rows
    // overlap or its items cross the frame.
    const int rows = (n + kGroupColumns - 1) / kGroupColumns;
    const QMargins frame = group.box->contentsMargins();
    const int rowHeight = group.items.front()->sizeHint().height();
    return std::max(nominal, frame.top() + rows * rowHeight + frame.bottom());
}

void TParameterPanel::ArrangeItems(const GroupControls& group)
{
    const QRect inner = group.box->contentsRect();
    group.mark->setGeometry(kUnwrittenBarLeft, inner.top(), kUnwrittenBarWidth, inner.height());
    const int n = int(group.items.size());
    if (n == 0)
        return;
    // Items sit inside the frame, below the caption, with the same margin left and right.
    const int left = std::max(kItemLeftMargin, inner.left());
    const int rows = (n + kGroupColumns - 1) / kGroupColumns;
    const int columnWidth = (group.box->width() - 2 * left) / kGroupColumns;
    const int rowHeight = inner.height() / rows;
    for (int i = 0; i < n; ++i) {
        group.items[i]->setGeometry(left + (i / rows) * columnWidth,
                                    inner.top() + (i % rows) * rowHeight, columnWidth, rowHeight);
    }
}

void TParameterPanel::DeleteControls()
{
    for (const GroupControls& group : groups_)
        delete group.box.data();
    for (const QPointer<QLabel>& label : captionLabels_)
        delete label.data();
    for (const QPointer<QLabel>& label : valueLabels_)
        delete label.data();
    groups_.clear();
    captionLabels_.clear();
    valueLabels_.clear();
}

const TParameterPanel::GroupControls* TParameterPanel::Controls(int g) const
{
    if (g < 0 || g >= groups_.size() || !groups_[g].box)
        return nullptr;
    return &groups_[g];
}
