#pragma once

#include <QSize>

// The arithmetic behind the width and height fields of the Resize page: the coupling that keeps
// them at 4:3 and the size presets. The window calls these; they hold no state.

// The coupling ratio when the window's reference numbers are unset (0).
inline constexpr int kReferenceWidth = 640;
inline constexpr int kReferenceHeight = 480;

// Range of the width and height fields, pixels.
inline constexpr int kSizeFieldMin = 2;
inline constexpr int kSizeFieldMax = 9999;

// The height that goes with a width: round(width * referenceHeight / referenceWidth), ties to
// even (width 6 gives 4). A reference of 0 counts as 640 (width) or 480 (height). Not clamped
// to the field range (see ClampToSizeField).
int CoupledHeight(int width, int referenceWidth = kReferenceWidth,
                  int referenceHeight = kReferenceHeight);

// The width that goes with a height: round(height * referenceWidth / referenceHeight), ties to
// even (height 3 gives 4).
int CoupledWidth(int height, int referenceWidth = kReferenceWidth,
                 int referenceHeight = kReferenceHeight);

// The value the width or height field holds when asked for value (2..9999).
int ClampToSizeField(int value);

// The width x height of size preset 1..6 (Avatar 100x75 to 17" screen 1024x768); an invalid
// QSize for any other number.
QSize SizePreset(int number);
