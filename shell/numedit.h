#pragma once
// The number field of the left column and its arrow buttons.
//
// A number field holds a floating-point value shown in a fixed format ("0.00", "0.0", "0"). Every
// change of its text converts the text into the value; a text that does not convert brings the
// previous value's text back. Keys: digits and backspace, and the decimal separator once when the
// format has decimals, up to the field's maximum length; the field's own key filter runs first.
// Leaving the field runs its own exit rule, then turns an empty text or "-" into "0" and
// reformats. The maximum length limits typing only: a text the program sets is never cut.

#include <QLineEdit>
#include <QToolButton>
#include <functional>
#include <memory>

class IClock;
class ITimer;

class TNumEdit : public QLineEdit {
    Q_OBJECT
public:
    TNumEdit(int decimals, int maxLength, QWidget* parent);

    double Value() const { return value_; }
    // Shows the value in the field's format.
    void SetValue(double v);

    // The field's own key filter: false refuses the character.
    std::function<bool(QChar)> OnKeyPress;
    // The field's own exit rule, before the common one.
    std::function<void()> OnExit;
    // Every change of the text, typed or set.
    std::function<void(const QString&)> OnChange;
    // A text that does not convert: the conversion error's text.
    std::function<void(const QString&)> OnConvertError;
    // The Up and Down keys (+1, -1): what the field's arrow buttons do, for the keyboard. Unset,
    // the keys move the cursor as in any field.
    std::function<void(int)> OnStep;

    // The common exit handling, also what leaving the field by focus does.
    void DoExit();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void TextEdited(const QString& text);
    QString Format(double v) const;

    int decimals_;
    int maxLength_; // characters the user may type; texts the program sets are never cut
    double value_ = 0;
    QString lastGoodText_;
    bool restoring_ = false;
};

// An arrow beside a number field. A click steps once. Holding the left button steps every 100 ms;
// releasing over the arrow steps once more and stops; moving off the arrow stops without a step.
class TArrowButton : public QToolButton {
    Q_OBJECT
public:
    TArrowButton(Qt::ArrowType arrow, IClock& clock, QWidget* parent);
    ~TArrowButton() override;

    std::function<void()> OnClick;            // the click handler (UpAClick, …)
    std::function<void()> OnContinuouslyDown; // each repeat tick (UpAMouseContinuouslyDown, …)

    ITimer& RepeatTimer() { return *repeat_; }
    static constexpr int kRepeatInterval = 100;

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    std::unique_ptr<ITimer> repeat_;
};
