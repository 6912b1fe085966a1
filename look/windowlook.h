#pragma once
// What every window of the program shares, given to it once when it is built:
//
// - its own background (the light grey of the program's look) while the desktop's text reads on
//   it, and the desktop's background instead on a dark desktop;
// - the colours it sets itself (SetTextColour, SetFillColour), kept readable on the background
//   they sit on, and chosen again whenever the desktop's palette changes;
// - Enter presses the focused button (a dialog closes with Escape by itself);
// - a size and place inside the available geometry of its screen, its frame included: a window
//   larger than that room shrinks to it (its content scrolls or its lists get shorter) and is
//   moved so that its title bar stays on the screen.
//
// A window adopts it with one call when it is built, DressWindow(this, {kBackground}), and sets
// every colour of its own through SetTextColour and SetFillColour.

#include <QColor>
#include <QRect>
#include <QSize>

class QLabel;
class QString;
class QWidget;

struct TWindowLook {
    QColor background; // the program's own; invalid: always the desktop's
    // A window of fixed size: that size while the screen has room for it; resizable up to it
    // when not. Empty: the window's own size, kept below the room.
    QSize natural;
    enum class Place {
        AsQtPlaces,     // where Qt and the desktop put it
        CentreOnScreen, // when first shown
        CentreOnParent, // at every showing, on the window it belongs to
    } place = Place::AsQtPlaces;
};

void DressWindow(QWidget* window, const TWindowLook& look);

// The colour a text is meant to have; it gets the nearest one that reads on its background.
void SetTextColour(QWidget* w, const QColor& wanted);
// The desktop's own text colour again, in place of one set with SetTextColour.
void ClearTextColour(QWidget* w);
// The same for a widget filled with a colour (a bar that marks something): against the
// background of its parent, at the contrast that marks need.
void SetFillColour(QWidget* w, const QColor& wanted);

// A text in a label that may be too narrow for it (a path in the status bar): what does not fit
// is left out in the middle, "…" in its place, as often as the label's width changes; the whole
// text is the label's tooltip and what a screen reader reads.
void SetElidedText(QLabel* label, const QString& text);

// The room a window has: its screen's available geometry less the window's frame (as the desktop
// draws it, or as large as title bars usually are until the desktop has framed it).
QRect RoomFor(const QWidget* window);
