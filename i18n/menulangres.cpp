#include "i18n/menulangres.h"

#include "i18n/langprops.h"

#include <QAction>
#include <QMenu>

namespace {
const QString kSeparator = QStringLiteral("-");
const QString kCaptionSuffix = QStringLiteral("_Caption");
} // namespace

TsmlMenuLangRes::TsmlMenuLangRes(QObject* owner, const QString& programDir)
    : TsmlLangRes(owner, programDir)
{
}

void TsmlMenuLangRes::SetMenu(QWidget* menu)
{
    menu_ = menu;
    Reapply();
}

void TsmlMenuLangRes::ApplyLanguage()
{
    if (!menu_)
        return;
    const QList<QAction*> items = menu_->actions();
    for (QAction* item : items)
        TranslateItem(item);
}

void TsmlMenuLangRes::TranslateItem(QAction* item)
{
    const QString caption = MenuItemCaption(item);
    if (caption == kSeparator)
        return;
    if (const auto value = ReadText(MenuItemName(item) + kCaptionSuffix, caption))
        item->setText(*value);
    if (QMenu* sub = item->menu()) {
        const QList<QAction*> subItems = sub->actions();
        for (QAction* subItem : subItems)
            TranslateItem(subItem);
    }
}

QList<QPair<QString, QString>> TsmlMenuLangRes::Texts() const
{
    QList<QPair<QString, QString>> texts;
    if (menu_)
        for (const QAction* item : menu_->actions())
            CollectItem(item, texts);
    return texts;
}

void TsmlMenuLangRes::CollectItem(const QAction* item, QList<QPair<QString, QString>>& texts) const
{
    const QString caption = MenuItemCaption(item);
    if (caption == kSeparator)
        return;
    texts.append({MenuItemName(item) + kCaptionSuffix, caption});
    if (const QMenu* sub = item->menu())
        for (const QAction* subItem : sub->actions())
            CollectItem(subItem, texts);
}
