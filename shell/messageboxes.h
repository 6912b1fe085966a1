#pragma once
// Every message box of the program goes through here, so that tests can record them instead of
// blocking in a modal loop.

#include "common/clock.h"

#include <QString>
#include <QStringList>
#include <QWidget>
#include <deque>
#include <functional>
#include <optional>

enum class TBoxKind {
    Error,   // caption given, error icon, OK
    Plain,   // text and OK, no icon
    General, // the general error report: an error's text
};

// The caption of the general error report.
inline const QString kGeneralErrorCaption = QStringLiteral("KORVALINEX");

// Which answer Enter gives before the user picks one.
enum class TDefaultAnswer { Yes, No };

class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    virtual void Show(TBoxKind kind, const QString& caption, const QString& text) = 0;
    // A question with an information icon: true for the first button ("Ano").
    virtual bool Ask(const QString& caption, const QString& text, const QString& yes,
                     const QString& no, TDefaultAnswer preset) = 0;
    // A question with a warning icon and two or three answers: the number of the button chosen.
    // Enter gives preset; Escape and closing the box give the last button.
    virtual int Choose(const QString& caption, const QString& text, const QStringList& buttons,
                       int preset) = 0;
};

class TQtMessageBoxes final : public IMessageBoxes {
public:
    explicit TQtMessageBoxes(QWidget* parent) : parent_(parent) {}
    void Show(TBoxKind kind, const QString& caption, const QString& text) override;
    bool Ask(const QString& caption, const QString& text, const QString& yes, const QString& no,
             TDefaultAnswer preset) override;
    int Choose(const QString& caption, const QString& text, const QStringList& buttons,
               int preset) override;

private:
    QWidget* parent_;
};

// One box at a time, and no box in the middle of the connection cycle's handling. A box asked for
// while another box or a question is open waits until that one is closed and the handling that
// opened it has returned; a box the cycle posts waits until the cycle's handling has returned, so
// that the window behind it shows what is true by then. A box that is open or waiting already is
// not shown again: one event, one box.
class TBoxGate final : public IMessageBoxes {
public:
    TBoxGate(IMessageBoxes& boxes, IClock& clock) : boxes_(boxes), clock_(clock) {}
    void Show(TBoxKind kind, const QString& caption, const QString& text) override;
    bool Ask(const QString& caption, const QString& text, const QString& yes, const QString& no,
             TDefaultAnswer preset) override;
    int Choose(const QString& caption, const QString& text, const QStringList& buttons,
               int preset) override;
    void Post(TBoxKind kind, const QString& caption, const QString& text);
    // A question the cycle's news asks: shown as a posted box is, its answer handed to answered.
    void PostQuestion(const QString& caption, const QString& text, const QStringList& buttons,
                      int preset, std::function<void(int)> answered);

private:
    struct TBox {
        TBoxKind kind;
        QString caption, text;
        QStringList buttons; // a question's
        int preset = 0;
        std::function<void(int)> answered;
        bool operator==(const TBox& o) const
        {
            return kind == o.kind && caption == o.caption && text == o.text && buttons == o.buttons;
        }
    };
    // False when the box is open or waiting already.
    bool Wait(const TBox& box);
    void Open(const TBox& box);
    void ShowNextLater();
    // Runs the question, the boxes asked for meanwhile waiting for its answer.
    template <typename Fn> auto Asking(Fn ask);

    IMessageBoxes& boxes_;
    IClock& clock_;
    std::optional<TBox> open_;
    bool asking_ = false;
    std::deque<TBox> waiting_;
    IClock::Token next_;
};
