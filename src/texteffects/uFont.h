#pragma once

#include <QSize>
#include <QString>
#include <memory>

#include "texteffects/EffectSettings.h"
#include "texteffects/TextCanvas.h"
#include "texteffects/TextMask.h"

// The text-effects engine's front: renderers bound to a drawing surface (TextCanvas).
//
// Typical use (the text watermark):
//   TextCanvas canvas(&picture.Image);          // Format_BGR888
//   canvas.Font.Name = "Arial"; canvas.Font.SetSize(28); canvas.Font.Weight = kWeightBold;
//   canvas.Brush.Style = BrushStyle::Clear;
//   TIAFontEx font(&canvas);
//   font.SetQuality(0);
//   font.Effect().Shadow().SetEnabled(true);
//   const int w = font.TextWidth(text), h = font.TextHeight(text);
//   font.TextOut(x, y, text);
//
// The work of a draw is proportional to the text's box, never to the picture. Everything needs
// a QGuiApplication (fonts); all objects are for one thread at a time, and several threads may
// draw at once, each with its own objects. Each thread keeps its last text measurement and its
// last rendered coverage mask, so that stamping the same text in the same font picture after
// picture draws the glyphs once.

// Holds the surface, the mask and the blend, and measures text.
class TIAFont {
 public:
  // canvas: the target surface, not owned, may be null (then measuring gives 0 x 0 and drawing
  // does nothing). The mask starts at Quality 1 (3 x 3 samples per pixel).
  explicit TIAFont(TextCanvas* canvas);
  virtual ~TIAFont();
  TIAFont(const TIAFont&) = delete;
  TIAFont& operator=(const TIAFont&) = delete;

  TextCanvas* Canvas() const { return FCanvas; }
  TIAMask& Mask() { return *FMask; }
  TIABlend& Blend() { return *FBlend; }

  // Supersampling level of the mask: 0 samples 4 x 4 per pixel, 1 samples 3 x 3, 2 samples
  // 2 x 2, 3 draws directly.
  void SetQuality(int level);

  // Size in pixels of the box the text takes with the surface's current font (turned by the
  // font's escapement). TextWidth and TextHeight go through this, so an override decides them.
  virtual QSize TextExtent(const QString& text);
  virtual int TextHeight(const QString& text) { return TextExtent(text).height(); }
  virtual int TextWidth(const QString& text) { return TextExtent(text).width(); }

 private:
  TextCanvas* FCanvas = nullptr;
  std::unique_ptr<TIAMask> FMask;
  std::unique_ptr<TIABlend> FBlend;
};

// A renderer with effects: shadow, blur, outline, spray, mirrors, rotation, opacity and gradient,
// texture or noise fills, as set in Effect.
class TIAFontEx : public TIAFont {
 public:
  explicit TIAFontEx(TextCanvas* canvas);
  ~TIAFontEx() override;

  TIAEffect& Effect() { return *FEffect; }
  const TIAEffect& Effect() const { return *FEffect; }

  // The text's box turned by Effect's Angle, plus |OffsetX| x |OffsetY| when the shadow is on.
  QSize TextExtent(const QString& text) override;

  // Draws the text with every enabled effect so that the box TextExtent reports starts at
  // (x, y) (pixels on the surface). The text takes the surface font's colour. An empty text or
  // no surface draws nothing. The surface's font and brush are the same afterwards, also when a
  // failure (EInvalidLine, EInvalidForeBmp, QuillomarError) interrupts the drawing and reaches
  // the caller.
  void TextOut(int x, int y, const QString& text);

  // The fills: each sizes Blend().Fore to the mask (Format_BGR888) and writes it.
  // Gradient from Effect's Gradual.
  void GradientFill();
  // The surface font's colour plus noise of amplitude n on each channel.
  void NoiseFill(int n);
  // Adds noise of amplitude n to each byte of Fore.
  void AddNoise(int n);
  // The font colour overlaid with Effect's texture picture, placed by its Mode.
  void TextureFill();

 private:
  std::unique_ptr<TIAEffect> FEffect;
};
