#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <cstdint>
#include <vector>

#include "texteffects/EffectSettings.h"
#include "util/Errors.h"

class TIAFont;
class TextCanvas;

// Raised by TIAMask::Lines for a row outside the mask. Message "Invalid line!".
class EInvalidLine : public QuillomarError {
 public:
  EInvalidLine() : QuillomarError(QStringLiteral("Invalid line!")) {}
};

// Raised by TIABlend::BlendBitmap when Fore does not match the mask. Message
// "Invalid foreground bitmap!".
class EInvalidForeBmp : public QuillomarError {
 public:
  EInvalidForeBmp() : QuillomarError(QStringLiteral("Invalid foreground bitmap!")) {}
};

// Rounds to the nearest integer, a half going to the even neighbour.
int RoundHalfEven(double value);

// Size of a line of text as a mask, and where the start corner of its character cell lies
// inside that size (non-zero only for turned text).
struct TMaskExtent {
  QSize Size{0, 0};
  QPoint Offset;
};

// The box that a w x h rectangle needs when turned by angle radians (counter-clockwise on the
// screen for a positive angle) about its centre, and where its turned top-left corner lies in
// that box. Corners are rounded half to even.
TMaskExtent RotatedBox(int width, int height, double angle);

// A coverage mask of a line of text: one byte per pixel, 0 outside the glyphs, 255 fully inside.
// The text is drawn at Scale times its size and each Scale x Scale block of samples is averaged,
// which gives antialiased edges from an unsmoothed rasteriser.
//
// Rows are stored bottom-up, as in a bottom-up device-independent bitmap: row r (0 = top)
// starts at byte (Height - 1 - r) * Stride of Bits. The padding at the end of a row carries no
// meaning.
class TIAMask : public TAssignable {
 public:
  // owner supplies the drawing surface and its current font; it may be null (then measuring
  // gives 0 x 0 and rendering does nothing). Not owned.
  explicit TIAMask(TIAFont* owner = nullptr);

  const char* ClassName() const override { return "TIAMask"; }
  // From another TIAMask: copies Width, Height, Quality, Stride and the bytes. Other sources
  // raise EAssignError.
  void Assign(const TAssignable& source) override;

  // Supersampling level 0..3; sets Scale: 0 gives 4, 1 gives 3, 2 gives 2, anything else 1.
  std::uint8_t Quality() const { return FQuality; }
  void SetQuality(std::uint8_t value);

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int Stride() const { return FStride; }
  int Scale() const { return FScale; }
  std::vector<std::uint8_t>& Bits() { return FBits; }
  const std::vector<std::uint8_t>& Bits() const { return FBits; }

  // Row r (0 = top). Throws EInvalidLine outside 0..Height-1.
  std::uint8_t* Lines(int r);
  const std::uint8_t* Lines(int r) const;

  // Gives the mask a new size with every byte 0 (tests and callers that build masks by hand).
  void Resize(int width, int height);

  // The size (pixels) that RenderText will give the text with the owner surface's current
  // font, and where the start corner of the text lies inside it.
  TMaskExtent MeasureText(const QString& text) const;
  // Measures the text and fills the mask with its coverage.
  void RenderText(const QString& text);

  // Keeps only the edges of the glyphs (a small gradient magnitude); the border rows and
  // columns keep their values. Masks smaller than 3 x 3 stay as they are.
  void ApplyOutline();
  // One 5 x 5 box blur blended with the unblurred mask by strength (1..100 percent).
  void ApplyBlur(int strength);
  // Scatters the pixels by up to range (1..100) pixels, drawing from the program's generator.
  void ApplySpray(int range);
  // Mirror left to right / top to bottom.
  void FlipHorz();
  void FlipVert();

  TIAFont* Owner() const { return FOwner; }

 private:
  // Start of row r without the range check.
  std::uint8_t* Row(int r) {
    return FBits.data() + static_cast<std::size_t>(FHeight - 1 - r) * FStride;
  }
  const std::uint8_t* Row(int r) const {
    return FBits.data() + static_cast<std::size_t>(FHeight - 1 - r) * FStride;
  }

  TIAFont* FOwner = nullptr;
  std::uint8_t FQuality = 1;
  int FScale = 3;
  int FWidth = 0;
  int FHeight = 0;
  int FStride = 0;
  std::vector<std::uint8_t> FBits;
};

// Lays a colour or a prepared fill raster through a mask onto the owner's surface.
class TIABlend : public TAssignable {
 public:
  // owner supplies the target surface; may be null (then blending does nothing). Not owned.
  explicit TIABlend(TIAFont* owner = nullptr);

  const char* ClassName() const override { return "TIABlend"; }
  // From another TIABlend: copies Fore. Other sources raise EAssignError.
  void Assign(const TAssignable& source) override;

  // The fill raster (Format_BGR888) that the renderer prepares; must be the mask's size.
  QImage Fore;
  // Where a blend is composed (Format_BGR888, the mask's size) before it goes to the target.
  QImage Work;

  // Lays colour through mask onto the target with the mask's top-left corner at (x, y)
  // (pixels), at opacity alpha (0..100 percent). A clear surface brush keeps the picture under
  // the mask's rectangle; a solid brush fills the rectangle with the brush colour first. What
  // falls outside the target is dropped.
  void BlendColor(int x, int y, TColor colour, int alpha, const TIAMask& mask);
  // The same with the pixel of Fore at each position instead of a colour. Throws
  // EInvalidForeBmp, drawing nothing, when Fore is not Format_BGR888 of the mask's size.
  void BlendBitmap(int x, int y, int alpha, const TIAMask& mask);

 private:
  void Compose(int x, int y, const std::uint8_t* colour, int alpha, const TIAMask& mask);

  TIAFont* FOwner = nullptr;
};
