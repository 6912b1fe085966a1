#pragma once
// Every message box of the program goes through here, so that tests can record them instead of
// blocking in a modal loop.

#include <QString>
#include <QWidget>

enum class TBoxKind {
    Error,   // caption given, error icon, OK
    Plain,   // text and OK, no icon
    General, // the general error report: an error's text
};

// Which answer Enter gives before the user picks one.
enum class TDefaultAnswer { Yes, No };

class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    virtual void Show(TBoxKind kind, const QString& caption, const QString& text) = 0;
    // A question with an information icon: true for the first button ("Ano").
    virtual bool Ask(const QString& caption, const QString& text, const QString& yes,
                     const QString& no, TDefaultAnswer preset) = 0;
};

class TQtMessageBoxes final : public IMessageBoxes {
public:
    explicit TQtMessageBoxes(QWidget* parent) : parent_(parent) {}
    void Show(TBoxKind kind, const QString& caption, const QString& text) override;
    bool Ask(const QString& caption, const QString& text, const QString& yes, const QString& no,
             TDefaultAnswer preset) override;

private:
    QWidget* parent_;
};
