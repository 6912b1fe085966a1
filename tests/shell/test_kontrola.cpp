// The connection check in the window: the ways to it while nothing is connected, and its window,
// which lists problems first and copies the whole report; the demo offered on the first start.

#include "tests/support/shellfixture.h"

#include "shell/kontrola.h"
#include "shell/nastaveni.h"

#include <QMouseEvent>
#include <QTest>
#include <QTextBrowser>

namespace {

TFinding Finding(const char* id, TVerdict verdict, const QString& seen, const QString& todo = {})
{
    return {id, verdict, {}, {}, seen, todo};
}

} // namespace

// The menu, the first start's panel, the not-connected state in the status bar and the settings
// dialog all open the check on the window's own link.
TEST(ConnectionCheck, EveryWayInChecksTheWindowsLink)
{
    TShellFixture fx;
    fx.WriteSetup("[SETUP]\r\nDEVICE=USB\r\n");
    TMainFormEnv env = fx.Env();
    QList<QList<TFinding>> shown;
    env.showCheck = [&](const QList<TFinding>& findings) { shown.append(findings); };
    TMainForm& f = fx.StartWith(env);
    ASSERT_FALSE(f.Uvod->isHidden());

    const struct {
        const char* way;
        std::function<void()> take;
    } ways[] = {
        {"menu", [&] { f.Kontrola->trigger(); }},
        {"first start", [&] { f.UvodKontrola->click(); }},
        {"status bar",
         [&] {
             QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2),
                                 Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
             QApplication::sendEvent(f.StatusPanel1, &release);
         }},
        {"settings dialog", [&] { f.Nastaveni()->Button4->click(); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.way);
        const qsizetype before = shown.size();
        way.take();
        ASSERT_EQ(shown.size(), before + 1);
        EXPECT_EQ(shown.last().first().id, "link");
        EXPECT_TRUE(std::any_of(shown.last().begin(), shown.last().end(),
                                [](const TFinding& x) { return x.id == "usb-adapter"; }));
    }
    EXPECT_EQ(f.StatusPanel1->property("hint").toString(), f.Messages().LookupMessage("Str525"));
}

TEST(ConnectionCheck, WindowListsProblemsFirstAndCopiesTheWholeReport)
{
    TShellFixture fx;
    TMainForm& f = fx.Start();
    QString copied;
    int checks = 0;
    const QList<TFinding> findings = {
        Finding("link", TVerdict::Fine, "link in setup.ini"),
        Finding("modemmanager", TVerdict::CannotTell, "ModemManager runs", "wait"),
        Finding("permission", TVerdict::Problem, "not in <dialout>", "usermod -aG dialout"),
    };
    TKontrola w({fx.dir.Path(), "CZ", &f.Messages(),
                 [&] {
                     ++checks;
                     return findings;
                 },
                 [&](const QString& text) { copied = text; }},
                &f);
    EXPECT_EQ(checks, 1) << "checked as it opens";
    const QString shown = w.Nalezy->toPlainText();
    EXPECT_LT(shown.indexOf("not in <dialout>"), shown.indexOf("ModemManager runs"));
    EXPECT_LT(shown.indexOf("ModemManager runs"), shown.indexOf("link in setup.ini"));
    EXPECT_TRUE(shown.contains("usermod -aG dialout"));
    EXPECT_EQ(w.LSouhrn->text(), f.Messages().LookupMessage("Str405").arg(1));

    w.Button2->click();
    EXPECT_EQ(copied, w.ReportText());
    EXPECT_TRUE(copied.startsWith("Korvalinex " KX_VERSION)) << copied.toStdString();
    for (const TFinding& x : findings)
        EXPECT_TRUE(copied.contains(x.seen)) << x.seen.toStdString();
    EXPECT_FALSE(w.LSchranka->isHidden());

    w.Button1->click();
    EXPECT_EQ(checks, 2);
    EXPECT_TRUE(w.LSchranka->isHidden());

    // Escape closes it, as any dialog; it fits a small screen.
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
    EXPECT_LE(w.width(), 1366);
    EXPECT_LE(w.height(), 768 - 100);
    EXPECT_FALSE(w.Nalezy->accessibleName().isEmpty());
}

// "Vyzkoušet bez regulátoru" starts the demo; when it cannot, the box says why.
TEST(FirstStart, TheDemoButtonStartsTheDemoOrSaysWhyNot)
{
    TShellFixture fx;
    TMainFormEnv env = fx.Env();
    QString refusal;
    int starts = 0;
    env.startDemo = [&](QString* reason) {
        ++starts;
        *reason = refusal;
        return refusal.isEmpty();
    };
    TMainForm& f = fx.StartWith(env);
    EXPECT_EQ(f.UvodDemo->text(), QString::fromUtf8("Vyzkoušet bez regulátoru"));
    f.UvodDemo->click();
    EXPECT_EQ(starts, 1);
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
    refusal = "no such file";
    f.UvodDemo->click();
    ASSERT_EQ(fx.boxes.boxes.size(), 1);
    EXPECT_EQ(fx.boxes.boxes[0].text, f.Messages().LookupMessage("Str520").arg("no such file"));
}
