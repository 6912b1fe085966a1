// Every window on the screen the test runs on: a desktop's by default; CTest runs it again on a
// laptop's and a netbook's screen (each less a panel) and on screens scaled by 1.5 and 2
// (tests/shell/CMakeLists.txt). Each window's frame lies inside the screen's available geometry,
// what does not fit can be scrolled to, and no text is cut off, in German (the longest language),
// Czech and English.

#include "tests/support/modal.h"
#include "tests/support/shownwindow.h"

#include "i18n/msglangres.h"
#include "models/paramcompare.h"
#include "models/paramfile.h"
#include "shell/about.h"
#include "shell/messageboxes.h"
#include "shell/nastaveni.h"
#include "shell/porovnani.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <gtest/gtest.h>

namespace {

// The width of a text's longest line in a widget's font.
int TextWidth(const QWidget* w, const QString& text)
{
    int widest = 0;
    for (const QString& line : QString(text).remove(QLatin1Char('&')).split(QLatin1Char('\n')))
        widest = std::max(widest, w->fontMetrics().horizontalAdvance(line));
    return widest;
}

// What is wrong with a shown window on this screen: its frame outside the available geometry, or
// a text its control cuts off (the room it needs, the room it has).
QStringList Problems(QWidget* window)
{
    QStringList out;
    if (!window->screen()->availableGeometry().contains(window->frameGeometry()))
        out << QStringLiteral("the frame leaves the screen");
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->window() != window || !w->isVisibleTo(window))
            continue;
        QString text;
        int need = 0, have = w->contentsRect().width();
        if (auto* l = qobject_cast<QLabel*>(w)) {
            text = l->text();
            need = l->wordWrap() ? 0 : TextWidth(l, text) + 2 * l->margin();
            if (l->wordWrap() && l->heightForWidth(l->width()) > l->height())
                need = have + 1;
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            text = b->text();
            // A push button's width is its own below 80 pixels, whatever its text.
            need = qobject_cast<QPushButton*>(b) ? TextWidth(b, text) + 8 : b->sizeHint().width();
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            text = g->title();
            need = TextWidth(g, text) + g->contentsMargins().left();
        }
        if (!text.isEmpty() && need > have)
            out << QStringLiteral("%1 \"%2\": %3 > %4")
                       .arg(w->objectName(), text)
                       .arg(need)
                       .arg(have);
    }
    return out;
}

void ExpectFits(QWidget* window)
{
    SCOPED_TRACE(window->objectName().toStdString());
    QApplication::processEvents(); // Qt shows or hides scroll bars when its loop runs
    EXPECT_EQ(Problems(window), QStringList());
}

} // namespace

TEST(Screens, EveryWindowFitsAndNoTextIsCut)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    SCOPED_TRACE(
        QStringLiteral("screen %1x%2").arg(screen.width()).arg(screen.height()).toStdString());
    for (const char* code : {"GE", "CZ", "EN"}) {
        SCOPED_TRACE(code);
        TShownWindow w(code);
        ASSERT_TRUE(w.connected);
        TMainForm& f = *w.form;
        // A backup for the list, a change for the status bar's count.
        f.Button2->click();
        ASSERT_TRUE(w.RunUntilIdle());
        w.Panel().ItemButton(1, (w.Panel().ItemIndex(1) + 1) % 4)->click();
        f.ShowUsbProblem({FtOpenFailure::Denied, QStringLiteral("/dev/bus/usb/001/004")});

        ExpectFits(&f);
        // What the window has no room for scrolls into view.
        const QSize content = f.Body->widget()->size();
        EXPECT_EQ(content, QSize(802, 534));
        EXPECT_GE(f.Body->viewport()->width() + f.Body->horizontalScrollBar()->maximum(),
                  content.width());
        EXPECT_GE(f.Body->viewport()->height() + f.Body->verticalScrollBar()->maximum(),
                  content.height());
        EXPECT_EQ(f.size() == QSize(802, 575), screen.height() >= 575 + 8 && screen.width() >= 810)
            << "its own size wherever the screen has room for it";

        // Dragged to a corner, mostly off the screen: what is centred on it stays on the screen.
        f.move(screen.right() - 100, screen.bottom() - 100);
        TNastaveni* settings = f.Nastaveni();
        settings->show();
        ExpectFits(settings);
        settings->hide();

        // A file with a setting of every group changed and one group too many.
        QStringList lines = ParameterFileLines(w.Panel());
        for (int g = 0; g < w.Panel().GroupCount(); ++g)
            lines[4 + g] = QString::number(w.Panel().ItemIndex(g) == 0 ? 2 : 1);
        lines.append(QStringLiteral("1"));
        const TCompareHost host{
            w.dir.Path(), QLatin1String(code), &w.Panel().Model(), &f.Messages(), {}, {}};
        TPorovnani compare(host, w.dir.File(QStringLiteral("Data/KVX-40 OPTO/jiný.zeq")), lines,
                           &f);
        TZalohy backups(host, QStringLiteral("KVX-40 OPTO"), &f);
        TAbout about(QLatin1String(code), w.dir.Path(), &f);
        for (QWidget* d : std::initializer_list<QWidget*>{&compare, &backups, &about}) {
            d->show();
            ExpectFits(d);
            d->hide();
        }

        // The question before a file that does not fit is loaded, as the window asks it.
        const TParameterFit fit = CheckParameterFit(w.Panel().Model(), lines, f.Messages());
        ASSERT_FALSE(fit.Fits());
        bool asked = false;
        WhenShown<QMessageBox>([&](QMessageBox& box) {
            asked = true;
            ExpectFits(&box);
        });
        TQtMessageBoxes(&f).Ask(f.MessageDlg().caption,
                                f.Messages().LookupMessage("Str261").arg("jiný.zeq") + '\r' +
                                    fit.Summary() + '\r' + f.Messages().LookupMessage("Str262"),
                                f.MessageDlg().button1Caption, f.MessageDlg().button2Caption,
                                TDefaultAnswer::No);
        EXPECT_TRUE(asked);
    }
}
