#include "texteffects/TextMask.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>

#include "texteffects/uFont.h"
#include "util/Random.h"

namespace {

// The surface's font at the supersampling scale: height and width multiplied. A height that would
// overflow is left out of range, for the font check to refuse.
CanvasFont ScaledFont(const CanvasFont& font, int scale) {
  CanvasFont scaled = font;
  const auto times = [scale](int value) {
    return static_cast<int>(std::clamp(static_cast<long long>(value) * scale,
                                       -static_cast<long long>(std::numeric_limits<int>::max()),
                                       static_cast<long long>(std::numeric_limits<int>::max())));
  };
  scaled.Height = times(font.Height);
  scaled.Width = times(font.Width);
  return scaled;
}

// The last text rendered on this thread. A batch stamps the same text in the same font on picture
// after picture, and drawing it at Scale times its size is most of a watermark's work; the
// coverage depends on nothing but the text, the scaled font and the scale. One per thread, so
// that workers never share it.
struct RenderedText {
  bool Valid = false;
  QString Text;
  CanvasFont Font;
  int Scale = 0;
  int Width = 0;
  int Height = 0;
  int Stride = 0;
  std::vector<std::uint8_t> Bits;
};
thread_local RenderedText tLastRendered;

}  // namespace

int RoundHalfEven(double value) { return static_cast<int>(std::nearbyint(value)); }

TMaskExtent RotatedBox(int width, int height, double angle) {
  const double s = std::sin(-angle);
  const double c = std::cos(-angle);
  const double hw = width / 2.0;
  const double hh = height / 2.0;
  const double p = hw * c;
  const double q = hh * c;
  const double r = hw * s;
  const double t = hh * s;
  // The four corners turned about the centre, each coordinate rounded.
  const QPoint topLeft(RoundHalfEven(-p + t), RoundHalfEven(-r - q));
  const QPoint topRight(RoundHalfEven(p + t), RoundHalfEven(r - q));
  const QPoint bottomLeft(RoundHalfEven(-p - t), RoundHalfEven(-r + q));
  const QPoint bottomRight(RoundHalfEven(p - t), RoundHalfEven(r + q));
  const int minX = std::min({topLeft.x(), topRight.x(), bottomLeft.x(), bottomRight.x()});
  const int maxX = std::max({topLeft.x(), topRight.x(), bottomLeft.x(), bottomRight.x()});
  const int minY = std::min({topLeft.y(), topRight.y(), bottomLeft.y(), bottomRight.y()});
  const int maxY = std::max({topLeft.y(), topRight.y(), bottomLeft.y(), bottomRight.y()});
  TMaskExtent box;
  box.Size = QSize(maxX - minX, maxY - minY);
  box.Offset = QPoint(box.Size.width() / 2 + topLeft.x(), box.Size.height() / 2 + topLeft.y());
  return box;
}

// ---- TIAMask ----

TIAMask::TIAMask(TIAFont* owner) : FOwner(owner) {}

void TIAMask::Assign(const TAssignable& source) {
  if (const auto* other = dynamic_cast<const TIAMask*>(&source)) {
    FWidth = other->FWidth;
    FHeight = other->FHeight;
    SetQuality(other->FQuality);
    FStride = other->FStride;
    FBits = other->FBits;
    return;
  }
  TAssignable::Assign(source);
}

void TIAMask::SetQuality(std::uint8_t value) {
  FQuality = value;
  switch (value) {
    case 0:
      FScale = 4;
      break;
    case 1:
      FScale = 3;
      break;
    case 2:
      FScale = 2;
      break;
    default:
      FScale = 1;
      break;
  }
}

std::uint8_t* TIAMask::Lines(int r) {
  if (r < 0 || r >= FHeight) throw EInvalidLine();
  return Row(r);
}

const std::uint8_t* TIAMask::Lines(int r) const {
  if (r < 0 || r >= FHeight) throw EInvalidLine();
  return Row(r);
}

void TIAMask::Resize(int width, int height) {
  FWidth = std::max(0, width);
  FHeight = std::max(0, height);
  FStride = (FWidth + 3) / 4 * 4;
  FBits.assign(static_cast<std::size_t>(FStride) * FHeight, 0);
}

TMaskExtent TIAMask::MeasureText(const QString& text) const {
  TextCanvas* canvas = FOwner != nullptr ? FOwner->Canvas() : nullptr;
  if (canvas == nullptr) return {};
  const CanvasFont font = ScaledFont(canvas->Font, FScale);
  const double angle = font.Escapement * std::numbers::pi / 1800.0;

  const TextCellSize cell = MeasureTextCell(font, text);
  int cx = (cell.Advance + FScale - 1) / FScale;
  const int cy = (cell.CellHeight + FScale - 1) / FScale;
  // A slanted face reaches past its advance: add 30 % of the average character width.
  if (font.Italic && !text.isEmpty())
    cx += RoundHalfEven(static_cast<double>(cx) / text.size() * 0.3);
  if (angle != 0) return RotatedBox(cx, cy, angle);
  TMaskExtent extent;
  extent.Size = QSize(cx, cy);
  return extent;
}

void TIAMask::RenderText(const QString& text) {
  TextCanvas* canvas = FOwner != nullptr ? FOwner->Canvas() : nullptr;
  if (canvas == nullptr) return;
  RenderedText& last = tLastRendered;
  if (last.Valid && last.Scale == FScale && last.Text == text &&
      last.Font == ScaledFont(canvas->Font, FScale)) {
    FWidth = last.Width;
    FHeight = last.Height;
    FStride = last.Stride;
    FBits = last.Bits;
    return;
  }
  const TMaskExtent extent = MeasureText(text);
  FWidth = extent.Size.width();
  FHeight = extent.Size.height();

  // The scratch raster: the text at Scale times its size, white on black, two levels.
  QImage scratch;
  if (FWidth > 0 && FHeight > 0) {
    const long long samples =
        static_cast<long long>(FWidth) * FScale * static_cast<long long>(FHeight) * FScale;
    if (samples < std::numeric_limits<int>::max())
      scratch = QImage(FWidth * FScale, FHeight * FScale, QImage::Format_Grayscale8);
    if (scratch.isNull())
      throw QuillomarError(QStringLiteral("The text is too large to draw (%1 x %2 pixels).")
                               .arg(FWidth)
                               .arg(FHeight));
    scratch.fill(0);
    const CanvasFont font = ScaledFont(canvas->Font, FScale);
    QPoint start(0, 0);
    if (font.Escapement != 0) start = extent.Offset * FScale;
    DrawTextCell(scratch, font, start, text, 255);
  }

  FStride = (FWidth + 3) / 4 * 4;
  FBits.assign(static_cast<std::size_t>(FStride) * FHeight, 0);

  // Average each Scale x Scale block of samples into one mask pixel.
  const int scale = FScale;
  for (int r = 0; r < FHeight; ++r) {
    std::uint8_t* out = Row(r);
    const std::uint8_t* s0 = scratch.constScanLine(r * scale);
    switch (scale) {
      case 4: {
        const std::uint8_t* s1 = scratch.constScanLine(r * 4 + 1);
        const std::uint8_t* s2 = scratch.constScanLine(r * 4 + 2);
        const std::uint8_t* s3 = scratch.constScanLine(r * 4 + 3);
        for (int x = 0; x < FWidth; ++x) {
          const int i = x * 4;
          const int sum = s0[i] + s0[i + 1] + s0[i + 2] + s0[i + 3] + s1[i] + s1[i + 1] +
                          s1[i + 2] + s1[i + 3] + s2[i] + s2[i + 1] + s2[i + 2] + s2[i + 3] +
                          s3[i] + s3[i + 1] + s3[i + 2] + s3[i + 3];
          out[x] = static_cast<std::uint8_t>(sum >> 4);
        }
        break;
      }
      case 3: {
        // Weights 1 1 1/2 / 1 1 1 / 1/2 1 1, a half weight halving the sample (truncated)
        // before it is added; the sum divided by 8. A fully covered block gives 254.
        const std::uint8_t* s1 = scratch.constScanLine(r * 3 + 1);
        const std::uint8_t* s2 = scratch.constScanLine(r * 3 + 2);
        for (int x = 0; x < FWidth; ++x) {
          const int i = x * 3;
          const int sum = s0[i] + s0[i + 1] + (s0[i + 2] >> 1) + s1[i] + s1[i + 1] + s1[i + 2] +
                          (s2[i] >> 1) + s2[i + 1] + s2[i + 2];
          out[x] = static_cast<std::uint8_t>(sum >> 3);
        }
        break;
      }
      case 2: {
        const std::uint8_t* s1 = scratch.constScanLine(r * 2 + 1);
        for (int x = 0; x < FWidth; ++x) {
          const int i = x * 2;
          out[x] = static_cast<std::uint8_t>((s0[i] + s0[i + 1] + s1[i] + s1[i + 1]) >> 2);
        }
        break;
      }
      default:
        std::memcpy(out, s0, static_cast<std::size_t>(FWidth));
        break;
    }
  }
  last.Valid = false;  // stays invalid if a copy below fails
  last.Text = text;
  last.Font = ScaledFont(canvas->Font, FScale);
  last.Scale = FScale;
  last.Width = FWidth;
  last.Height = FHeight;
  last.Stride = FStride;
  last.Bits = FBits;
  last.Valid = true;
}

void TIAMask::ApplyOutline() {
  if (FHeight < 3 || FWidth < 3) return;
  const std::vector<std::uint8_t> copy = FBits;
  auto copyRow = [&](int r) {
    return copy.data() + static_cast<std::size_t>(FHeight - 1 - r) * FStride;
  };
  for (int y = 1; y <= FHeight - 2; ++y) {
    const std::uint8_t* a = copyRow(y - 1);
    const std::uint8_t* m = copyRow(y);
    const std::uint8_t* b = copyRow(y + 1);
    std::uint8_t* out = Row(y);
    for (int x = 1; x <= FWidth - 2; ++x) {
      const int v = (std::abs(b[x] - a[x]) + std::abs(m[x + 1] - m[x - 1]) +
                     std::abs(b[x - 1] - a[x + 1]) + std::abs(b[x + 1] - a[x - 1])) >>
                    2;
      out[x] = static_cast<std::uint8_t>(std::min(v, 255));
    }
  }
}

void TIAMask::ApplyBlur(int strength) {
  if (FWidth <= 0 || FHeight <= 0) return;
  const int k = RoundHalfEven(strength * 255 / 100.0);
  // Sums of the 5 x 5 window with positions clamped to the mask, made separable: first the
  // five horizontal neighbours of every pixel, then five of those sums vertically.
  std::vector<int> rowSums(static_cast<std::size_t>(FWidth) * FHeight);
  for (int y = 0; y < FHeight; ++y) {
    const std::uint8_t* row = Row(y);
    int* sums = rowSums.data() + static_cast<std::size_t>(y) * FWidth;
    for (int x = 0; x < FWidth; ++x) {
      int sum = 0;
      for (int dx = -2; dx <= 2; ++dx) sum += row[std::clamp(x + dx, 0, FWidth - 1)];
      sums[x] = sum;
    }
  }
  for (int y = 0; y < FHeight; ++y) {
    const int* window[5];
    for (int dy = -2; dy <= 2; ++dy)
      window[dy + 2] =
          rowSums.data() + static_cast<std::size_t>(std::clamp(y + dy, 0, FHeight - 1)) * FWidth;
    std::uint8_t* row = Row(y);
    for (int x = 0; x < FWidth; ++x) {
      const int sum = window[0][x] + window[1][x] + window[2][x] + window[3][x] + window[4][x];
      const int avg = (sum + 12) / 25;  // round(sum / 25); a sum never lies half-way
      if (k == 255) {
        row[x] = static_cast<std::uint8_t>(avg);
      } else {
        const int old = row[x];
        // Arithmetic shift: floor((avg - old) * k / 256), also for a negative difference.
        row[x] = static_cast<std::uint8_t>(old + (((avg - old) * k) >> 8));
      }
    }
  }
}

void TIAMask::ApplySpray(int range) {
  for (int y = 0; y < FHeight; ++y) {
    std::uint8_t* out = Row(y);
    for (int x = 0; x < FWidth; ++x) {
      // Three draws in this order: the distance, then the x and the y displacement.
      const int r = RandomInt(range + 1);
      const int sx = std::clamp(x + r - RandomInt(2 * r), 0, FWidth - 1);
      const int sy = std::clamp(y + r - RandomInt(2 * r), 0, FHeight - 1);
      // The source may already have been rewritten in this pass.
      out[x] = Row(sy)[sx];
    }
  }
}

void TIAMask::FlipHorz() {
  for (int y = 0; y < FHeight; ++y) {
    std::uint8_t* row = Row(y);
    for (int x = 0; x < FWidth / 2; ++x) std::swap(row[x], row[FWidth - 1 - x]);
  }
}

void TIAMask::FlipVert() {
  for (int y = 0; y < FHeight / 2; ++y)
    std::swap_ranges(Row(y), Row(y) + FStride, Row(FHeight - 1 - y));
}

// ---- TIABlend ----

TIABlend::TIABlend(TIAFont* owner)
    : Fore(0, 0, QImage::Format_BGR888), Work(0, 0, QImage::Format_BGR888), FOwner(owner) {}

void TIABlend::Assign(const TAssignable& source) {
  if (const auto* other = dynamic_cast<const TIABlend*>(&source)) {
    Fore = other->Fore.copy();
    return;
  }
  TAssignable::Assign(source);
}

void TIABlend::BlendColor(int x, int y, TColor colour, int alpha, const TIAMask& mask) {
  const QRgb rgb = ColorToRgb(colour);
  const std::uint8_t bgr[3] = {static_cast<std::uint8_t>(qBlue(rgb)),
                               static_cast<std::uint8_t>(qGreen(rgb)),
                               static_cast<std::uint8_t>(qRed(rgb))};
  Compose(x, y, bgr, alpha, mask);
}

void TIABlend::BlendBitmap(int x, int y, int alpha, const TIAMask& mask) {
  if (Fore.format() != QImage::Format_BGR888 || Fore.width() != mask.Width() ||
      Fore.height() != mask.Height())
    throw EInvalidForeBmp();
  Compose(x, y, nullptr, alpha, mask);
}

// Composes the blend in Work and copies it onto the target. colour is a blue-green-red triple,
// or null to take each pixel's colour from Fore. Only the part of the mask's rectangle that lies
// on the target is composed: the rest would be dropped anyway.
void TIABlend::Compose(int x, int y, const std::uint8_t* colour, int alpha, const TIAMask& mask) {
  TextCanvas* canvas = FOwner != nullptr ? FOwner->Canvas() : nullptr;
  if (canvas == nullptr || !canvas->CanDraw()) return;
  const int width = mask.Width();
  const int height = mask.Height();
  if (width <= 0 || height <= 0) return;
  if (Work.width() != width || Work.height() != height || Work.format() != QImage::Format_BGR888)
    Work = QImage(width, height, QImage::Format_BGR888);
  if (Work.isNull()) throw QuillomarError(QStringLiteral("Not enough memory to draw the text."));

  QImage& target = *canvas->Image();
  const QRect onTarget = QRect(x, y, width, height).intersected(target.rect());
  if (onTarget.isEmpty()) return;
  const int x0 = onTarget.left() - x;  // visible columns and rows in mask coordinates
  const int x1 = onTarget.right() - x;
  const int y0 = onTarget.top() - y;
  const int y1 = onTarget.bottom() - y;
  const std::size_t spanBytes = static_cast<std::size_t>(x1 - x0 + 1) * 3;

  // The background: the picture under the rectangle for a clear brush, the brush colour for a
  // solid one.
  if (canvas->Brush.Style == BrushStyle::Solid) {
    const QRgb brush = ColorToRgb(canvas->Brush.Color);
    Work.fill(QColor(qRed(brush), qGreen(brush), qBlue(brush)));
  } else {
    for (int r = y0; r <= y1; ++r)
      std::memcpy(Work.scanLine(r) + x0 * 3, target.constScanLine(y + r) + (x + x0) * 3, spanBytes);
  }

  // Opacity 0..100 becomes a weight 0..256. Values above 100 are outside the contract; they
  // count as 100 so that the weight never passes 255.
  const int a256 = std::clamp(alpha, 0, 100) * 256 / 100;
  for (int r = y0; r <= y1; ++r) {
    const std::uint8_t* m = mask.Lines(r);
    std::uint8_t* d = Work.scanLine(r);
    const std::uint8_t* fore = colour != nullptr ? nullptr : Fore.constScanLine(r);
    for (int c = x0; c <= x1; ++c) {
      const int w = (m[c] * a256) >> 8;
      if (w == 0) continue;
      const std::uint8_t* src = colour != nullptr ? colour : fore + c * 3;
      std::uint8_t* px = d + c * 3;
      if (w == 255) {
        px[0] = src[0];
        px[1] = src[1];
        px[2] = src[2];
      } else {
        px[0] = static_cast<std::uint8_t>(px[0] + (((src[0] - px[0]) * w) >> 8));
        px[1] = static_cast<std::uint8_t>(px[1] + (((src[1] - px[1]) * w) >> 8));
        px[2] = static_cast<std::uint8_t>(px[2] + (((src[2] - px[2]) * w) >> 8));
      }
    }
  }

  for (int r = y0; r <= y1; ++r)
    std::memcpy(target.scanLine(y + r) + (x + x0) * 3, Work.constScanLine(r) + x0 * 3, spanBytes);
}
