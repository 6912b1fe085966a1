#pragma once
// The program's own pictures: language flags, logos, button and menu icons, drawn at start-up so
// that the executable needs no files beside it.

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace Pictures {
QPixmap CzechFlag();     // 19 x 13
QPixmap EnglishFlag();   // 19 x 13
QPixmap GermanFlag();    // 19 x 13
QPixmap OtherLanguage(); // 23 x 17
QPixmap Logo();          // 92 x 46, left column
QPixmap AboutLogo();     // 229 x 97
QPixmap ReadIcon();      // 16 x 16: data from the regulator
QPixmap WriteIcon();     // 16 x 16: data to the regulator
enum class MenuIcon {
    Open,
    Save,
    Compare,
    Backups,
    Print,
    Pdf,
    Eeprom,
    Setup,
    Check,
    Exit,
    Help,
    About
};
QPixmap Menu(MenuIcon which); // 16 x 16
// The same picture as an icon that is drawn the first time a menu shows it: a menu nobody opened
// costs the start-up nothing (two of them draw text in a bold face of their own).
QIcon MenuIconLazy(MenuIcon which);
// The program's icon for the desktop, size x size. A QImage, so that it can be drawn without a
// running application (the build renders it to PNG files).
QImage AppIcon(int size);
} // namespace Pictures
