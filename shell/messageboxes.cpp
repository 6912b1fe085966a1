#include "shell/messageboxes.h"

#include "look/windowlook.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

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
