#pragma once

#include <QDateTime>
#include <QLocale>
#include <QSize>
#include <QString>

#include "imaging/Picture.h"
#include "watermark/ExifValues.h"
#include "watermark/Watermark.h"

// The text watermark: a line of text with date, time, file-name and EXIF macros, drawn by the
// text-effects engine with a black drop shadow, an opacity and an angle.

// What each macro becomes, as texts.
struct WatermarkMacroValues {
  QString DateNow;           // "{$DN}": the date in the locale's short date format
  QString TimeNow;           // "{$TN}": the time in the locale's long time format
  QString PathUpper;         // "{$FU}": the picture's path with a-z in upper case
  QString PathLower;         // "{$FL}": the same path with A-Z in lower case
  QString ExifDateTime;      // "{$ED}"
  QString ExifCopyright;     // "{$EC}"
  QString ExifAperture;      // "{$EX}": APEX value in the general number format
  QString ExifShutterSpeed;  // "{$ES}": APEX value in the general number format
};

// The macro values for the picture at sourcePath with the EXIF block exif (PictureParams::Exif;
// may be empty), stamped at the moment now, with the locale's date, time and number formats.
// The long time format is used without its time-zone name. Never throws.
WatermarkMacroValues WatermarkMacroValuesFor(const QString& sourcePath, const QByteArray& exif,
                                             const QDateTime& now = QDateTime::currentDateTime(),
                                             const QLocale& locale = QLocale::system());

// The text with its macros replaced, in the order "{$DN}", "{$TN}", "{$FU}", "{$FL}", "{$ED}",
// "{$EC}", "{$EX}", "{$ES}". Each step replaces every exact, case-sensitive occurrence from left
// to right without searching its own inserted values again; later steps do search the values
// inserted by earlier ones (a copyright holding "{$EX}" gets the aperture).
QString ExpandWatermarkMacros(const QString& text, const WatermarkMacroValues& values);

// Size in pixels of the box the expanded text takes when drawn as a watermark with the given
// angle (degrees) and font: the turned text box plus 2 pixels each way for the shadow. 0 x 0 for
// an empty text. Needs a QGuiApplication; throws QuillomarError without one or for a font too
// large to draw.
QSize TextWatermarkSize(const QString& expandedText, int angle, const WatermarkFont& font);

// Draws an already expanded text as the watermark on picture (converted to 24-bit first when it
// is not), at the position index with opacity transparence (percent, clamped to 0..100) and angle
// (degrees counter-clockwise, clamped to -360..360); the shadow is black at (2, 2) with half the
// opacity. An empty text draws nothing. Failures of the engine (EInvalidLine, EInvalidForeBmp,
// QuillomarError) reach the caller; the picture may then be partly drawn.
void DrawTextWatermark(Picture& picture, const QString& expandedText, int transparence, int angle,
                       int position, const WatermarkFont& font);
