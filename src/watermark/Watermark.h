#pragma once

#include <QString>

#include "imaging/Picture.h"
#include "watermark/ImageWatermark.h"

// The two watermarks a run (and the destination preview) stamps on the working picture after
// resizing. The parts live in WatermarkPlacement.h (where a watermark lands), ImageWatermark.h
// (the image logo), TextWatermark.h (the text and its macros) and ExifValues.h.

// The watermark font: the six font properties of a job's settings.
struct WatermarkFont {
  QString Name = QStringLiteral("Arial");  // family name
  int Size = 28;                           // points (pixels at a fixed 96 per inch)
  int Color = 16777215;                    // colour value: red + 256 x green + 65536 x blue
  int CharSet = 1;                         // the system's character-set number
  int Style = 1;                           // bit set: 1 bold, 2 italic, 4 underline, 8 strike-out
  int Pitch = 0;                           // 0 default, 1 variable, 2 fixed
};

// Stamps the image logo at imagePath on the picture with the default logo options (opacity 60,
// bottom right, no background removal). Returns whether a logo was stamped; false (picture
// unchanged) for a missing or unreadable file. A job's own position, opacity and background
// colour go through the overload AddImageWatermark(picture, imagePath, ImageLogoOptions) in
// ImageWatermark.h.
bool AddImageWatermark(Picture& picture, const QString& imagePath);

// Stamps the text on the picture: expands its macros ("{$DN}" date, "{$TN}" time, "{$FU}" and
// "{$FL}" sourcePath in upper and lower case, "{$ED}", "{$EC}", "{$EX}", "{$ES}" the EXIF
// date-time, copyright, aperture and shutter speed of picture.Params.Exif), then draws it with
// the font, a black shadow at (2, 2), opacity transparence (percent, 0-100), angle (degrees,
// counter-clockwise) at position (0 random, 1-9 the nine places). Returns true, also when the
// expanded text is empty and nothing is drawn. Failures of the text engine (EInvalidLine,
// EInvalidForeBmp, QuillomarError, e.g. without a QGuiApplication) reach the caller.
bool AddTextWatermark(Picture& picture, const QString& text, int transparence, int angle,
                      int position, const WatermarkFont& font, const QString& sourcePath);
