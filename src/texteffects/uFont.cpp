#include "texteffects/uFont.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "util/Random.h"

namespace {

std::uint8_t ClampByte(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

// Gives Fore the mask's size in 24-bit form; its pixels are then unspecified.
void SizeFore(QImage& fore, const TIAMask& mask) {
  if (fore.width() != mask.Width() || fore.height() != mask.Height() ||
      fore.format() != QImage::Format_BGR888)
    fore = QImage(mask.Width(), mask.Height(), QImage::Format_BGR888);
  if (fore.isNull() && mask.Width() > 0 && mask.Height() > 0)
    throw QuillomarError(QStringLiteral("Not enough memory to draw the text."));
}

}  // namespace

// ---- TIAFont ----

TIAFont::TIAFont(TextCanvas* canvas)
    : FCanvas(canvas),
      FMask(std::make_unique<TIAMask>(this)),
      FBlend(std::make_unique<TIABlend>(this)) {}

TIAFont::~TIAFont() = default;

void TIAFont::SetQuality(int level) { FMask->SetQuality(static_cast<std::uint8_t>(level)); }

QSize TIAFont::TextExtent(const QString& text) { return FMask->MeasureText(text).Size; }

// ---- TIAFontEx ----

TIAFontEx::TIAFontEx(TextCanvas* canvas)
    : TIAFont(canvas), FEffect(std::make_unique<TIAEffect>()) {}

// Effect goes first, then the mask and the blend with the base.
TIAFontEx::~TIAFontEx() { FEffect.reset(); }

QSize TIAFontEx::TextExtent(const QString& text) {
  QSize size(0, 0);
  TextCanvas* canvas = Canvas();
  if (FEffect->Angle() != 0 && canvas != nullptr) {
    const CanvasFont kept = canvas->Font;
    canvas->Font.Escapement = FEffect->Angle() * 10;
    try {
      size = TIAFont::TextExtent(text);
    } catch (...) {
      canvas->Font = kept;
      throw;
    }
    canvas->Font = kept;
  } else {
    size = TIAFont::TextExtent(text);
  }
  const TIAShadow& shadow = FEffect->Shadow();
  if (shadow.Enabled())
    size += QSize(std::abs(static_cast<int>(shadow.OffsetX())),
                  std::abs(static_cast<int>(shadow.OffsetY())));
  return size;
}

void TIAFontEx::TextOut(int x, int y, const QString& text) {
  TextCanvas* canvas = Canvas();
  if (canvas == nullptr || text.isEmpty()) return;
  const TIAEffect& effect = *FEffect;
  const TIAShadow& shadow = effect.Shadow();

  // The surface gets its font and brush style back however the drawing ends. With angle 0 the
  // font is never touched.
  struct SurfaceGuard {
    TextCanvas* Surface;
    bool Turned;
    CanvasFont Font;
    BrushStyle Style;
    ~SurfaceGuard() {
      if (Turned) Surface->Font = Font;
      Surface->Brush.Style = Style;
    }
  } guard{canvas, effect.Angle() != 0, canvas->Font, canvas->Brush.Style};
  if (effect.Angle() != 0) canvas->Font.Escapement = effect.Angle() * 10;

  // Positions: the text and its shadow share the box that TextExtent reports; a negative offset
  // moves the text instead of the shadow.
  int textX = x;
  int textY = y;
  int shadowX = x;
  int shadowY = y;
  if (shadow.Enabled()) {
    const int offsetX = shadow.OffsetX();
    const int offsetY = shadow.OffsetY();
    textX = x + (offsetX < 0 ? -offsetX : 0);
    textY = y + (offsetY < 0 ? -offsetY : 0);
    shadowX = x + (offsetX > 0 ? offsetX : 0);
    shadowY = y + (offsetY > 0 ? offsetY : 0);
  }

  TIAMask& mask = Mask();
  mask.RenderText(text);
  if (effect.Outline()) mask.ApplyOutline();
  if (effect.Spray() > 0) mask.ApplySpray(effect.Spray());
  if (effect.HorzMirror()) mask.FlipHorz();
  if (effect.VertMirror()) mask.FlipVert();

  if (shadow.Enabled()) {
    // The shadow carries the outline, spray and mirrors of the text, but not the text's blur.
    TIAMask shadowMask(this);
    shadowMask.Assign(mask);
    if (shadow.Blur() > 0) shadowMask.ApplyBlur(shadow.Blur());
    Blend().BlendColor(shadowX, shadowY, shadow.Color(), effect.Alpha() * shadow.Alpha() / 100,
                       shadowMask);
    // The text's blend must keep the shadow and the picture around the glyphs.
    canvas->Brush.Style = BrushStyle::Clear;
  }

  if (effect.Blur() > 0) mask.ApplyBlur(effect.Blur());

  const TIATexture& texture = effect.Texture();
  if (texture.Enabled() && !texture.Picture().IsEmpty()) {
    TextureFill();
    if (effect.Noise() > 0) AddNoise(effect.Noise());
    Blend().BlendBitmap(textX, textY, effect.Alpha(), mask);
  } else if (effect.Gradual().Enabled()) {
    GradientFill();
    if (effect.Noise() > 0) AddNoise(effect.Noise());
    Blend().BlendBitmap(textX, textY, effect.Alpha(), mask);
  } else if (effect.Noise() > 0) {
    NoiseFill(effect.Noise());
    Blend().BlendBitmap(textX, textY, effect.Alpha(), mask);
  } else {
    Blend().BlendColor(textX, textY, canvas->Font.Color, effect.Alpha(), mask);
  }
}

void TIAFontEx::GradientFill() {
  const TIAMask& mask = Mask();
  QImage& fore = Blend().Fore;
  SizeFore(fore, mask);
  const TIAGradual& gradual = FEffect->Gradual();
  const TGradualStyle style = gradual.Style();
  const bool horizontal = style == gsLeftToRight || style == gsRightToLeft || style == gsCenterToLR;
  const bool centred = style == gsCenterToLR || style == gsCenterToTB;
  const int length = horizontal ? mask.Width() : mask.Height();
  const int steps = centred ? (length + 1) / 2 : length;
  const bool forward = style == gsLeftToRight || style == gsTopToBottom;
  const QRgb c1 = ColorToRgb(forward ? gradual.StartColor() : gradual.EndColor());
  const QRgb c2 = ColorToRgb(forward ? gradual.EndColor() : gradual.StartColor());

  // The ramp, blue-green-red per entry: entry 0 is c1, the last stops one step short of c2.
  std::vector<std::uint8_t> ramp(static_cast<std::size_t>(std::max(length, 0)) * 3);
  for (int i = 0; i < steps; ++i) {
    ramp[i * 3 + 0] = static_cast<std::uint8_t>(qBlue(c1) + (qBlue(c2) - qBlue(c1)) * i / steps);
    ramp[i * 3 + 1] = static_cast<std::uint8_t>(qGreen(c1) + (qGreen(c2) - qGreen(c1)) * i / steps);
    ramp[i * 3 + 2] = static_cast<std::uint8_t>(qRed(c1) + (qRed(c2) - qRed(c1)) * i / steps);
  }
  // The centre styles run from the edges (c1) towards the middle.
  if (centred) {
    for (int m = 0; m < steps; ++m) std::copy_n(&ramp[m * 3], 3, &ramp[(length - 1 - m) * 3]);
  }

  for (int y = 0; y < fore.height(); ++y) {
    std::uint8_t* row = fore.scanLine(y);
    if (horizontal) {
      std::copy_n(ramp.data(), static_cast<std::size_t>(fore.width()) * 3, row);
    } else {
      for (int x = 0; x < fore.width(); ++x) std::copy_n(&ramp[y * 3], 3, row + x * 3);
    }
  }
}

void TIAFontEx::NoiseFill(int n) {
  TextCanvas* canvas = Canvas();
  QImage& fore = Blend().Fore;
  SizeFore(fore, Mask());
  const QRgb colour = ColorToRgb(canvas != nullptr ? canvas->Font.Color : 0);
  const int half = n / 2;
  for (int y = 0; y < fore.height(); ++y) {
    std::uint8_t* row = fore.scanLine(y);
    for (int x = 0; x < fore.width(); ++x) {
      // Drawn in the order red, green, blue.
      const std::uint8_t red = ClampByte(qRed(colour) + RandomInt(n) - half);
      const std::uint8_t green = ClampByte(qGreen(colour) + RandomInt(n) - half);
      const std::uint8_t blue = ClampByte(qBlue(colour) + RandomInt(n) - half);
      row[x * 3 + 0] = blue;
      row[x * 3 + 1] = green;
      row[x * 3 + 2] = red;
    }
  }
}

void TIAFontEx::AddNoise(int n) {
  QImage& fore = Blend().Fore;
  const int half = n / 2;
  const int bytes = fore.width() * 3;
  for (int y = 0; y < fore.height(); ++y) {
    std::uint8_t* row = fore.scanLine(y);
    for (int i = 0; i < bytes; ++i) row[i] = ClampByte(row[i] + RandomInt(n) - half);
  }
}

void TIAFontEx::TextureFill() {
  TextCanvas* canvas = Canvas();
  QImage& fore = Blend().Fore;
  SizeFore(fore, Mask());
  if (fore.isNull()) return;
  const QRgb colour = ColorToRgb(canvas != nullptr ? canvas->Font.Color : 0);
  fore.fill(QColor(qRed(colour), qGreen(colour), qBlue(colour)));

  const TIAPicture& picture = FEffect->Texture().Picture();
  if (picture.IsEmpty()) return;
  const QImage& graphic = picture.Graphic();
  const int gw = graphic.width();
  const int gh = graphic.height();
  QPainter painter(&fore);
  switch (FEffect->Texture().Mode()) {
    case tmTiled:
      for (int i = 0; i <= fore.width() / gw; ++i)
        for (int j = 0; j <= fore.height() / gh; ++j) painter.drawImage(i * gw, j * gh, graphic);
      break;
    case tmStretched:
      if (picture.Kind() == TIAPicture::Icon) {
        // An icon is first laid on an opaque raster of the window-text colour at its own size.
        QImage opaque(gw, gh, QImage::Format_RGB32);
        opaque.fill(ColorToRgb(kSystemColorWindowText));
        {
          QPainter iconPainter(&opaque);
          iconPainter.drawImage(0, 0, graphic);
        }
        painter.drawImage(QRect(0, 0, fore.width(), fore.height()), opaque);
      } else {
        painter.drawImage(QRect(0, 0, fore.width(), fore.height()), graphic);
      }
      break;
    case tmCenter:
      painter.drawImage((fore.width() - gw) / 2, (fore.height() - gh) / 2, graphic);
      break;
    case tmNormal:
    default:
      painter.drawImage(0, 0, graphic);
      break;
  }
}
