#include "models/parampanel.h"

#include "common/errors.h"
#include "i18n/msglangres.h"

#include <QButtonGroup>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QRadioButton>
#include <QScrollArea>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr char kHintProperty[] = "hint";
const QString kHintPrefix = QStringLiteral("| ");
constexpr mode_t kFolderMode = 0777; // narrowed by the umask, as for any folder the user makes

QFont PanelFont(QFont font, bool bold)
{
    font.setPixelSize(kPanelFontPixels);
    font.setBold(bold);
    return font;
}

void SetTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget->setPalette(palette);
}

// Only the last level is made: "Data" itself belongs to start-up, and a missing "Data" is an
// error worth reporting rather than papering over.
bool MakeFolder(const QString& path, QString* error)
{
    if (QFileInfo(path).isDir())
        return true;
    if (::mkdir(QFile::encodeName(path).constData(), kFolderMode) == 0)
        return true;
    const int code = errno;
    *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(code)));
    return false;
}

} // namespace

TParameterPanel::TParameterPanel(QWidget* panel1, QScrollArea* panel,
                                 const TsmlMsgLangRes& messages, MessageFn showPlainMessage,
                                 MessageFn reportError, QObject* parent)
    : QObject(parent), panel1_(panel1), panel_(panel), messages_(messages),
      showPlainMessage_(std::move(showPlainMessage)), reportError_(std::move(reportError))
{
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

TParameterPanel::~TParameterPanel() { DeleteControls(); }

void TParameterPanel::BuildParameterPanel(const ModelContext& ctx)
{
    // Whatever an earlier build left goes first. The connection resets skip the clear while the
    // model is flagged missing, and a build stopped by a bad number sets that flag after it has
    // created controls: without this, the next build would add its controls to the stale ones.
    ClearParameterPanel();

    const QString& name = ctx.modelName;
    TModelDefinition definition;
    if (!IsSafeModelName(name) ||
        !definition.Load(ModelFilePath(ctx.programDir, ctx.languageCode, name))) {
        ShowMissing(name, QStringLiteral(" "));
        modelFileMissing_ = true;
        return;
    }

    // A build that fails leaves the model flagged as missing, so that no read follows: a read into
    // a half-built panel would take display bytes for option bytes and write them back.
    QString error;
    if (!MakeFolder(ParameterFolder(ctx.programDir, name), &error)) {
        modelFileMissing_ = true;
        reportError_(error);
        return;
    }
    definition_ = definition;

    const QStringList texts = definition_.DisplayTexts();
    for (int k = 0; k < texts.size(); ++k) {
        QLabel* caption = MakeLabel(QStringLiteral("Lab1%1").arg(k), kCaptionLabelLeft, k,
                                    kValueLabelLeft - kCaptionLabelLeft);
        captionLabels_.append(caption);
        try {
            multipliers_.Derive(k, texts[k], ctx.alternateScale);
        } catch (const EKorvalinexError& e) {
            modelFileMissing_ = true;
            reportError_(e.Text());
            return;
        }
        caption->setText(DisplayCaption(texts[k]));
    }
    for (int k = 0; k < texts.size(); ++k) {
        QLabel* value = MakeLabel(QStringLiteral("Lab2%1").arg(k), kValueLabelLeft, k, 0);
        value->setText(kNoValueText);
        valueLabels_.append(value);
    }

    groups_.resize(definition_.GroupCount());
    for (int g = definition_.GroupCount() - 1; g >= 0; --g)
        MakeGroup(g);

    modelFileMissing_ = false;
    LayoutGroups();
    for (int g = int(groups_.size()) - 1; g >= 0; --g) {
        if (groups_[g].box)
            groups_[g].box->show();
    }
}

void TParameterPanel::RelabelParameterPanel(const ModelContext& ctx)
{
    const QString& name = ctx.modelName;
    TModelDefinition definition;
    if (!IsSafeModelName(name) ||
        !definition.Load(ModelFilePath(ctx.programDir, ctx.languageCode, name))) {
        ShowMissing(name, QString());
        return;
    }

    // Everything is derived before anything changes: a bad number in the new file leaves the panel
    // and its scaling as they were instead of half relabelled.
    const QStringList texts = definition.DisplayTexts();
    const int entries = int(std::min<qsizetype>(captionLabels_.size(), texts.size()));
    TMultiplierTable multipliers = multipliers_;
    try {
        for (int k = 0; k < entries; ++k)
            multipliers.Derive(k, texts[k], ctx.alternateScale);
    } catch (const EKorvalinexError& e) {
        reportError_(e.Text());
        return;
    }
    definition_ = definition;
    multipliers_ = multipliers;

    for (int k = 0; k < entries; ++k) {
        if (captionLabels_[k])
            captionLabels_[k]->setText(DisplayCaption(texts[k]));
    }
    const int groups = std::min(GroupCount(), definition_.GroupCount());
    for (int g = groups - 1; g >= 0; --g) {
        const GroupControls& group = groups_[g];
        if (!group.box)
            continue;
        group.box->setTitle(definition_.GroupCaption(g));
        const QStringList items = definition_.GroupItems(g);
        const qsizetype count = std::min(items.size(), group.items.size());
        for (qsizetype j = 0; j < count; ++j)
            SetItemText(group.items[j], items[j]);
    }
    modelFileMissing_ = false;
}

void TParameterPanel::ClearParameterPanel()
{
    // Whatever exists goes, also the remains of a build that stopped half-way.
    DeleteControls();
    definition_ = TModelDefinition();
    multipliers_.Clear();
    activeOptionCount_ = 0;
    unassignedBytes_.clear();
    LayoutGroups();
}

int TParameterPanel::DisplayCount() const { return int(valueLabels_.size()); }

QString TParameterPanel::DisplayText(int i) const
{
    const QLabel* label = ValueLabel(i);
    return label ? label->text() : QString();
}

void TParameterPanel::SetDisplayText(int i, const QString& text)
{
    if (QLabel* label = ValueLabel(i))
        label->setText(text);
}

int TParameterPanel::GroupCount() const { return int(groups_.size()); }

int TParameterPanel::ItemCount(int g) const
{
    const GroupControls* group = Controls(g);
    return group ? int(group->items.size()) : 0;
}

int TParameterPanel::ItemIndex(int g) const
{
    const GroupControls* group = Controls(g);
    return group ? group->buttons->checkedId() : -1;
}

void TParameterPanel::SetItemIndex(int g, int index)
{
    const GroupControls* group = Controls(g);
    if (!group || index < -1 || index >= group->items.size())
        return;
    if (index >= 0) {
        // Checking an item that is already chosen emits nothing, so group 0's rule runs only on a
        // real change.
        group->items[index]->setChecked(true);
        return;
    }
    QAbstractButton* chosen = group->buttons->checkedButton();
    if (!chosen)
        return;
    // An exclusive group refuses to end up with nothing chosen; "none" is a valid state here.
    group->buttons->setExclusive(false);
    chosen->setChecked(false);
    group->buttons->setExclusive(true);
}

void TParameterPanel::SetItemColours(int g, int blue)
{
    const GroupControls* group = Controls(g);
    if (!group)
        return;
    for (int i = 0; i < group->items.size(); ++i)
        SetTextColour(group->items[i], i == blue ? QColor(0, 0, 255) : QColor(0, 0, 0));
}

bool TParameterPanel::GroupEnabled(int g) const
{
    const GroupControls* group = Controls(g);
    return group && group->box->isEnabledTo(group->box->parentWidget());
}

void TParameterPanel::SetGroupEnabled(int g, bool on)
{
    if (const GroupControls* group = Controls(g))
        group->box->setEnabled(on);
}

void TParameterPanel::ApplyMasterSwitch()
{
    const int n = GroupCount();
    for (int g = n - 1; g >= 2; --g)
        SetGroupEnabled(g, false);
    // "Nothing chosen" counts as not the first item; the handler itself never sees it, because
    // clearing the choice does not run the rule.
    if (n > 0 && ItemIndex(0) != 0) {
        for (int g = std::min(activeOptionCount_, n) - 1; g >= 0; --g)
            SetGroupEnabled(g, true);
    }
}

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
    if (!content_)
        return;
    GroupControls group;
    group.box = new QGroupBox(content_);
    group.box->hide();
    group.box->setObjectName(QStringLiteral("sui%1").arg(g));
    group.box->setFont(PanelFont(group.box->font(), true));
    group.box->setTitle(definition_.GroupCaption(g));
    group.buttons = new QButtonGroup(group.box);
    group.buttons->setExclusive(true);

    const QFont itemFont = PanelFont(group.box->font(), false);
    const QStringList items = definition_.GroupItems(g);
    for (int i = 0; i < items.size(); ++i) {
        auto* item = new QRadioButton(group.box);
        item->setObjectName(QStringLiteral("sui%1_item%2").arg(g).arg(i));
        item->setFont(itemFont);
        SetItemText(item, items[i]);
        item->installEventFilter(this);
        group.buttons->addButton(item, i);
        group.items.append(item);
    }
    if (g == 0) {
        connect(group.buttons, &QButtonGroup::idToggled, this, [this](int, bool checked) {
            if (checked)
                ApplyMasterSwitch();
        });
    }
    groups_[g] = group;
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
    const int n = int(group.items.size());
    if (n == 0)
        return;
    // Items sit inside the frame, below the caption, with the same margin left and right.
    const QRect inner = group.box->contentsRect();
    const int left = std::max(kItemLeftMargin, inner.left());
    const int rows = (n + kGroupColumns - 1) / kGroupColumns;
    const int columnWidth = (group.box->width() - 2 * left) / kGroupColumns;
    const int rowHeight = inner.height() / rows;
    for (int i = 0; i < n; ++i) {
        group.items[i]->setGeometry(left + (i / rows) * columnWidth,
                                    inner.top() + (i % rows) * rowHeight, columnWidth, rowHeight);
    }
}

void TParameterPanel::ShowMissing(const QString& modelName, const QString& gap)
{
    showPlainMessage_(messages_.LookupMessage(QStringLiteral("str10")) + gap + modelName +
                      QStringLiteral(".ini") + QLatin1Char('\r') +
                      messages_.LookupMessage(QStringLiteral("str30")));
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
