#include "shell/messageboxes.h"

#include "look/windowlook.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

namespace {

// Texts composed for the regulator's old platform separate lines with a bare carriage return.
QString ShownText(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

} // namespace

void TQtMessageBoxes::Show(TBoxKind kind, const QString& caption, const QString& text)
{
    QMessageBox box(parent_);
    DressWindow(&box, {});
    // A box without a caption of its own bears the title of the window it belongs to.
    const QString title = kind != TBoxKind::Plain ? caption
                          : parent_               ? parent_->window()->windowTitle()
                                                  : QApplication::applicationName();
    box.setWindowTitle(title);
    box.setText(ShownText(text));
    box.setIcon(kind == TBoxKind::Plain ? QMessageBox::NoIcon : QMessageBox::Critical);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

bool TQtMessageBoxes::Ask(const QString& caption, const QString& text, const QString& yes,
                          const QString& no, TDefaultAnswer preset)
{
    QMessageBox box(parent_);
    DressWindow(&box, {});
    box.setWindowTitle(caption);
    box.setText(ShownText(text));
    box.setIcon(QMessageBox::Information);
    QPushButton* yesButton = box.addButton(yes, QMessageBox::YesRole);
    QPushButton* noButton = box.addButton(no, QMessageBox::NoRole);
    box.setDefaultButton(preset == TDefaultAnswer::No ? noButton : yesButton);
    // Escape or closing the box is "Ne".
    box.setEscapeButton(noButton);
    box.exec();
    return box.clickedButton() == yesButton;
}

int TQtMessageBoxes::Choose(const QString& caption, const QString& text, const QStringList& buttons,
                            int preset)
{
    QMessageBox box(parent_);
    DressWindow(&box, {});
    box.setWindowTitle(caption);
    box.setText(ShownText(text));
    box.setIcon(QMessageBox::Warning);
    QList<QPushButton*> added;
    for (int i = 0; i < buttons.size(); ++i) {
        const QMessageBox::ButtonRole role = i == 0                   ? QMessageBox::AcceptRole
                                             : i + 1 < buttons.size() ? QMessageBox::DestructiveRole
                                                                      : QMessageBox::RejectRole;
        added.append(box.addButton(buttons[i], role));
    }
    if (added.isEmpty())
        return -1;
    box.setDefaultButton(added.value(preset, added.back()));
    box.setEscapeButton(added.back());
    box.exec();
    const qsizetype chosen = added.indexOf(static_cast<QPushButton*>(box.clickedButton()));
    return chosen < 0 ? int(added.size()) - 1 : int(chosen);
}

// A question is the user's own doing and wants its answer now; boxes asked for meanwhile wait.
template <typename Fn> auto TBoxGate::Asking(Fn ask)
{
    const bool before = asking_;
    asking_ = true;
    const auto answer = ask();
    asking_ = before;
    ShowNextLater();
    return answer;
}

bool TBoxGate::Wait(const TBox& box)
{
    if (open_ == box || std::find(waiting_.begin(), waiting_.end(), box) != waiting_.end())
        return false;
    waiting_.push_back(box);
    ShowNextLater();
    return true;
}

// The next box comes once the handling under way has returned.
void TBoxGate::ShowNextLater()
{
    if (next_ || waiting_.empty())
        return;
    next_ = clock_.After(0, [this] {
        next_.reset();
        if (open_ || asking_ || waiting_.empty())
            return; // the box or question open now calls again when it closes
        const TBox box = waiting_.front();
        waiting_.pop_front();
        Open(box);
    });
}

void TBoxGate::Open(const TBox& box)
{
    open_ = box;
    if (box.buttons.isEmpty()) {
        boxes_.Show(box.kind, box.caption, box.text);
    } else {
        const int answer = boxes_.Choose(box.caption, box.text, box.buttons, box.preset);
        if (box.answered)
            box.answered(answer);
    }
    open_.reset();
    ShowNextLater();
}

void TBoxGate::Show(TBoxKind kind, const QString& caption, const QString& text)
{
    const TBox box{kind, caption, text, {}, 0, {}};
    if (open_ || asking_)
        Wait(box);
    else
        Open(box);
}

bool TBoxGate::Ask(const QString& caption, const QString& text, const QString& yes,
                   const QString& no, TDefaultAnswer preset)
{
    return Asking([&] { return boxes_.Ask(caption, text, yes, no, preset); });
}

int TBoxGate::Choose(const QString& caption, const QString& text, const QStringList& buttons,
                     int preset)
{
    return Asking([&] { return boxes_.Choose(caption, text, buttons, preset); });
}

void TBoxGate::PostQuestion(const QString& caption, const QString& text, const QStringList& buttons,
                            int preset, std::function<void(int)> answered)
{
    Wait(TBox{TBoxKind::Plain, caption, text, buttons, preset, std::move(answered)});
}

void TBoxGate::Post(TBoxKind kind, const QString& caption, const QString& text)
{
    Wait(TBox{kind, caption, text, {}, 0, {}});
}
