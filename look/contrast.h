#pragma once
// Colours the program chooses itself stay readable on whatever palette the desktop gives: the
// contrast ratio between two colours as the accessibility guidelines for the web (WCAG 2) define
// it, and the colour nearest to a wanted one that reaches a ratio on a background.

#include <QColor>

class QPalette;

// Text and the marks that carry meaning (a bar, a line) need these ratios to their background.
inline constexpr double kTextContrast = 4.5;
inline constexpr double kMarkContrast = 3.0;

// 0 for black to 1 for white, as the eye weighs the three primaries.
double RelativeLuminance(const QColor& c);
// From 1 (the same) to 21 (black on white); symmetric.
double ContrastRatio(const QColor& a, const QColor& b);
// The wanted colour when it reaches the ratio on the background; otherwise the same hue made
// lighter (on a dark background) or darker (on a light one), as little as it takes.
QColor Readable(const QColor& wanted, const QColor& background, double ratio = kTextContrast);
// A desktop whose text is lighter than its windows.
bool IsDarkPalette(const QPalette& palette);
