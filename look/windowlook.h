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

class QWidget;

struct TWindowLook {
    QColor background; // the program's own; invalid: always the desktop's
    // A window of fixed size: that size while the screen has room for it; resizable up to it
    // when not. Empty: the window's own size, kept below the room.
    QSize natural;
    bool centre = false; // centred on its screen when first shown
};

void DressWindow(QWidget* window, const TWindowLook& look);

// The colour a text is meant to have; it gets the nearest one that reads on its background.
void SetTextColour(QWidget* w, const QColor& wanted);
// The same for a widget filled with a colour (a bar that marks something): against the
// background of its parent, at the contrast that marks need.
void SetFillColour(QWidget* w, const QColor& wanted);

// The room a window has: its screen's available geometry less the window's frame (as the desktop
// draws it, or as large as title bars usually are until the desktop has framed it).
QRect RoomFor(const QWidget* window);
