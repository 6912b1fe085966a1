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

// A focused text is framed in its own colour. (Not by a style sheet: a widget with one keeps the
// palette it had when the sheet was applied, and a dark desktop chosen later would not reach it.)
class TFocusFrame final : public QObject {
public:
    explicit TFocusFrame(QLabel* label) : QObject(label), own_(label->frameStyle())
    {
        label->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Not a label any more while it is being destroyed (which takes its focus too).
        auto* label = qobject_cast<QLabel*>(watched);
        if (!label)
            return false;
        if (event->type() == QEvent::FocusIn)
            label->setFrameStyle(QFrame::Box | QFrame::Plain);
        else if (event->type() == QEvent::FocusOut)
            label->setFrameStyle(own_);
        return QObject::eventFilter(watched, event);
    }

private:
    const int own_;
};

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
        setObjectName(QLatin1String(kName));
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

    // Found by its name: without meta-object of its own, findChild<TPress*> would take any child.
    static constexpr char kName[] = "kxPress";
    std::function<void()> press;
    std::function<bool()> checked;
};

TPress* PressOf(QObject* o)
{
    return o ? static_cast<TPress*>(
                   o->findChild<QObject*>(QLatin1String(TPress::kName), Qt::FindDirectChildrenOnly))
             : nullptr;
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
    // Named as its hint says, or by its text (a notice in the status bar).
    QString text(QAccessible::Text t) const override
    {
        const QString own = QAccessibleWidget::text(t);
        if (t != QAccessible::Name || !own.isEmpty())
            return own;
        return static_cast<const QLabel*>(widget())->text().trimmed();
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
    new TFocusFrame(label);
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
