// The throttle limits, the arrows beside them and the motor fields of the left column.

#include "tests/support/shellfixture.h"

#include "shell/numedit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLocale>
#include <QTest>
#include <gtest/gtest.h>

namespace {

void Leave(QWidget* w)
{
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(w, &out);
}

void Type(QWidget* w, const QString& keys)
{
    for (QChar c : keys)
        QTest::keyClick(w, c.toLatin1());
}

struct Fields : ::testing::Test {
    TShellFixture fx;
    TMainForm* f = nullptr;
    void SetUp() override
    {
        f = &fx.Start();
        // No regulator here: keep the connection cycle from resetting the fields meanwhile.
        f->Cycle().WakeUpTimer().Stop();
        f->LKorekceA->setEnabled(true);
        f->LKorekceB->setEnabled(true);
    }
};

} // namespace

TEST_F(Fields, ArrowsStepAndClampAtBothEnds)
{
    enum Arrow { UpA, DowA, UpB, DowB };
    const struct {
        Arrow arrow;
        double start;
        const char* shown;
    } table[] = {
        {UpA, 1.40, "1.40"},  {DowA, 0.70, "0.70"}, {UpA, 1.39, "1.40"},
        {DowA, 0.71, "0.70"}, {UpA, 1.00, "1.01"},  {UpB, 2.30, "2.30"},
        {DowB, 1.70, "1.70"}, {UpB, 2.29, "2.30"},  {DowB, 2.00, "1.99"},
    };
    for (const auto& row : table) {
        const bool a = row.arrow == UpA || row.arrow == DowA;
        TNumEdit* edit = a ? f->LKorekceA : f->LKorekceB;
        auto click = [&] {
            switch (row.arrow) {
            case UpA:
                f->UpAClick();
                break;
            case DowA:
                f->DowAClick();
                break;
            case UpB:
                f->UpBClick();
                break;
            case DowB:
                f->DowBClick();
                break;
            }
        };
        edit->SetValue(row.start);
        click();
        EXPECT_EQ(edit->text(), row.shown) << row.start;
        click();
        EXPECT_GE(edit->Value(), a ? 0.70 - 1e-9 : 1.70 - 1e-9);
        EXPECT_LE(edit->Value(), a ? 1.40 + 1e-9 : 2.30 + 1e-9);
    }
}

TEST_F(Fields, ArrowOnDisabledFieldChangesNothing)
{
    f->LKorekceA->SetValue(1.0);
    f->LKorekceA->setEnabled(false);
    f->UpAClick();
    f->DowAClick();
    EXPECT_EQ(f->LKorekceA->text(), "1.00");
}

TEST_F(Fields, LeavingAThrottleFieldClampsItsValue)
{
    const struct {
        TNumEdit* edit;
        const char* typed;
        const char* shown;
    } table[] = {
        {f->LKorekceB, "2.5", "2.30"}, {f->LKorekceB, "1.2", "1.70"},
        {f->LKorekceB, "", "1.70"},    {f->LKorekceA, "", "0.70"},
        {f->LKorekceA, "9", "1.40"},   {f->LKorekceA, "1.05", "1.05"},
    };
    for (const auto& row : table) {
        // From a value inside the range, so that an empty text must really count as 0.
        row.edit->SetValue(row.edit == f->LKorekceA ? 1.0 : 2.0);
        row.edit->setText(row.typed);
        Leave(row.edit);
        EXPECT_EQ(row.edit->text(), row.shown) << row.typed;
    }
}

// The exit rule is for the user leaving the field; the program disabling it (a connection reset)
// or a message box or menu taking the focus leave the text alone.
TEST_F(Fields, OnlyTheUserLeavingAFieldClampsIt)
{
    const struct {
        const char* how;
        Qt::FocusReason reason;
        const char* shown;
    } table[] = {
        {"tab", Qt::TabFocusReason, "0.70"},
        {"mouse", Qt::MouseFocusReason, "0.70"},
        {"a message box", Qt::ActiveWindowFocusReason, "0.5"},
        {"a menu", Qt::PopupFocusReason, "0.5"},
    };
    for (const auto& row : table) {
        f->LKorekceA->setText("0.5");
        QFocusEvent out(QEvent::FocusOut, row.reason);
        QApplication::sendEvent(f->LKorekceA, &out);
        EXPECT_EQ(f->LKorekceA->text(), row.shown) << row.how;
    }

    // A reset while a throttle field has the focus: both show 0.00, neither is clamped as the
    // focus hops away from the disabled fields.
    f->show();
    QApplication::setActiveWindow(f);
    f->LKorekceA->setFocus();
    ASSERT_TRUE(f->LKorekceA->hasFocus());
    f->Cycle().OnTimeoutTick();
    EXPECT_EQ(f->LKorekceA->text(), "0.00");
    EXPECT_EQ(f->LKorekceB->text(), "0.00");
    EXPECT_FALSE(f->LKorekceA->isEnabled());
}

TEST_F(Fields, NumbersAreNeverGroupedNorCut)
{
    const struct {
        QLocale::Language language;
        QLocale::Territory territory;
        const char* typed;
        const char* shown;
    } table[] = {
        {QLocale::English, QLocale::UnitedStates, "1000", "1000.0"},
        {QLocale::English, QLocale::UnitedStates, "100", "100.0"},
        {QLocale::Czech, QLocale::CzechRepublic, "1000", "1000,0"},
        {QLocale::Czech, QLocale::CzechRepublic, "2,5", "2,5"},
    };
    for (const auto& row : table) {
        QLocale::setDefault(QLocale(row.language, row.territory));
        f->EPrevPom->clear();
        Type(f->EPrevPom, row.typed);
        Leave(f->EPrevPom);
        EXPECT_EQ(f->EPrevPom->text(), row.shown) << row.typed;
        EXPECT_EQ(f->Settings().ratio, row.shown) << row.typed;
    }
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());

    // Typing stops at the field's length; a longer text set by the program stays whole.
    f->EPocPolu->clear();
    Type(f->EPocPolu, "123");
    EXPECT_EQ(f->EPocPolu->text(), "12");
    f->EPocPolu->setText("1234");
    EXPECT_EQ(f->EPocPolu->text(), "1234");
}

TEST_F(Fields, HoldingAnArrowRepeatsEvery100msAndReleaseStepsOnceMore)
{
    f->LKorekceA->SetValue(1.00);
    QTest::mousePress(f->UpA, Qt::LeftButton);
    fx.clock.Advance(350);
    EXPECT_EQ(f->LKorekceA->text(), "1.03");
    QTest::mouseRelease(f->UpA, Qt::LeftButton);
    EXPECT_EQ(f->LKorekceA->text(), "1.04");
    fx.clock.Advance(1000);
    EXPECT_EQ(f->LKorekceA->text(), "1.04") << "the repeat stopped";

    // Held for long: never past the end of the range.
    QTest::mousePress(f->UpA, Qt::LeftButton);
    fx.clock.Advance(10000);
    QTest::mouseRelease(f->UpA, Qt::LeftButton);
    EXPECT_EQ(f->LKorekceA->text(), "1.40");
}

TEST_F(Fields, MovingOffTheArrowStopsWithoutAStep)
{
    f->LKorekceB->SetValue(2.00);
    QTest::mousePress(f->DowB, Qt::LeftButton);
    fx.clock.Advance(250);
    EXPECT_EQ(f->LKorekceB->text(), "1.98");
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(f->DowB, &leave);
    fx.clock.Advance(500);
    QTest::mouseRelease(f->DowB, Qt::LeftButton, {}, QPoint(-5, -5));
    EXPECT_EQ(f->LKorekceB->text(), "1.98");
}

TEST_F(Fields, MotorFieldsFallBackToDefaultsWhenLeftEmptyOrZero)
{
    const struct {
        TNumEdit* edit;
        const char* typed;
        const char* shown;
    } table[] = {
        {f->EPocPolu, "", "2"},    {f->EPocPolu, "0", "2"},  {f->EPocPolu, "14", "14"},
        {f->EPrevPom, "0", "1.0"}, {f->EPrevPom, "", "1.0"}, {f->EPrevPom, "3,5", "3.5"},
    };
    for (const auto& row : table) {
        row.edit->setText(row.typed);
        Leave(row.edit);
        EXPECT_EQ(row.edit->text(), row.shown) << row.typed;
    }
    EXPECT_EQ(f->Settings().poles, "14");
    EXPECT_EQ(f->Settings().ratio, "3.5");
}

TEST_F(Fields, KeyFiltersDropOtherCharacters)
{
    f->EPocPolu->clear();
    Type(f->EPocPolu, "1a.2");
    EXPECT_EQ(f->EPocPolu->text(), "12");

    f->EPrevPom->clear();
    Type(f->EPrevPom, "2x.5.");
    EXPECT_EQ(f->EPrevPom->text(), "2.5") << "one decimal separator, no letters";

    // With a comma as the system's separator, a "." is dropped in the gear ratio.
    QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
    f->EPrevPom->clear();
    Type(f->EPrevPom, "1.5");
    EXPECT_EQ(f->EPrevPom->text(), "15");
    f->EPrevPom->clear();
    Type(f->EPrevPom, "1,5");
    EXPECT_EQ(f->EPrevPom->text(), "1,5");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

TEST_F(Fields, TextThatDoesNotConvertBringsThePreviousTextBack)
{
    f->EPrevPom->setText("2.5");
    f->EPrevPom->setText("2.5.1");
    EXPECT_EQ(f->EPrevPom->text(), "2.5");
    EXPECT_EQ(f->Settings().ratio, "2.5");
    ASSERT_EQ(fx.boxes.boxes.size(), 1);
    EXPECT_EQ(fx.boxes.boxes[0].kind, TBoxKind::General);
}
