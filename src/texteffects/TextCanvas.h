#pragma once

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRgb>
#include <QSize>
#include <QString>
#include <cstdint>

// The drawing surface of the text-effects engine: a 24-bit picture (QImage::Format_BGR888, the
// working picture's form) seen with a current font and a current brush, plus the two text
// primitives the engine needs: measuring a line of text and drawing it unsmoothed onto an 8-bit
// raster.
//
// Fonts are looked up through Qt's font database (fontconfig on Linux), so "Arial" resolves to a
// metric-compatible face such as Liberation Sans. Sizes are in pixels; a size in points becomes
// pixels at a fixed 96 pixels per inch, so that output does not depend on the screen.
//
// Text is drawn with QFont::NoAntialias (two levels), without kerning, and with full hinting:
// whole-pixel advances and hinted outlines, the way a classic window-system text call draws.
// The engine smooths the result itself by supersampling.
//
// Every font operation needs a QGuiApplication (QFont cannot work without one); the functions
// below throw QuillomarError when there is none.

// A window-system colour value: red in the lowest byte, then green, then blue
// (red + 256 * green + 65536 * blue). A negative value names a system colour
// (0x80000000 | index, e.g. 0x80000008 the window-text colour; 0xFF000000 | index likewise).
using TColor = std::int32_t;

inline constexpr TColor kSystemColorWindowText = static_cast<TColor>(0x80000008u);

// Resolves a colour value to red, green and blue (alpha 255). System colours are resolved
// through the application's palette (fixed classic defaults when there is no application).
QRgb ColorToRgb(TColor color);

// Builds a colour value from red, green and blue (0..255 each).
constexpr TColor RgbToColor(int red, int green, int blue) {
  return static_cast<TColor>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}

// Largest character height, in pixels, that fonts are made in (the rasteriser's metrics stop
// being exact beyond it). Measuring or drawing a larger font throws QuillomarError.
inline constexpr int kMaxFontPixels = 16384;

// Pixels per inch used to turn a font size in points into pixels.
inline constexpr int kTextPixelsPerInch = 96;

// Character sets and pitches of a font description (values of the window system's font
// structure). The character set only records the caller's choice: the font database picks
// glyphs for every script by itself. Pitch kFixedPitch asks for a fixed-pitch face.
inline constexpr int kDefaultCharSet = 1;
inline constexpr int kDefaultPitch = 0;
inline constexpr int kFixedPitch = 1;
inline constexpr int kVariablePitch = 2;

// Font weights (100..900, 400 normal, 700 bold).
inline constexpr int kWeightNormal = 400;
inline constexpr int kWeightBold = 700;

// The full description of a font as the drawing surface keeps it.
struct CanvasFont {
  QString Name = QStringLiteral("Arial");  // face name
  int Height = 11;     // character (em) height in pixels; a negative value counts as its magnitude
  int Width = 0;       // average character width in pixels; 0 keeps the face's own proportions
  int Escapement = 0;  // angle of the text, tenths of a degree counter-clockwise
  int Weight = kWeightNormal;  // 100..900
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  int CharSet = kDefaultCharSet;
  int Pitch = kDefaultPitch;
  TColor Color = 0;  // text colour (colour value, may name a system colour)

  // Sets Height from a size in points at kTextPixelsPerInch (rounded: 28 pt give 37 px).
  void SetSize(int points);
  // The size in points that Height corresponds to (rounded).
  int Size() const;

  bool Bold() const { return Weight >= kWeightBold; }

  bool operator==(const CanvasFont&) const = default;
};

// Style of the surface's brush: Solid fills, Clear leaves the background alone.
enum class BrushStyle { Solid, Clear };

struct CanvasBrush {
  BrushStyle Style = BrushStyle::Solid;
  TColor Color = 0xFFFFFF;  // white
  bool operator==(const CanvasBrush&) const = default;
};

// Measurement of one line of text in a font: the advance width of the whole string and the
// height of the character cell (ascent + descent), both in pixels. Rotation plays no part.
struct TextCellSize {
  int Advance = 0;
  int CellHeight = 0;
};

// The drawing surface. It does not own the picture; the picture must outlive the surface and is
// expected in QImage::Format_BGR888 (any other form counts as no picture for drawing).
class TextCanvas {
 public:
  explicit TextCanvas(QImage* image = nullptr) : Target(image) {}

  // The target picture, or null.
  QImage* Image() const { return Target; }
  void SetImage(QImage* image) { Target = image; }

  // True when there is a 24-bit picture to draw on.
  bool CanDraw() const {
    return Target != nullptr && !Target->isNull() && Target->format() == QImage::Format_BGR888;
  }

  CanvasFont Font;
  CanvasBrush Brush;

 private:
  QImage* Target = nullptr;
};

// The QFont that draws a font description (pixel size, weight, style; no kerning, full hinting,
// no antialiasing). The escapement and the colour are not part of it.
// Throws QuillomarError when there is no QGuiApplication or the height passes kMaxFontPixels.
QFont MakeQFont(const CanvasFont& font);

// Measures one line of text in the given font (the escapement is ignored).
// Throws QuillomarError when there is no QGuiApplication or the font is too large.
TextCellSize MeasureTextCell(const CanvasFont& font, const QString& text);

// Draws one line of text without smoothing onto an 8-bit raster (QImage::Format_Grayscale8),
// in the given grey level, with the top-left corner of the text's character cell at start
// (pixels). A font with an escapement turns the text about that corner, counter-clockwise for a
// positive angle. Pixels outside the raster are dropped.
// Throws QuillomarError when there is no QGuiApplication.
void DrawTextCell(QImage& raster, const CanvasFont& font, QPoint start, const QString& text,
                  int grey = 255);
