#include "texteffects/TextCanvas.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMutex>
#include <QPainter>
#include <QPalette>
#include <QTransform>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "util/Errors.h"

namespace {

// Classic window-system defaults of the system colours, by index; used for the indexes the
// palette has no role for and when no application (and so no palette) exists.
constexpr std::array<QRgb, 31> kSystemColorDefaults = {
    qRgb(0xC8, 0xC8, 0xC8), qRgb(0x00, 0x00, 0x00), qRgb(0x99, 0xB4, 0xD1), qRgb(0xBF, 0xCD, 0xDB),
    qRgb(0xF0, 0xF0, 0xF0), qRgb(0xFF, 0xFF, 0xFF), qRgb(0x64, 0x64, 0x64), qRgb(0x00, 0x00, 0x00),
    qRgb(0x00, 0x00, 0x00), qRgb(0x00, 0x00, 0x00), qRgb(0xB4, 0xB4, 0xB4), qRgb(0xF4, 0xF7, 0xFC),
    qRgb(0xAB, 0xAB, 0xAB), qRgb(0x00, 0x78, 0xD7), qRgb(0xFF, 0xFF, 0xFF), qRgb(0xF0, 0xF0, 0xF0),
    qRgb(0xA0, 0xA0, 0xA0), qRgb(0x6D, 0x6D, 0x6D), qRgb(0x00, 0x00, 0x00), qRgb(0x00, 0x00, 0x00),
    qRgb(0xFF, 0xFF, 0xFF), qRgb(0x69, 0x69, 0x69), qRgb(0xE3, 0xE3, 0xE3), qRgb(0x00, 0x00, 0x00),
    qRgb(0xFF, 0xFF, 0xE1), qRgb(0x00, 0x00, 0x00), qRgb(0x00, 0x66, 0xCC), qRgb(0xB9, 0xD1, 0xEA),
    qRgb(0xD7, 0xE4, 0xF2), qRgb(0x33, 0x99, 0xFF), qRgb(0xF0, 0xF0, 0xF0)};

// The palette role that stands for a system colour index, or -1 when there is none.
int PaletteRoleFor(int index) {
  switch (index) {
    case 4:
      return QPalette::Window;  // menu
    case 5:
      return QPalette::Base;  // window background
    case 7:
      return QPalette::WindowText;  // menu text
    case 8:
      return QPalette::Text;  // window text
    case 13:
      return QPalette::Highlight;
    case 14:
      return QPalette::HighlightedText;
    case 15:
      return QPalette::Button;  // button face
    case 16:
      return QPalette::Dark;  // button shadow
    case 18:
      return QPalette::ButtonText;
    case 20:
      return QPalette::Light;  // button highlight
    case 21:
      return QPalette::Shadow;
    case 22:
      return QPalette::Midlight;
    case 23:
      return QPalette::ToolTipText;
    case 24:
      return QPalette::ToolTipBase;
    case 26:
      return QPalette::Link;  // hot-tracked item
    default:
      return -1;
  }
}

void RequireGuiApplication() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
    throw QuillomarError(QStringLiteral("Text drawing needs a running QGuiApplication."));
}

}  // namespace

// Kerning is off and every character advances by its own hinted whole-pixel width, so that the
// advance of a string is the sum of its characters.
QFont MakeQFont(const CanvasFont& font) {
  RequireGuiApplication();
  const long long height = std::llabs(static_cast<long long>(font.Height));
  if (height > kMaxFontPixels)
    throw QuillomarError(QStringLiteral("The font is too large to draw (%1 pixels).").arg(height));
  QFont result(font.Name);
  result.setPixelSize(std::max(1, static_cast<int>(height)));
  result.setWeight(static_cast<QFont::Weight>(
      std::clamp(font.Weight == 0 ? kWeightNormal : font.Weight, 1, 1000)));
  result.setItalic(font.Italic);
  result.setUnderline(font.Underline);
  result.setStrikeOut(font.StrikeOut);
  result.setKerning(false);
  result.setHintingPreference(QFont::PreferFullHinting);
  result.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoSubpixelAntialias));
  if (font.Pitch == kFixedPitch) {
    result.setFixedPitch(true);
    result.setStyleHint(QFont::TypeWriter, result.styleStrategy());
  }
  if (font.Width > 0) {
    // The width is an average character width: stretch the face so that its average width
    // becomes the one asked for.
    const int natural = QFontMetrics(result).averageCharWidth();
    if (natural > 0)
      result.setStretch(
          std::clamp(static_cast<int>(std::lround(100.0 * font.Width / natural)), 1, 4000));
  }
  return result;
}

namespace {

// A small raster that fixes the paint device (96 pixels per inch) that fonts are measured on.
const QImage& MeasureDevice() {
  static const QImage device = [] {
    QImage image(1, 1, QImage::Format_Grayscale8);
    image.setDotsPerMeterX(3780);  // 96 per inch
    image.setDotsPerMeterY(3780);
    return image;
  }();
  return device;
}

}  // namespace

QRgb ColorToRgb(TColor color) {
  if (color >= 0) {
    const auto value = static_cast<std::uint32_t>(color);
    return qRgb(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
  }
  const int index = static_cast<int>(static_cast<std::uint32_t>(color) & 0xFF);
  const int role = PaletteRoleFor(index);
  if (role >= 0 && qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
    // Workers that draw several pictures at once may ask together; the application may make
    // its palette on the first request, so the requests go one at a time.
    static QMutex paletteMutex;
    QColor c;
    {
      const QMutexLocker lock(&paletteMutex);
      c = QGuiApplication::palette().color(QPalette::Active,
                                           static_cast<QPalette::ColorRole>(role));
    }
    return qRgb(c.red(), c.green(), c.blue());
  }
  if (index < static_cast<int>(kSystemColorDefaults.size())) return kSystemColorDefaults[index];
  return qRgb(0, 0, 0);
}

void CanvasFont::SetSize(int points) {
  Height = static_cast<int>(std::lround(points * static_cast<double>(kTextPixelsPerInch) / 72.0));
}

int CanvasFont::Size() const {
  return static_cast<int>(
      std::lround(std::abs(Height) * 72.0 / static_cast<double>(kTextPixelsPerInch)));
}

namespace {

// The last measurement made on this thread: a watermark measures the same text in the same font
// several times per picture, and picture after picture. One per thread, never shared.
struct Measured {
  bool Valid = false;
  CanvasFont Font;
  QString Text;
  TextCellSize Size;
};
thread_local Measured tLastMeasured;

}  // namespace

TextCellSize MeasureTextCell(const CanvasFont& font, const QString& text) {
  RequireGuiApplication();
  Measured& last = tLastMeasured;
  if (last.Valid && last.Text == text && last.Font == font) return last.Size;
  const QFontMetrics metrics(MakeQFont(font), &MeasureDevice());
  TextCellSize size;
  size.Advance = text.isEmpty() ? 0 : metrics.horizontalAdvance(text);
  size.CellHeight = metrics.ascent() + metrics.descent();
  if (size.Advance < 0 || size.CellHeight < 0)
    throw QuillomarError(QStringLiteral("The text is too large to measure."));
  last.Valid = false;
  last.Font = font;
  last.Text = text;
  last.Size = size;
  last.Valid = true;
  return size;
}

void DrawTextCell(QImage& raster, const CanvasFont& font, QPoint start, const QString& text,
                  int grey) {
  RequireGuiApplication();
  if (text.isEmpty() || raster.isNull()) return;
  const QFont qfont = MakeQFont(font);
  const QFontMetrics metrics(qfont, &MeasureDevice());
  QPainter painter(&raster);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, false);
  painter.setFont(qfont);
  painter.setPen(QColor(grey, grey, grey));
  painter.translate(start);
  // The escapement turns counter-clockwise on the screen; QPainter turns clockwise for a
  // positive angle in its y-down coordinates.
  if (font.Escapement != 0) painter.rotate(-font.Escapement / 10.0);
  painter.drawText(QPoint(0, metrics.ascent()), text);
}
