#include "shell/porovnani.h"
#include "shell/mainform_parts.h"

#include "common/readfile.h"
#include "i18n/formlangres.h"
#include "i18n/formlanguage.h"
#include "i18n/msglangres.h"
#include "look/windowlook.h"
#include "models/panelmodel.h"
#include "models/paramfile.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using MainFormParts::PixelFont;

namespace {

const QColor kBackground(0xE8, 0xE8, 0xE8);
// A differing row: bold on a pale amber, with its own dark text, so that it reads the same on a
// light or a dark desktop.
const QColor kDiffersBackground(0xFF, 0xE4, 0xA0);
const QColor kDiffersText(0x20, 0x20, 0x20);
const QColor kWarningText(0xB0, 0x00, 0x00);
constexpr int kDefaultFontPixels = 11; // 8 points at 96 dpi
constexpr int kMargin = 8;
constexpr int kLongestColumn = 260; // a column wider than this is cut with "…"
constexpr int kFewestRows = 5;
constexpr int kTallestTable = 560;
constexpr QSize kCompareSize(600, 400);
constexpr QSize kBackupsSize(680, 300);

// The look of the program's dialogs: the grey of the window (the desktop's own on a dark
// desktop), its small face, a modal window that may grow as far as the screen has room.
void Dress(QDialog* dlg, const char* name, const QString& caption, QSize size)
{
    dlg->setObjectName(QString::fromLatin1(name));
    dlg->setWindowTitle(caption);
    dlg->setFont(PixelFont(kDefaultFontPixels, false));
    DressWindow(dlg, {kBackground, {}, TWindowLook::Place::AsQtPlaces});
    dlg->setModal(true);
    dlg->resize(size);
}

// The window's captions follow the language of the main window now, and again on each activation.
// Labels whose texts the program composes are not captions.
void FollowLanguage(QDialog* dlg, const TCompareHost& host, const QStringList& composed)
{
    const QString code = host.languageCode;
    TsmlFormLangRes* res = AttachFormLanguage(dlg, host.programDir, [code] { return code; },
                                              {QStringLiteral("Caption"), QStringLiteral("Hint")});
    res->SetIgnoreControls(composed);
    ApplyCurrentLanguage(dlg, code);
}

QLabel* AddLine(QWidget* parent, const char* name, QBoxLayout* layout)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(l);
    return l;
}

QPushButton* AddButton(QWidget* parent, const char* name, const QString& caption,
                       QBoxLayout* layout)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    // Enter presses the focused button (DressWindow) and no other: a default button would take
    // an Enter meant for the list.
    b->setAutoDefault(false);
    layout->addWidget(b);
    return b;
}

QTreeWidget* AddTable(QWidget* parent, const QStringList& headers, QBoxLayout* layout)
{
    auto* t = new QTreeWidget(parent);
    t->setObjectName(QStringLiteral("LV"));
    t->setColumnCount(int(headers.size()));
    t->setHeaderLabels(headers);
    t->setRootIsDecorated(false);
    t->setItemsExpandable(false);
    t->setUniformRowHeights(true);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setTextElideMode(Qt::ElideRight);
    t->header()->setSectionsMovable(false);
    t->header()->setStretchLastSection(true);
    layout->addWidget(t, 1);
    return t;
}

// Columns as wide as their texts, and the table as tall as its rows: a short list leaves no empty
// field, a long one scrolls.
void FitTable(QDialog* dlg, QTreeWidget* t)
{
    for (int c = 0; c + 1 < t->columnCount(); ++c) {
        t->resizeColumnToContents(c);
        t->setColumnWidth(c, std::min(t->columnWidth(c) + kMargin, kLongestColumn));
    }
    const int rows = std::max(t->topLevelItemCount(), kFewestRows);
    const int rowHeight =
        t->topLevelItemCount() > 0 ? t->sizeHintForRow(0) : t->fontMetrics().height();
    const int wanted = t->header()->sizeHint().height() + rows * rowHeight + 2 * t->frameWidth();
    t->setMinimumHeight(std::min(wanted, kTallestTable));
    dlg->resize(dlg->width(), dlg->sizeHint().height());
    t->setMinimumHeight(0);
}

} // namespace

// ---- the comparison
// -------------------------------------------------------------------------------------

TPorovnani::TPorovnani(TCompareHost host, QString fileName, QStringList fileLines, QWidget* parent)
    : TPorovnani(std::move(host), fileName, TFileSettings{std::move(fileLines), {}}, {}, parent)
{
}

TPorovnani::TPorovnani(TCompareHost host, QString fileName, TFileSettings file,
                       std::function<void()> loadWhole, QWidget* parent)
    : QDialog(parent), host_(std::move(host)), fileName_(std::move(fileName)),
      file_(std::move(file)), loadWhole_(std::move(loadWhole))
{
    Dress(this, "Porovnani", QStringLiteral("Porovnání se souborem"), kCompareSize);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);

    LSoubor = AddLine(this, "LSoubor", layout);
    LSoubor->setText(host_.messages->Msg("str292").arg(QDir::toNativeSeparators(fileName_)));
    LNepasuje = AddLine(this, "LNepasuje", layout);
    SetTextColour(LNepasuje, kWarningText);
    LV = AddTable(this,
                  {host_.messages->Msg("str278"), host_.messages->Msg("str279"),
                   host_.messages->Msg("str280")},
                  layout);
    // Rows to read, not to pick: no selection or focus frame over the marks.
    LV->setSelectionMode(QAbstractItemView::NoSelection);
    LV->setFocusPolicy(Qt::NoFocus);
    LPocet = AddLine(this, "LPocet", layout);
    LPocet->setFont(PixelFont(kDefaultFontPixels, true));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    Button3 = AddButton(this, "Button3", QStringLiteral("Načíst vybrané"), buttons);
    Button1 = AddButton(this, "Button1", QStringLiteral("Načíst do okna"), buttons);
    Button2 = AddButton(this, "Button2", QStringLiteral("Zavřít"), buttons);
    layout->addLayout(buttons);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    Button3->setEnabled(false);

    LV->setAccessibleName(LSoubor->text());
    const TParameterFit fit = CheckParameterFit(*host_.panel, file_.lines, *host_.messages);
    LNepasuje->setText(host_.messages->Msg("str277").arg(fit.Summary()));
    LNepasuje->setVisible(!fit.Fits());

    rows_ = CompareWithFile(*host_.panel, file_, host_.messages->LangFilePath());
    for (const TCompareRow& row : rows_) {
        auto* item = new QTreeWidgetItem(LV, {row.caption, row.panelText, row.fileText});
        if (!row.differs) {
            item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
            continue;
        }
        // A setting that differs can be taken alone: its box, unchecked, beside its caption.
        item->setCheckState(0, Qt::Unchecked);
        for (int c = 0; c < LV->columnCount(); ++c) {
            QFont f = item->font(c);
            f.setBold(true);
            item->setFont(c, f);
            item->setBackground(c, kDiffersBackground);
            item->setForeground(c, kDiffersText);
        }
    }
    const int differ = CountDifferences(rows_);
    LPocet->setText(differ == 0
                        ? host_.messages->Msg("str276")
                        : host_.messages->Msg("str275").arg(differ).arg(CountSettings(rows_)));
    FitTable(this, LV);
    // The boxes are reached with the arrows and ticked with Space, from the first of them.
    for (int r = 0; r < rows_.size() && LV->focusPolicy() == Qt::NoFocus; ++r) {
        if (QTreeWidgetItem* item = Checkable(r)) {
            LV->setFocusPolicy(Qt::StrongFocus);
            LV->setCurrentItem(item);
        }
    }
    connect(LV, &QTreeWidget::itemChanged, this,
            [this] { Button3->setEnabled(!CheckedRows().isEmpty()); });

    FollowLanguage(
        this, host_,
        {QStringLiteral("LSoubor"), QStringLiteral("LNepasuje"), QStringLiteral("LPocet")});
}

QTreeWidgetItem* TPorovnani::Checkable(int row) const
{
    QTreeWidgetItem* item = LV->topLevelItem(row);
    return item && item->data(0, Qt::CheckStateRole).isValid() ? item : nullptr;
}

QList<TCompareRow> TPorovnani::CheckedRows() const
{
    QList<TCompareRow> rows;
    for (int r = 0; r < rows_.size(); ++r) {
        const QTreeWidgetItem* item = Checkable(r);
        if (item && item->checkState(0) == Qt::Checked && rows_[r].kind != TCompareRow::Kind::Value)
            rows.append(rows_[r]);
    }
    return rows;
}

void TPorovnani::Button3Click()
{
    const QList<TCompareRow> rows = CheckedRows();
    if (rows.isEmpty())
        return;
    const TFileSettings taken = TakeSettings(*host_.panel, file_, rows);
    accept();
    host_.loadSettings(taken);
}

void TPorovnani::Button1Click()
{
    accept();
    if (loadWhole_)
        loadWhole_();
    else
        host_.loadParameterFile(fileName_);
}

namespace {

// The file's lines; nothing, after the error box, when it cannot be read.
std::optional<QStringList> ReadCompared(const TCompareHost& host, const QString& fileName)
{
    const TFileRead read = ReadFileWithLimit(fileName, kParameterFileMaxBytes);
    if (read.Ok())
        return DecodeParameterFile(read.bytes);
    host.showError(host.messages->LookupMessage(QStringLiteral("str1")) + QLatin1Char('\r') +
                   fileName + QLatin1Char('.'));
    return std::nullopt;
}

} // namespace

bool ShowComparison(const TCompareHost& host, const QString& fileName, QWidget* parent)
{
    const std::optional<QStringList> lines = ReadCompared(host, fileName);
    if (!lines)
        return false;
    TPorovnani dlg(host, fileName, *lines, parent);
    return dlg.exec() == QDialog::Accepted;
}

bool ShowComparison(const TCompareHost& host, const TBackupEntry& backup, QWidget* parent)
{
    const std::optional<QStringList> lines = ReadCompared(host, backup.parameterPath);
    if (!lines)
        return false;
    // A listed record's block always decodes (ListBackups leaves out those that do not).
    TFileSettings file{*lines, {}};
    if (const auto image = ImageFromReadPayload(backup.record.readPayload, backup.record.layout))
        file.throttle = TThrottleLimits{image->throttleMinUs, image->throttleMaxUs};
    TPorovnani dlg(
        host, backup.parameterPath, std::move(file), [&host, backup] { host.loadBackup(backup); },
        parent);
    return dlg.exec() == QDialog::Accepted;
}

// ---- the backups
// ----------------------------------------------------------------------------------------

TZalohy::TZalohy(TCompareHost host, QString modelName, QWidget* parent)
    : QDialog(parent), host_(std::move(host))
{
    Dress(this, "Zalohy", QStringLiteral("Zálohy"), kBackupsSize);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);

    LModel = AddLine(this, "LModel", layout);
    LModel->setText(host_.messages->Msg("str291").arg(
        modelName, QDir::toNativeSeparators(BackupFolder(host_.programDir, modelName))));
    LVynech = AddLine(this, "LVynech", layout);
    SetTextColour(LVynech, kWarningText);
    LV = AddTable(this,
                  {host_.messages->Msg("str281"), host_.messages->Msg("str282"),
                   host_.messages->Msg("str283"), host_.messages->Msg("str284"),
                   host_.messages->Msg("str285")},
                  layout);
    LV->setAccessibleName(LModel->text());
    LPrazdne = AddLine(this, "LPrazdne", layout);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    Button1 = AddButton(this, "Button1", QStringLiteral("Porovnat ..."), buttons);
    Button2 = AddButton(this, "Button2", QStringLiteral("Načíst do okna"), buttons);
    Button3 = AddButton(this, "Button3", QStringLiteral("Zavřít"), buttons);
    layout->addLayout(buttons);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, &QDialog::reject);
    connect(LV, &QTreeWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });
    connect(LV, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (Button1->isEnabled())
            Button1Click();
    });

    QStringList unreadable;
    entries_ = ListBackups(host_.programDir, modelName, &unreadable);
    LVynech->setText(host_.messages->Msg("str288").arg(unreadable.size()));
    LVynech->setToolTip(unreadable.join(QLatin1Char('\n')));
    LVynech->setVisible(!unreadable.isEmpty());
    LPrazdne->setText(host_.messages->Msg("str289"));
    LPrazdne->setVisible(entries_.isEmpty());

    for (const TBackupEntry& e : entries_) {
        const TBackupRecord& r = e.record;
        // The form of the backups' own names: the same in every language, and it sorts.
        const QString taken = r.taken.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const char* kind = r.kind == TOverwriteContext::Kind::FactoryReset ? "str287" : "str286";
        auto* item =
            new QTreeWidgetItem(LV, {taken, host_.messages->Msg(kind), r.identity.name.trimmed(),
                                     r.identity.version.trimmed(), r.link});
        item->setToolTip(0, QDir::toNativeSeparators(e.recordPath));
        if (e.parameterPath.isEmpty()) {
            for (int c = 0; c < LV->columnCount(); ++c) {
                item->setForeground(c, palette().color(QPalette::Disabled, QPalette::Text));
                item->setToolTip(c, host_.messages->Msg("str290"));
            }
        }
    }
    FitTable(this, LV);
    if (!entries_.isEmpty())
        LV->setCurrentItem(LV->topLevelItem(0));
    SelectionChanged();

    FollowLanguage(
        this, host_,
        {QStringLiteral("LModel"), QStringLiteral("LVynech"), QStringLiteral("LPrazdne")});
}

const TBackupEntry* TZalohy::Selected() const
{
    const QList<QTreeWidgetItem*> items = LV->selectedItems();
    if (items.isEmpty())
        return nullptr;
    const int row = LV->indexOfTopLevelItem(items.constFirst());
    return row >= 0 && row < entries_.size() ? &entries_[row] : nullptr;
}

void TZalohy::SelectionChanged()
{
    const TBackupEntry* e = Selected();
    const bool usable = e && !e->parameterPath.isEmpty();
    Button1->setEnabled(usable);
    Button2->setEnabled(usable);
}

void TZalohy::Button1Click()
{
    const TBackupEntry* e = Selected();
    if (e && !e->parameterPath.isEmpty() && ShowComparison(host_, *e, this))
        accept();
}

void TZalohy::Button2Click()
{
    const TBackupEntry* e = Selected();
    if (!e || e->parameterPath.isEmpty())
        return;
    const TBackupEntry backup = *e;
    accept();
    host_.loadBackup(backup);
}
