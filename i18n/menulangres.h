#pragma once
// The menu component: translates the captions of a menu's items, each under its item name and
// "_Caption". A separator ("-") is left alone together with everything below it.

#include "i18n/langres.h"

#include <QList>
#include <QPair>
#include <QPointer>
#include <QWidget>

class QAction;

class TsmlMenuLangRes : public TsmlLangRes {
    Q_OBJECT
public:
    explicit TsmlMenuLangRes(QObject* owner, const QString& programDir = QString());

    // The menu bar (or menu) whose items are translated; cleared when it is destroyed.
    QWidget* Menu() const { return menu_; }
    void SetMenu(QWidget* menu);

    void ApplyLanguage() override;

    // Every key this component would look up, with the caption in force, in reading order.
    QList<QPair<QString, QString>> Texts() const;

private:
    void TranslateItem(QAction* item);
    void CollectItem(const QAction* item, QList<QPair<QString, QString>>& texts) const;

    QPointer<QWidget> menu_;
};
