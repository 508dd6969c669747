#pragma once

#include <QString>

#include "imaging/Picture.h"

// The watermark font: the six font properties of a job's settings.
struct WatermarkFont {
  QString Name = QStringLiteral("Arial");  // family name
  int Size = 28;                           // points (pixels at a fixed 96 per inch)
  int Color = 16777215;                    // colour value: red + 256 x green + 65536 x blue
  int CharSet = 1;                         // the system's character-set number
  int Style = 1;                           // bit set: 1 bold, 2 italic, 4 underline, 8 strike-out
  int Pitch = 0;                           // 0 default, 1 variable, 2 fixed
};

// Stamps the image logo at imagePath on the picture. Returns whether a logo was stamped.
//
// The watermark is not built yet: the picture is left unchanged and the result is false, so a
// run goes on without this step.
bool AddImageWatermark(Picture& picture, const QString& imagePath);

// Stamps the text (with its macros expanded for sourcePath) on the picture with transparence
// (percent, 0-100), angle (degrees), position (0 random, 1-9 the nine places) and font.
// Returns whether the text was stamped.
//
// The watermark is not built yet: the picture is left unchanged and the result is false, so a
// run goes on without this step.
bool AddTextWatermark(Picture& picture, const QString& text, int transparence, int angle,
                      int position, const WatermarkFont& font, const QString& sourcePath);
