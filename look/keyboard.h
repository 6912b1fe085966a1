#pragma once
// The keyboard's way to what the mouse reaches: letters to open the menus and choose their items,
// labels that act as buttons (a language flag) which the Tab key visits and Space or Enter press,
// and labels that show a value and are visited by Tab so that a screen reader reads them in turn.
// What assistive technology is told about them goes with them.

#include <QString>
#include <functional>

class QLabel;
class QMenuBar;
class QWidget;

// Gives every menu of the bar, and every item of each menu, an Alt letter ("&Soubor") unless its
// text has one: the first letter of its text not yet taken by a neighbour. Run again after every
// language application, which puts texts without letters back.
void AssignMnemonics(QMenuBar* bar);
// The same for a list of texts: each text without a letter gets the first one the others have
// not taken. A letter the text already has is kept.
QStringList WithMnemonics(const QStringList& texts);

// A label that acts as a button: Tab visits it, Space and Enter run press, and assistive
// technology sees a button (a radio button while checked is given, checked while it says so) that
// can be pressed. Its name is the label's accessible name.
void MakePressable(QLabel* label, std::function<void()> press,
                   std::function<bool()> checked = nullptr);
// A read-only text that Tab visits: a frame in its text's colour shows the focus.
void MakeFocusableText(QLabel* label);

// A caption as the name of what it labels: without the colon and blanks that end it
// ("Plyn min. [ms] : " names a field "Plyn min. [ms]").
QString NameOfCaption(const QString& caption);
// A value read out with its caption: "Napětí [V]: 11.8".
QString NameOfValue(const QString& caption, const QString& value);
