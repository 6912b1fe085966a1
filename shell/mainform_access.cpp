// The main window as a screen reader and the keyboard meet it: what each control is called and
// said to be, in the window's language, and the order in which Tab visits them.

#include "shell/mainform.h"
#include "shell/mainform_parts.h"

#include "i18n/langprops.h"
#include "look/keyboard.h"
#include "models/parampanel.h"
#include "shell/numedit.h"

#include <QAccessible>
#include <QKeySequence>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>

namespace {

// The two parts of a hint, "short | long", each trimmed; a hint without "|" is all short.
QString HintPart(const QWidget* w, bool longPart)
{
    const QString hint = w->property(kHintProperty).toString();
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return longPart ? QString() : hint.trimmed();
    return (longPart ? hint.mid(bar + 1) : hint.left(bar)).trimmed();
}

} // namespace

void TMainForm::NameControls()
{
    // Without a text of their own, the flags and arrows are named by their hint's short part and
    // described by its long one.
    for (QWidget* w :
         std::initializer_list<QWidget*>{Image2, Image3, Image4, Image5, UpA, DowA, UpB, DowB}) {
        w->setAccessibleName(HintPart(w, false));
        const QString more = HintPart(w, true);
        w->setAccessibleDescription(more == w->accessibleName() ? QString() : more);
    }
    // A transfer button says what it does and which key does it too.
    for (QPushButton* b : {Button1, Button2, Button3}) {
        const auto keys = b->property(MainFormParts::kKeysProperty).value<QKeySequence>();
        b->setAccessibleDescription(QStringLiteral("%1 (%2)").arg(
            HintPart(b, true), keys.toString(QKeySequence::NativeText)));
    }
    const QString notWritten = smlMsgLangRes1_.Msg(kNotWrittenKey);
    const struct {
        TNumEdit* field;
        QLabel* caption;
        QLabel* range;
        QFrame* mark;
    } fields[] = {{LKorekceA, Lkorekcemin, Label1, LKorekceAMark},
                  {LKorekceB, Lkorekcemax, Label2, LKorekceBMark},
                  {EPocPolu, LPocPolu, nullptr, nullptr},
                  {EPrevPom, LPrevPom, nullptr, nullptr}};
    for (const auto& f : fields) {
        f.field->setAccessibleName(NameOfCaption(f.caption->text()));
        QStringList about;
        if (f.range)
            about << f.range->text().trimmed();
        if (f.mark) {
            f.mark->setAccessibleName(notWritten);
            if (f.mark->isVisibleTo(Panel1))
                about << notWritten;
        }
        f.field->setAccessibleDescription(about.join(QStringLiteral(", ")));
    }
    // A value is read with its caption.
    const struct {
        QLabel* caption;
        QLabel* value;
    } values[] = {{Ln, LnH}, {Lv, LvH}, {La, LaH}, {Lm, LmH}};
    for (const auto& v : values)
        v.value->setAccessibleName(NameOfValue(v.caption->text(), v.value->text()));
    PB1->setAccessibleName(smlMsgLangRes1_.Msg("Str362"));
    PB2->setAccessibleName(smlMsgLangRes1_.Msg("Str363"));
    Panel->setAccessibleName(smlMsgLangRes1_.Msg("Str364"));
}

void TMainForm::SetReadingOrder()
{
    QList<QWidget*> order = {Image2, Image3, Image4,    Image5,    Button1,  Button2,  LnH,
                             LvH,    LaH,    LKorekceA, LKorekceB, EPocPolu, EPrevPom, LmH};
    for (int k = 0; QLabel* value = panel_->ValueLabel(k); ++k)
        order.append(value);
    order.append(Button3);
    // Each group's items in order; Tab stops at the chosen one (the panel sees to that).
    for (int g = 0; g < panel_->GroupCount(); ++g)
        for (int i = 0; QRadioButton* item = panel_->ItemButton(g, i); ++i)
            order.append(item);
    order.append(UsbNotice);
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}
