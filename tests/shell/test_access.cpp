// The main window with the demo regulator as a screen reader and the keyboard meet it, in Czech,
// English and German: every control named (and the names follow the flags), Tab in reading order,
// every action by keys alone, and every text readable on a light and on a dark desktop.

#include "tests/support/modal.h"
#include "tests/support/shownwindow.h"

#include "look/contrast.h"
#include "models/paramfile.h"
#include "shell/about.h"
#include "shell/nastaveni.h"
#include "shell/porovnani.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QKeySequence>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyleFactory>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

// A key as the user types it: into the open menu, else the focused control of the active window.
// A desktop gives the keyboard back to the window when a dialog closes; the offscreen platform
// does not, so that is done here.
void Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    if (!QApplication::activeWindow() || !QApplication::activeWindow()->isVisible())
        for (QWidget* top : QApplication::topLevelWidgets())
            if (qobject_cast<QMainWindow*>(top) && top->isVisible())
                QApplication::setActiveWindow(top);
    QWidget* to = QApplication::activePopupWidget();
    if (!to)
        to = QApplication::focusWidget();
    if (!to)
        to = QApplication::activeWindow();
    ASSERT_NE(to, nullptr) << "no window has the keyboard";
    QTest::keyClick(to, Qt::Key(key), mods);
}

// The key of an Alt letter in a menu's or item's text.
int LetterOf(const QString& text)
{
    const QKeySequence letter = QKeySequence::mnemonic(text);
    return letter.isEmpty() ? 0 : letter[0].key();
}

// Opens the window's menu and an item of it by their letters, as the user does with Alt.
void ChooseFromMenu(QMenu* menu, QAction* item)
{
    Press(LetterOf(menu->title()), Qt::AltModifier);
    ASSERT_EQ(QApplication::activePopupWidget(), menu) << menu->title().toStdString();
    Press(LetterOf(item->text()));
}

struct TNode {
    QString path; // the object names from the window down
    QAccessible::Role role;
    QString name, description;
    bool interactive;
};

// Every visible element of the accessibility tree below iface, depth first.
void Walk(QAccessibleInterface* iface, const QString& path, QList<TNode>& out)
{
    if (!iface || iface->state().invisible)
        return;
    static const QList<QAccessible::Role> kControls = {
        QAccessible::PushButton, QAccessible::RadioButton,  QAccessible::CheckBox,
        QAccessible::ComboBox,   QAccessible::EditableText, QAccessible::SpinBox,
        QAccessible::MenuItem,   QAccessible::PageTab,      QAccessible::Button,
        QAccessible::Grouping};
    const QString name = iface->object() && !iface->object()->objectName().isEmpty()
                             ? iface->object()->objectName()
                             : QString::number(int(iface->role()));
    const QString here = path + QLatin1Char('/') + name;
    out.append({here, iface->role(), iface->text(QAccessible::Name),
                iface->text(QAccessible::Description),
                iface->state().focusable || kControls.contains(iface->role())});
    for (int i = 0; i < iface->childCount(); ++i)
        Walk(iface->child(i), here + QLatin1Char('#') + QString::number(i), out);
}

QMap<QString, TNode> Controls(QWidget* window)
{
    QList<TNode> nodes;
    Walk(QAccessible::queryAccessibleInterface(window), QString(), nodes);
    QMap<QString, TNode> controls;
    for (const TNode& n : nodes)
        if (n.interactive)
            controls.insert(n.path, n);
    return controls;
}

// A dark desktop as Qt's Fusion style paints one.
QPalette DarkPalette()
{
    QPalette p;
    const QColor window(53, 53, 53), base(42, 42, 42), disabled(127, 127, 127);
    for (auto [role, colour] : {std::pair{QPalette::Window, window},
                                {QPalette::WindowText, QColor(Qt::white)},
                                {QPalette::Base, base},
                                {QPalette::AlternateBase, QColor(66, 66, 66)},
                                {QPalette::Text, QColor(Qt::white)},
                                {QPalette::Button, window},
                                {QPalette::ButtonText, QColor(Qt::white)},
                                {QPalette::Highlight, QColor(42, 130, 218)},
                                {QPalette::HighlightedText, QColor(Qt::black)},
                                {QPalette::Light, QColor(90, 90, 90)},
                                {QPalette::Midlight, QColor(70, 70, 70)},
                                {QPalette::Mid, QColor(40, 40, 40)},
                                {QPalette::Dark, QColor(25, 25, 25)},
                                {QPalette::Shadow, QColor(Qt::black)}})
        p.setColor(role, colour);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    return p;
}

struct TContrast {
    QString what;
    double ratio, needed;
};

// What a widget is drawn on: the nearest of itself and its parents that fills its background.
QColor DrawnOn(const QWidget* w)
{
    for (const QWidget* x = w; x; x = x->parentWidget())
        if (x->autoFillBackground() || x->isWindow())
            return x->palette().color(QPalette::Active, x->backgroundRole());
    return {};
}

// Every text of an enabled control that the window shows, and every coloured mark, against what
// it is drawn on.
QList<TContrast> Contrasts(QWidget* window)
{
    QList<TContrast> out;
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        if (w->window() != window || !w->isVisibleTo(window) || !w->isEnabled())
            continue;
        const QPalette& p = w->palette();
        const auto c = [&](QPalette::ColorRole role) { return p.color(QPalette::Active, role); };
        const QString what = w->objectName() + QLatin1Char(' ') + w->metaObject()->className();
        if (w->property("kxFillColour").isValid())
            out.append({what, ContrastRatio(c(QPalette::Window), DrawnOn(w->parentWidget())),
                        kMarkContrast});
        else if (qobject_cast<QPushButton*>(w))
            out.append(
                {what, ContrastRatio(c(QPalette::ButtonText), c(QPalette::Button)), kTextContrast});
        else if (qobject_cast<QLineEdit*>(w))
            out.append({what, ContrastRatio(c(QPalette::Text), c(QPalette::Base)), kTextContrast});
        else if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                 qobject_cast<QGroupBox*>(w) || qobject_cast<QMenuBar*>(w))
            out.append({what, ContrastRatio(c(QPalette::WindowText), DrawnOn(w)), kTextContrast});
    }
    return out;
}

} // namespace

// Each interactive element has a name, none shares its name with a sibling, and after a switch of
// the flags every name and description is what a window started in that language has.
TEST(Accessibility, EveryControlIsNamedAndTheNamesFollowTheFlags)
{
    QMap<QString, QMap<QString, TNode>> fresh;
    for (const char* code : kShippedLanguages) {
        SCOPED_TRACE(code);
        TShownWindow w(code);
        ASSERT_TRUE(w.connected);
        const QMap<QString, TNode> controls = Controls(w.form.get());
        EXPECT_GT(controls.size(), 40);
        QMap<QString, QStringList> bySiblings;
        for (const TNode& n : controls) {
            EXPECT_FALSE(n.name.trimmed().isEmpty()) << n.path.toStdString();
            const QString parent = n.path.section(QLatin1Char('#'), 0, -2);
            EXPECT_FALSE(bySiblings[parent].contains(n.name))
                << n.path.toStdString() << " shares the name " << n.name.toStdString();
            bySiblings[parent].append(n.name);
        }
        fresh.insert(QLatin1String(code), controls);
    }
    // The names are not the same whatever the language.
    const auto named = [&](const char* code, const char* end) {
        for (const TNode& n : fresh[QLatin1String(code)])
            if (n.path.endsWith(QLatin1String(end)))
                return n.name;
        return QString();
    };
    for (const char* end : {"/Button1", "/LKorekceA", "/UpA", "/Image3", "/sui1", "/LnH"}) {
        EXPECT_NE(named("CZ", end), named("EN", end)) << end;
        EXPECT_NE(named("EN", end), named("GE", end)) << end;
    }

    TShownWindow w("CZ");
    ASSERT_TRUE(w.connected);
    for (QLabel* flag : {w.form->Image3, w.form->Image4, w.form->Image2}) {
        const QString code = QLatin1String(flag == w.form->Image3   ? "EN"
                                           : flag == w.form->Image4 ? "GE"
                                                                    : "CZ");
        SCOPED_TRACE(code.toStdString());
        w.form->Image2Click(flag);
        ASSERT_TRUE(w.RunUntilIdle());
        const QMap<QString, TNode> switched = Controls(w.form.get());
        EXPECT_EQ(switched.keys(), fresh[code].keys());
        for (const TNode& n : switched) {
            EXPECT_EQ(n.name, fresh[code][n.path].name) << n.path.toStdString();
            EXPECT_EQ(n.description, fresh[code][n.path].description) << n.path.toStdString();
        }
    }
}

// Tab from anywhere goes round the window as one reads it: the left column from the top (the
// values included), then each option group at its chosen item.
TEST(Keyboard, TabFollowsTheReadingOrder)
{
    TShownWindow w("CZ");
    ASSERT_TRUE(w.connected);
    TMainForm& f = *w.form;
    QWidget* content = f.Body->widget();
    QList<QWidget*> visited;
    for (int i = 0; i < 80 && !visited.contains(QApplication::focusWidget()); ++i) {
        if (QApplication::focusWidget())
            visited.append(QApplication::focusWidget());
        Press(Qt::Key_Tab);
    }
    // Where one reads it: the column, then the height, then from the left.
    const auto place = [&](QWidget* x) {
        const QPoint at = x->mapTo(content, QPoint(0, 0));
        return std::tuple(f.Panel->isAncestorOf(x), at.y(), at.x());
    };
    const auto first = std::min_element(visited.begin(), visited.end(),
                                        [&](auto* a, auto* b) { return place(a) < place(b); });
    std::rotate(visited.begin(), first, visited.end());
    for (qsizetype i = 0; i + 1 < visited.size(); ++i)
        EXPECT_LT(place(visited[i]), place(visited[i + 1]))
            << visited[i]->objectName().toStdString() << " before "
            << visited[i + 1]->objectName().toStdString();
    EXPECT_EQ(visited.front(), f.Image2);
    for (QWidget* value : std::initializer_list<QWidget*>{f.LnH, f.LmH, w.Panel().ValueLabel(2)})
        EXPECT_TRUE(visited.contains(value)) << value->objectName().toStdString();
    for (int g = 0; g < w.Panel().GroupCount(); ++g) {
        QList<QWidget*> stops;
        for (QWidget* x : visited)
            if (w.Panel().Group(g)->isAncestorOf(x))
                stops.append(x);
        const int chosen = w.Panel().ItemIndex(g);
        EXPECT_EQ(stops, QList<QWidget*>{w.Panel().ItemButton(g, chosen)}) << "group " << g;
    }
}

// The user's day without a mouse: read, two options by the arrow keys, a throttle limit typed,
// write, compare with a file, the backups, the settings and the About box, each closed by Escape.
TEST(Keyboard, EveryActionWithKeysAlone)
{
    for (const char* code : kShippedLanguages) {
        SCOPED_TRACE(code);
        TShownWindow w(code);
        ASSERT_TRUE(w.connected);
        TMainForm& f = *w.form;
        TParameterPanel& panel = w.Panel();
        const auto focusOn = [&](QWidget* target) {
            for (int i = 0; i < 80 && QApplication::focusWidget() != target; ++i)
                Press(Qt::Key_Tab);
            ASSERT_EQ(QApplication::focusWidget(), target) << target->objectName().toStdString();
        };
        const int reads = w.Count(regsim::Message::Read);
        Press(Qt::Key_F5);
        ASSERT_TRUE(w.RunUntilIdle());
        focusOn(f.Button1);
        Press(Qt::Key_Return);
        ASSERT_TRUE(w.RunUntilIdle());
        EXPECT_EQ(w.Count(regsim::Message::Read), reads + 2) << "F5, then Enter on the button";

        // Brake and timing: Tab to the chosen item, an arrow chooses its neighbour.
        for (int g : {1, 3}) {
            const int before = panel.ItemIndex(g);
            focusOn(panel.ItemButton(g, before));
            Press(before == 0 ? Qt::Key_Right : Qt::Key_Left);
            EXPECT_NE(panel.ItemIndex(g), before) << "group " << g;
        }
        const int brake = panel.ItemIndex(1), timing = panel.ItemIndex(3);
        focusOn(f.LKorekceA);
        Press(Qt::Key_A, Qt::ControlModifier);
        for (const QChar c : QLocale().toString(1.25, 'f', 2))
            QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
        Press(Qt::Key_Up);
        EXPECT_DOUBLE_EQ(f.LKorekceA->Value(), 1.26);
        Press(Qt::Key_Tab);

        Press(Qt::Key_F9);
        ASSERT_TRUE(w.RunUntilIdle());
        EXPECT_EQ(w.sim.Block().options[1], brake + 1);
        EXPECT_EQ(w.sim.Block().options[3], timing + 1);
        EXPECT_EQ(w.sim.Block().throttleMin, 1260);

        const QString folder = w.dir.File(QStringLiteral("Data/KVX-40 OPTO"));
        const QString file = folder + QStringLiteral("/kbd.zeq");
        f.SaveParameterFile(file);
        w.dialogs.answers = {file};
        bool compared = false;
        WhenShown<TPorovnani>([&](TPorovnani& d) {
            compared = d.Rows().size() > 0;
            QTest::keyClick(&d, Qt::Key_Escape);
            EXPECT_FALSE(d.isVisible()) << "Escape closes the comparison";
        });
        ChooseFromMenu(f.Soubor1, f.Porovnat);
        EXPECT_TRUE(compared);

        bool listed = false;
        WhenShown<TZalohy>([&](TZalohy& d) {
            listed = !d.Entries().isEmpty();
            QTest::keyClick(&d, Qt::Key_Escape);
            EXPECT_FALSE(d.isVisible()) << "Escape closes the backups";
        });
        ChooseFromMenu(f.Soubor1, f.Zalohy);
        EXPECT_TRUE(listed) << "the write made a backup";

        for (QAction* item : {f.Setup, f.AboutSW}) {
            QMenu* menu = item == f.Setup ? f.Soubor1 : f.Npovda1;
            bool closed = false;
            QTimer::singleShot(0, [&] {
                QWidget* shown = QApplication::activeModalWidget();
                ASSERT_NE(shown, nullptr);
                QTest::keyClick(shown, Qt::Key_Escape);
                closed = !shown->isVisible();
            });
            ChooseFromMenu(menu, item);
            EXPECT_TRUE(closed) << item->objectName().toStdString();
        }
        Press(Qt::Key_F10);
        EXPECT_EQ(QApplication::activePopupWidget(), f.Soubor1) << "F10 opens the first menu";
        Press(Qt::Key_Escape);
        EXPECT_TRUE(w.boxes.boxes.isEmpty());
    }
}

// The window, the comparison and the About box on a light desktop, on a dark one and on the
// light one again, with every colour of the program's own showing: the read's blue and black
// items, an unwritten mark and count, the adapter's red notice, a file that does not fit.
TEST(Contrast, EveryTextReadsOnALightAndADarkDesktop)
{
    struct Restore {
        QPalette palette = QApplication::palette();
        ~Restore() { QApplication::setPalette(palette); }
    } restore;
    for (const char* code : kShippedLanguages) {
        SCOPED_TRACE(code);
        QApplication::setPalette(restore.palette);
        TShownWindow w(code);
        ASSERT_TRUE(w.connected);
        TMainForm& f = *w.form;
        w.Panel().ItemButton(1, (w.Panel().ItemIndex(1) + 1) % 4)->click();
        f.ShowUsbProblem({FtOpenFailure::Denied, QStringLiteral("/dev/bus/usb/001/004")});
        QStringList misfit = ParameterFileLines(w.Panel());
        misfit.removeLast();
        const TCompareHost host{
            w.dir.Path(), QLatin1String(code), &w.Panel().Model(), &f.Messages(), {}, {}};
        TPorovnani compare(host, QStringLiteral("x.zeq"), misfit, &f);
        TAbout about(QLatin1String(code), w.dir.Path(), &f);
        for (QWidget* shown : std::initializer_list<QWidget*>{&compare, &about})
            shown->show();
        ASSERT_TRUE(compare.LNepasuje->isVisibleTo(&compare));
        for (const bool dark : {false, true, false}) {
            SCOPED_TRACE(dark ? "dark" : "light");
            QApplication::setPalette(dark ? DarkPalette() : restore.palette);
            QApplication::processEvents(); // Qt posts the change to the windows
            for (QWidget* window : std::initializer_list<QWidget*>{&f, &compare, &about}) {
                window->grab(); // painted as the desktop shows it
                const QList<TContrast> texts = Contrasts(window);
                EXPECT_GT(texts.size(), window == &f ? 40 : 3);
                for (const TContrast& t : texts)
                    EXPECT_GE(t.ratio, t.needed) << t.what.toStdString();
                EXPECT_EQ(IsDarkPalette(window->palette()), dark) << "a background of its own";
            }
        }
    }
}
