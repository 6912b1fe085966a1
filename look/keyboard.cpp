#include "look/keyboard.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSet>

namespace {

// A focused text shows the focus the way a selected line does, in the desktop's colours.
constexpr char kFocusStyle[] =
    "QLabel:focus { background-color: palette(highlight); color: palette(highlighted-text); }";

bool HasMnemonic(const QString& text) { return !QKeySequence::mnemonic(text).isEmpty(); }

QChar MnemonicOf(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] != QLatin1Char('&'))
            return text[i + 1].toLower();
        ++i; // "&&" is an ampersand shown
    }
    return {};
}

// What a pressable label does, and the keys that do it.
class TPress final : public QObject {
public:
    TPress(QLabel* label, std::function<void()> press, std::function<bool()> checked)
        : QObject(label), press(std::move(press)), checked(std::move(checked))
    {
        label->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
                press();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

    std::function<void()> press;
    std::function<bool()> checked;
};

TPress* PressOf(QObject* o)
{
    return o ? o->findChild<TPress*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

class TPressableAccessible final : public QAccessibleWidget {
public:
    TPressableAccessible(QWidget* w, QAccessible::Role role) : QAccessibleWidget(w, role) {}
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        if (const TPress* p = PressOf(object()); p && p->checked) {
            s.checkable = true;
            s.checked = p->checked();
        }
        return s;
    }
    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override
    {
        if (name != pressAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        if (TPress* p = PressOf(object()))
            p->press();
    }
};

QAccessibleInterface* PressableFactory(const QString&, QObject* o)
{
    auto* label = qobject_cast<QLabel*>(o);
    const TPress* p = PressOf(label);
    if (!p)
        return nullptr;
    return new TPressableAccessible(label,
                                    p->checked ? QAccessible::RadioButton : QAccessible::Button);
}

} // namespace

QStringList WithMnemonics(const QStringList& texts)
{
    QSet<QChar> taken;
    for (const QString& t : texts)
        if (const QChar c = MnemonicOf(t); !c.isNull())
            taken.insert(c);
    QStringList out = texts;
    for (QString& t : out) {
        if (HasMnemonic(t))
            continue;
        for (qsizetype i = 0; i < t.size(); ++i) {
            const QChar c = t[i].toLower();
            if (t[i].isLetterOrNumber() && !taken.contains(c)) {
                taken.insert(c);
                t.insert(i, QLatin1Char('&'));
                break;
            }
        }
    }
    return out;
}

namespace {

void AssignWithin(const QList<QAction*>& actions)
{
    QList<QAction*> items;
    QStringList texts;
    for (QAction* a : actions) {
        if (a->isSeparator())
            continue;
        items.append(a);
        texts.append(a->text());
    }
    texts = WithMnemonics(texts);
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i]->text() != texts[i])
            items[i]->setText(texts[i]);
        if (QMenu* sub = items[i]->menu())
            AssignWithin(sub->actions());
    }
}

} // namespace

void AssignMnemonics(QMenuBar* bar)
{
    if (bar)
        AssignWithin(bar->actions());
}

void MakePressable(QLabel* label, std::function<void()> press, std::function<bool()> checked)
{
    static const bool installed = [] {
        QAccessible::installFactory(&PressableFactory);
        return true;
    }();
    Q_UNUSED(installed);
    new TPress(label, std::move(press), std::move(checked));
    MakeFocusableText(label);
    label->setFocusPolicy(Qt::StrongFocus);
}

void MakeFocusableText(QLabel* label)
{
    label->setFocusPolicy(Qt::TabFocus);
    label->setStyleSheet(QLatin1String(kFocusStyle));
}

QString NameOfCaption(const QString& caption)
{
    QString name = caption.trimmed();
    while (name.endsWith(QLatin1Char(':')))
        name = name.chopped(1).trimmed();
    return name;
}

QString NameOfValue(const QString& caption, const QString& value)
{
    return NameOfCaption(caption) + QStringLiteral(": ") + value.trimmed();
}
