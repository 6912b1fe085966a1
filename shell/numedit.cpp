#include "shell/numedit.h"

#include "common/clock.h"
#include "common/errors.h"
#include "common/numbers.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>

TNumEdit::TNumEdit(int decimals, int maxLength, QWidget* parent)
    : QLineEdit(parent), decimals_(decimals), maxLength_(maxLength)
{
    // The limit holds for typing only (keyPressEvent): QLineEdit's own limit would also cut texts
    // the program sets, such as a stored setting or a formatted ratio of 100 and more.
    connect(this, &QLineEdit::textChanged, this, &TNumEdit::TextEdited);
}

QString TNumEdit::Format(double v) const
{
    // Never grouped: "1,000.0" would not convert back in every locale.
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(v, 'f', decimals_);
}

void TNumEdit::SetValue(double v)
{
    value_ = v;
    setText(Format(v));
}

void TNumEdit::TextEdited(const QString& text)
{
    if (restoring_)
        return;
    if (!text.isEmpty() && text != QLatin1String("-")) {
        try {
            value_ = TextToFloat(text);
        } catch (const EConvertError& e) {
            restoring_ = true;
            setText(lastGoodText_);
            restoring_ = false;
            if (OnConvertError)
                OnConvertError(e.Text());
            return;
        }
    }
    lastGoodText_ = text;
    if (OnChange)
        OnChange(text);
}

void TNumEdit::keyPressEvent(QKeyEvent* e)
{
    if (OnStep && (e->key() == Qt::Key_Up || e->key() == Qt::Key_Down)) {
        OnStep(e->key() == Qt::Key_Up ? 1 : -1);
        e->accept();
        return;
    }
    const QString t = e->text();
    // Keys without a character (arrows, Home, Delete, Tab) move and edit as usual.
    if (t.size() != 1 || !t[0].isPrint()) {
        QLineEdit::keyPressEvent(e);
        return;
    }
    const QChar c = t[0];
    const QString sep = QLocale().decimalPoint();
    bool accepted = !OnKeyPress || OnKeyPress(c);
    if (accepted) {
        const bool isSeparator = decimals_ > 0 && QString(c) == sep && !text().contains(sep);
        accepted = c.isDigit() || isSeparator;
    }
    if (accepted && maxLength_ > 0)
        accepted = text().size() - selectedText().size() < maxLength_;
    if (!accepted) {
        QApplication::beep();
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

void TNumEdit::focusOutEvent(QFocusEvent* e)
{
    // The exit rule is for the user leaving the field. A field being disabled (a connection reset)
    // loses the focus too, and so does one whose window gives way to a message box or a menu; a
    // half-typed value must survive those.
    const bool windowOrPopup =
        e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason;
    if (isEnabled() && !windowOrPopup)
        DoExit();
    QLineEdit::focusOutEvent(e);
}

void TNumEdit::DoExit()
{
    if (OnExit)
        OnExit();
    if (text().isEmpty() || text() == QLatin1String("-"))
        setText(QStringLiteral("0"));
    try {
        SetValue(TextToFloat(text()));
    } catch (const EConvertError& e) {
        SetValue(value_);
        if (OnConvertError)
            OnConvertError(e.Text());
    }
}

// ---- arrows -------------------------------------------------------------------------------------

TArrowButton::TArrowButton(Qt::ArrowType arrow, IClock& clock, QWidget* parent)
    : QToolButton(parent), repeat_(clock.CreateTimer())
{
    setArrowType(arrow);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    repeat_->SetInterval(kRepeatInterval);
    repeat_->SetOnTimer([this] {
        if (OnContinuouslyDown)
            OnContinuouslyDown();
    });
}

TArrowButton::~TArrowButton() = default;

void TArrowButton::mousePressEvent(QMouseEvent* e)
{
    QToolButton::mousePressEvent(e);
    if (e->button() == Qt::LeftButton)
        repeat_->Start();
}

void TArrowButton::mouseReleaseEvent(QMouseEvent* e)
{
    const bool wasDown = isDown();
    const bool over = rect().contains(e->position().toPoint());
    repeat_->Stop();
    QToolButton::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && wasDown && over && OnClick)
        OnClick();
}

void TArrowButton::mouseMoveEvent(QMouseEvent* e)
{
    if (!rect().contains(e->position().toPoint()))
        repeat_->Stop();
    QToolButton::mouseMoveEvent(e);
}

void TArrowButton::leaveEvent(QEvent* e)
{
    repeat_->Stop();
    QToolButton::leaveEvent(e);
}
