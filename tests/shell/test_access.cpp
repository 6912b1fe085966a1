// The main window with the demo regulator and its dialogs as the user meets them, in Czech,
// English and German: through a screen reader's eyes (every control named, the names following
// the flags), with the keyboard alone, on a light and a dark desktop, and on the screen the test
// runs on. That is a desktop's by default; CTest runs Screens.* again on a laptop's and a netbook's
// screen (each less a panel) and on screens scaled by 1.5 and 2 (tests/shell/CMakeLists.txt).

#include "tests/support/modal.h"
#include "tests/support/shownwindow.h"

#include "look/contrast.h"
#include "models/paramcompare.h"
#include "models/paramfile.h"
#include "shell/about.h"
#include "shell/kontrola.h"
#include "shell/messageboxes.h"
#include "shell/nastaveni.h"
#include "shell/porovnani.h"

#include <QAccessible>
#include <QGroupBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A key as the user types it: into the open menu, else the focused control. A desktop gives the
// keyboard back to the window when a dialog closes; the offscreen platform does not.
void Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    if (!QApplication::activeWindow() || !QApplication::activeWindow()->isVisible())
        for (QWidget* top : QApplication::topLevelWidgets())
            if (qobject_cast<QMainWindow*>(top) && top->isVisible())
                QApplication::setActiveWindow(top);
    QWidget* to = QApplication::activePopupWidget();
    QTest::keyClick(to ? to : QApplication::focusWidget(), Qt::Key(key), mods);
}

// A menu and an item of it by their Alt letters.
void ChooseFromMenu(QMenu* menu, QAction* item)
{
    Press(QKeySequence::mnemonic(menu->title())[0].key(), Qt::AltModifier);
    ASSERT_EQ(QApplication::activePopupWidget(), menu) << menu->title().toStdString();
    Press(QKeySequence::mnemonic(item->text())[0].key());
}

struct TNode {
    QString name, description;
};
int node = 0; // unnamed objects are told apart by their place in the walk

// The controls of the window's accessibility tree (what takes the keyboard or is a group of
// them), by the object names down to them.
void Walk(QAccessibleInterface* iface, const QString& path, QMap<QString, TNode>& out)
{
    if (!iface || iface->state().invisible)
        return;
    const QString here = path + QLatin1Char('/') +
                         (iface->object() ? iface->object()->objectName() : QString()) +
                         QLatin1Char('#') + QString::number(node++);
    static const QList<QAccessible::Role> kControls = {
        QAccessible::PushButton, QAccessible::RadioButton, QAccessible::EditableText,
        QAccessible::MenuItem, QAccessible::Button};
    const bool group = iface->role() == QAccessible::Grouping &&
                       qobject_cast<QGroupBox*>(iface->object()); // not Qt's own button boxes
    if (iface->state().focusable || kControls.contains(iface->role()) || group)
        out.insert(here, {iface->text(QAccessible::Name), iface->text(QAccessible::Description)});
    for (int i = 0; i < iface->childCount(); ++i)
        Walk(iface->child(i), here, out);
}

QMap<QString, TNode> Controls(QWidget* window)
{
    QMap<QString, TNode> controls;
    node = 0;
    Walk(QAccessible::queryAccessibleInterface(window), QString(), controls);
    return controls;
}

// What a widget is drawn on: the nearest of itself and its parents that fills its background.
QColor DrawnOn(const QWidget* w)
{
    while (!w->autoFillBackground() && !w->isWindow())
        w = w->parentWidget();
    return w->palette().color(QPalette::Active, w->backgroundRole());
}

// The width of a text's longest line in a widget's font.
int TextWidth(const QWidget* w, const QString& text)
{
    int widest = 0;
    for (const QString& line : QString(text).remove(QLatin1Char('&')).split(QLatin1Char('\n')))
        widest = std::max(widest, w->fontMetrics().horizontalAdvance(line));
    return widest;
}

// What is wrong with a shown window: its frame off the screen's available geometry, a text its
// control cuts off, a text or mark of an enabled control too faint on what it is drawn on (4.5:1,
// marks 3:1), a control without a name.
QStringList Problems(QWidget* window)
{
    QApplication::processEvents(); // Qt shows or hides scroll bars when its loop runs
    QStringList out;
    if (!window->screen()->availableGeometry().contains(window->frameGeometry()))
        out << QStringLiteral("the frame leaves the screen");
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->window() != window || !w->isVisibleTo(window))
            continue;
        const auto c = [w](QPalette::ColorRole r) {
            return w->palette().color(QPalette::Active, r);
        };
        QString text;
        int need = 0;
        double contrast = ContrastRatio(c(QPalette::WindowText), DrawnOn(w)),
               needed = kTextContrast;
        if (auto* l = qobject_cast<QLabel*>(w)) {
            text = l->text();
            need = l->wordWrap() ? (l->heightForWidth(l->width()) > l->height()) * 10000
                                 : TextWidth(l, text) + 2 * l->margin();
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            text = b->text();
            // A push button is 80 pixels wide at least, whatever its text.
            need = qobject_cast<QPushButton*>(b) ? TextWidth(b, text) + 8 : b->sizeHint().width();
            if (qobject_cast<QPushButton*>(b))
                contrast = ContrastRatio(c(QPalette::ButtonText), c(QPalette::Button));
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            text = g->title();
            need = TextWidth(g, text) + g->contentsMargins().left();
        } else if (qobject_cast<QLineEdit*>(w)) {
            contrast = ContrastRatio(c(QPalette::Text), c(QPalette::Base));
        }
        const QString what = w->objectName() + QStringLiteral(" \"") + text + QLatin1Char('"');
        if (!text.isEmpty() && need > w->contentsRect().width())
            out << what + QStringLiteral(" cut off");
        if (w->property("kxFillColour").isValid()) {
            contrast = ContrastRatio(c(QPalette::Window), DrawnOn(w->parentWidget()));
            needed = kMarkContrast;
        }
        if (w->isEnabled() && contrast < needed)
            out << what + QStringLiteral(" too faint: %1").arg(contrast);
    }
    const QMap<QString, TNode> controls = Controls(window);
    for (auto n = controls.begin(); n != controls.end(); ++n)
        if (n->name.trimmed().isEmpty())
            out << n.key() + QStringLiteral(" has no name");
    return out;
}

} // namespace

// Each control has a name, none shares its name with a sibling, and after a switch of the flags
// every name and description is what a window started in that language has.
TEST(Accessibility, EveryControlIsNamedAndTheNamesFollowTheFlags)
{
    QMap<QString, QMap<QString, TNode>> fresh;
    for (const char* code : kShippedLanguages) {
        SCOPED_TRACE(code);
        TShownWindow w(code);
        ASSERT_TRUE(w.connected);
        const QMap<QString, TNode> controls = Controls(w.form.get());
        EXPECT_GT(controls.size(), 40);
        QMap<QString, QStringList> siblings;
        for (auto c = controls.begin(); c != controls.end(); ++c) {
            EXPECT_FALSE(c->name.trimmed().isEmpty()) << c.key().toStdString();
            QStringList& named = siblings[c.key().section(QLatin1Char('/'), 0, -2)];
            EXPECT_FALSE(named.contains(c->name)) << c.key().toStdString() << " shares its name";
            named.append(c->name);
        }
        fresh.insert(QLatin1String(code), controls);
        // Marks told in words: the item as read, and a change not yet written.
        TParameterPanel& panel = w.Panel();
        const auto said = [](QWidget* x, QAccessible::Text t) {
            return QAccessible::queryAccessibleInterface(x)->text(t);
        };
        EXPECT_EQ(said(panel.ItemButton(1, panel.ItemIndex(1)), QAccessible::Description),
                  w.form->Messages().LookupMessage(kAsReadKey));
        panel.ItemButton(1, (panel.ItemIndex(1) + 1) % 4)->click();
        EXPECT_EQ(said(panel.Group(1), QAccessible::Description),
                  w.form->Messages().LookupMessage(kNotWrittenKey));
        EXPECT_EQ(said(panel.Group(1), QAccessible::Name),
                  panel.Definition().GroupCaption(1).trimmed());
    }
    TShownWindow w("CZ");
    ASSERT_TRUE(w.connected);
    for (const char* code : {"EN", "GE", "CZ"}) {
        SCOPED_TRACE(code);
        w.form->Image2Click(code[0] == 'E'   ? w.form->Image3
                            : code[0] == 'G' ? w.form->Image4
                                             : w.form->Image2);
        const QMap<QString, TNode>& want = fresh[QLatin1String(code)];
        const QMap<QString, TNode> got = Controls(w.form.get());
        ASSERT_EQ(got.keys(), want.keys());
        int differ = 0;
        for (auto c = got.begin(); c != got.end(); ++c) {
            EXPECT_EQ(c->name, want[c.key()].name) << c.key().toStdString();
            EXPECT_EQ(c->description, want[c.key()].description) << c.key().toStdString();
            differ += c->name != fresh["CZ"][c.key()].name;
        }
        if (code[0] != 'C') {
            EXPECT_GT(differ, got.size() / 2) << "mostly new names";
        }
    }
}

// The user's day without a mouse: Tab round the window in reading order, read, two options by
// the arrow keys, a throttle limit typed, write, compare with a file, the backups, the settings
// and the About box, each closed by Escape.
TEST(Keyboard, EveryActionWithKeysAlone)
{
    for (const char* code : kShippedLanguages) {
        SCOPED_TRACE(code);
        TShownWindow w(code);
        ASSERT_TRUE(w.connected);
        TMainForm& f = *w.form;
        TParameterPanel& panel = w.Panel();

        // Round from the first flag: the left column from the top (its values too), then each
        // option group at its chosen item.
        ASSERT_EQ(QApplication::focusWidget(), f.Image2) << "the first control has the keyboard";
        QList<QWidget*> visited = {f.Image2};
        while (visited.size() < 60) {
            Press(Qt::Key_Tab);
            if (QApplication::focusWidget() == f.Image2)
                break;
            visited.append(QApplication::focusWidget());
        }
        const auto place = [&](QWidget* x) {
            const QPoint at = x->mapTo(f.Body->widget(), QPoint(0, 0));
            return std::tuple(f.Panel->isAncestorOf(x), at.y(), at.x());
        };
        for (qsizetype i = 0; i + 1 < visited.size(); ++i)
            EXPECT_LT(place(visited[i]), place(visited[i + 1]))
                << visited[i + 1]->objectName().toStdString();
        for (QWidget* value : std::initializer_list<QWidget*>{f.LnH, f.LmH, panel.ValueLabel(2)})
            EXPECT_TRUE(visited.contains(value)) << value->objectName().toStdString();
        for (int g = 0; g < panel.GroupCount(); ++g) {
            QList<QWidget*> stops;
            for (QWidget* x : visited)
                if (panel.Group(g)->isAncestorOf(x))
                    stops.append(x);
            EXPECT_EQ(stops, QList<QWidget*>{panel.ItemButton(g, panel.ItemIndex(g))}) << g;
        }
        const auto focusOn = [&](QWidget* target) {
            for (int i = 0; i < 60 && QApplication::focusWidget() != target; ++i)
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

        // Brake and timing: Tab stops at the chosen item, an arrow chooses its neighbour.
        for (int g : {1, 3}) {
            const int before = panel.ItemIndex(g);
            focusOn(panel.ItemButton(g, before));
            Press(before == 0 ? Qt::Key_Right : Qt::Key_Left);
            EXPECT_NE(panel.ItemIndex(g), before) << "group " << g;
        }
        focusOn(f.LKorekceA);
        Press(Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(f.LKorekceA, QLocale().toString(1.25, 'f', 2));
        Press(Qt::Key_Up);
        Press(Qt::Key_Tab);
        Press(Qt::Key_F9);
        ASSERT_TRUE(w.RunUntilIdle());
        EXPECT_EQ(w.sim.Block().options[1], panel.ItemIndex(1) + 1);
        EXPECT_EQ(w.sim.Block().options[3], panel.ItemIndex(3) + 1);
        EXPECT_EQ(w.sim.Block().throttleMin, 1260);

        const QString file = w.dir.File(QStringLiteral("Data/KVX-40 OPTO/kbd.zeq"));
        f.SaveParameterFile(file);
        w.dialogs.answers = {file};
        bool compared = false, listed = false;
        WhenShown<TPorovnani>([&](TPorovnani& d) {
            compared = !d.Rows().isEmpty();
            QTest::keyClick(&d, Qt::Key_Escape);
        });
        ChooseFromMenu(f.Soubor1, f.Porovnat);
        WhenShown<TZalohy>([&](TZalohy& d) {
            listed = !d.Entries().isEmpty();
            QTest::keyClick(&d, Qt::Key_Escape);
        });
        ChooseFromMenu(f.Soubor1, f.Zalohy);
        EXPECT_TRUE(compared && listed) << "the write made a backup";
        for (QAction* item : {f.Setup, f.AboutSW}) {
            bool closed = false;
            QTimer::singleShot(0, [&] {
                QWidget* shown = QApplication::activeModalWidget();
                QTest::keyClick(shown, Qt::Key_Escape);
                closed = !shown->isVisible();
            });
            ChooseFromMenu(item == f.Setup ? f.Soubor1 : f.Npovda1, item);
            EXPECT_TRUE(closed) << item->objectName().toStdString() << " closed by Escape";
        }
        Press(Qt::Key_F10);
        EXPECT_EQ(QApplication::activePopupWidget(), f.Soubor1) << "F10 opens the first menu";
        Press(Qt::Key_Escape);
        EXPECT_TRUE(w.boxes.boxes.isEmpty());
    }
}

// Every window as it shows on this screen, on a light desktop, a dark one and the light one again,
// with every colour of the program's own showing (the read's blue and black items, an unwritten
// mark and count, the adapter's red notice and advice, a file that does not fit): see Problems.
TEST(Screens, EveryWindowFitsReadsAndIsNamed)
{
    struct Restore {
        QPalette light = QApplication::palette();
        ~Restore() { QApplication::setPalette(light); }
    } restore;
    const QPalette dark(QColor(53, 53, 53)); // white text, a black field
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (const char* code : {"GE", "CZ", "EN"}) {
        SCOPED_TRACE(code);
        QApplication::setPalette(restore.light);
        TShownWindow w(code);
        ASSERT_TRUE(w.connected);
        TMainForm& f = *w.form;
        // A backup for the list, a change for the status bar's count.
        f.Button2->click();
        ASSERT_TRUE(w.RunUntilIdle());
        w.Panel().ItemButton(1, (w.Panel().ItemIndex(1) + 1) % 4)->click();
        f.ShowUsbProblem({FtOpenFailure::Denied, QStringLiteral("/dev/bus/usb/001/004")});
        EXPECT_EQ(Problems(&f), QStringList());
        // Its own size wherever the screen has room for it; else what has no room scrolls.
        EXPECT_EQ(f.size() == QSize(802, 575), screen.height() >= 583 && screen.width() >= 810);
        EXPECT_GE(f.Body->viewport()->width() + f.Body->horizontalScrollBar()->maximum(), 802);
        EXPECT_GE(f.Body->viewport()->height() + f.Body->verticalScrollBar()->maximum(), 534);

        // A file with a setting of every group changed and one group too many.
        QStringList lines = ParameterFileLines(w.Panel());
        for (int g = 0; g < w.Panel().GroupCount(); ++g)
            lines[4 + g] = QString::number(w.Panel().ItemIndex(g) == 0 ? 2 : 1);
        lines.append(QStringLiteral("1"));
        const TCompareHost host{
            w.dir.Path(), QLatin1String(code), &w.Panel().Model(), &f.Messages(), {}, {}, {}, {}};
        TPorovnani compare(host, w.dir.File(QStringLiteral("Data/KVX-40 OPTO/jiný.zeq")), lines,
                           &f);
        TZalohy backups(host, QStringLiteral("KVX-40 OPTO"), &f);
        TAbout about(QLatin1String(code), w.dir.Path(), &f);
        // The connection check with a finding of each verdict.
        TKontrolaHost check{w.dir.Path(),
                            QLatin1String(code),
                            &f.Messages(),
                            [] {
                                return QList<TFinding>{
                                    {"a", TVerdict::Fine, {}, {}, "ok", {}},
                                    {"b", TVerdict::Problem, {}, {}, "no", "fix"},
                                    {"c", TVerdict::CannotTell, {}, {}, "?", {}}};
                            },
                            {}};
        TKontrola kontrola(check, &f);
        for (const bool isDark : {false, true, false}) {
            SCOPED_TRACE(isDark ? "dark" : "light");
            QApplication::setPalette(isDark ? dark : restore.light);
            for (QWidget* window : std::initializer_list<QWidget*>{&f, f.Nastaveni(), &compare,
                                                                   &backups, &about, &kontrola}) {
                window->show();
                QApplication::setActiveWindow(window);
                window->grab(); // painted as the desktop shows it
                EXPECT_EQ(Problems(window), QStringList()) << window->objectName().toStdString();
                EXPECT_EQ(IsDarkPalette(window->palette()), isDark) << "a background of its own";
            }
        }
        for (QWidget* d :
             std::initializer_list<QWidget*>{f.Nastaveni(), &compare, &backups, &about, &kontrola})
            d->hide();

        // The question before a file that does not fit is loaded, as the window asks it.
        const TParameterFit fit = CheckParameterFit(w.Panel().Model(), lines, f.Messages());
        ASSERT_FALSE(fit.Fits());
        bool asked = false;
        WhenShown<QMessageBox>([&](QMessageBox& box) {
            asked = true;
            EXPECT_EQ(Problems(&box), QStringList());
        });
        TQtMessageBoxes(&f).Ask(f.MessageDlg().caption,
                                f.Messages().LookupMessage("Str261").arg("jiný.zeq") + '\r' +
                                    fit.Summary() + '\r' + f.Messages().LookupMessage("Str262"),
                                f.MessageDlg().button1Caption, f.MessageDlg().button2Caption,
                                TDefaultAnswer::No);
        EXPECT_TRUE(asked);
    }
}
