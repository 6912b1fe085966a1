#pragma once
// What the main window's source files share and nobody else needs: the left column's measures and
// fonts, and the pause of the presence queries around modal work.

#include "common/clock.h"

#include <QFont>

class QLabel;

namespace MainFormParts {

constexpr int kLeftWidth = 317;
constexpr int kLabelFontPixels = 13;
constexpr int kValueColumn = 167;
// The keys that press a transfer button (a QKeySequence), for what a screen reader says of it.
inline constexpr char kKeysProperty[] = "kxKeys";

QFont PixelFont(int pixels, bool bold);
// The system sans runs wider than the narrow face the layout was drawn for: a label that would pass
// its right limit gets a smaller size instead of being cut.
void FitLabel(QLabel* l, int right, bool keepSize = false);
// A value label of the left column: 13 px bold unless its text needs less to fit the column.
void FitValue(QLabel* l);

// Presence queries wait while a modal dialog or the language switch runs, and resume after it, also
// when it ends by an error.
class TPresencePause {
public:
    explicit TPresencePause(ITimer& timer2) : timer_(timer2), running_(timer2.Enabled())
    {
        timer_.Stop();
    }
    ~TPresencePause()
    {
        if (running_)
            timer_.Start();
    }
    TPresencePause(const TPresencePause&) = delete;
    TPresencePause& operator=(const TPresencePause&) = delete;

private:
    ITimer& timer_;
    const bool running_;
};

} // namespace MainFormParts
