#include "watermark/TextWatermark.h"

#include "texteffects/uFont.h"
#include "transforms/RenameTemplate.h"
#include "watermark/WatermarkPlacement.h"

namespace {

// Letters a-z (or A-Z) changed case; every other character kept as it is.
QString AsciiCase(const QString& text, bool upper) {
  QString result = text;
  for (QChar& c : result) {
    const char16_t u = c.unicode();
    if (upper && u >= u'a' && u <= u'z') c = QChar(char16_t(u - 32));
    if (!upper && u >= u'A' && u <= u'Z') c = QChar(char16_t(u + 32));
  }
  return result;
}

// The locale's long time format without its time-zone name ("t" .. "tttt" outside quotes), so
// that a watermark shows hours, minutes and seconds as a desktop clock does.
QString LongTimeFormatWithoutZone(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString result;
  bool quoted = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    const QChar c = format[i];
    if (c == u'\'') quoted = !quoted;
    if (!quoted && c == u't') {
      // Drop the zone together with the spaces in front of it.
      while (result.endsWith(u' ')) result.chop(1);
      while (i + 1 < format.size() && format[i + 1] == u't') ++i;
      continue;
    }
    result += c;
  }
  return result.trimmed();
}

// The engine's font description of a watermark font.
CanvasFont CanvasFontOf(const WatermarkFont& font) {
  CanvasFont canvasFont;
  canvasFont.Name = font.Name;
  canvasFont.SetSize(font.Size);
  canvasFont.Weight = (font.Style & 1) ? kWeightBold : kWeightNormal;
  canvasFont.Italic = (font.Style & 2) != 0;
  canvasFont.Underline = (font.Style & 4) != 0;
  canvasFont.StrikeOut = (font.Style & 8) != 0;
  canvasFont.CharSet = font.CharSet;
  // A job stores the pitch as 0 default, 1 variable, 2 fixed; the surface numbers the last two
  // the other way round.
  canvasFont.Pitch = font.Pitch == 1   ? kVariablePitch
                     : font.Pitch == 2 ? kFixedPitch
                                       : kDefaultPitch;
  canvasFont.Color = font.Color;
  return canvasFont;
}

// Sets up a renderer on canvas as the watermark draws: 4 x 4 supersampling, the black unblurred
// shadow at (2, 2) with opacity 50, the angle and the opacity; every other effect off.
void SetUpRenderer(TIAFontEx& renderer, int transparence, int angle) {
  renderer.SetQuality(0);
  TIAShadow& shadow = renderer.Effect().Shadow();
  shadow.SetEnabled(true);
  shadow.SetBlur(0);
  shadow.SetColor(0);
  shadow.SetOffsetX(2);
  shadow.SetOffsetY(2);
  shadow.SetAlpha(50);
  renderer.Effect().SetAngle(static_cast<TAngle>(qBound(-360, angle, 360)));
  renderer.Effect().SetAlpha(static_cast<TAlpha>(qBound(0, transparence, 100)));
}

}  // namespace

WatermarkMacroValues WatermarkMacroValuesFor(const QString& sourcePath, const QByteArray& exif,
                                             const QDateTime& now, const QLocale& locale) {
  WatermarkMacroValues values;
  values.DateNow = locale.toString(now.date(), QLocale::ShortFormat);
  values.TimeNow = locale.toString(now.time(), LongTimeFormatWithoutZone(locale));
  values.PathUpper = AsciiCase(sourcePath, true);
  values.PathLower = AsciiCase(sourcePath, false);
  const ExifValues exifValues = ReadExifValues(exif);
  values.ExifDateTime = exifValues.DateTime;
  values.ExifCopyright = exifValues.Copyright;
  values.ExifAperture = FormatExifNumber(exifValues.Aperture, locale);
  values.ExifShutterSpeed = FormatExifNumber(exifValues.ShutterSpeed, locale);
  return values;
}

QString ExpandWatermarkMacros(const QString& text, const WatermarkMacroValues& values) {
  QString result = text;
  result = ReplaceAll(result, QStringLiteral("{$DN}"), values.DateNow);
  result = ReplaceAll(result, QStringLiteral("{$TN}"), values.TimeNow);
  result = ReplaceAll(result, QStringLiteral("{$FU}"), values.PathUpper);
  result = ReplaceAll(result, QStringLiteral("{$FL}"), values.PathLower);
  result = ReplaceAll(result, QStringLiteral("{$ED}"), values.ExifDateTime);
  result = ReplaceAll(result, QStringLiteral("{$EC}"), values.ExifCopyright);
  result = ReplaceAll(result, QStringLiteral("{$EX}"), values.ExifAperture);
  result = ReplaceAll(result, QStringLiteral("{$ES}"), values.ExifShutterSpeed);
  return result;
}

QSize TextWatermarkSize(const QString& expandedText, int angle, const WatermarkFont& font) {
  if (expandedText.isEmpty()) return {0, 0};
  TextCanvas canvas;
  canvas.Font = CanvasFontOf(font);
  canvas.Brush.Style = BrushStyle::Clear;
  TIAFontEx renderer(&canvas);
  SetUpRenderer(renderer, 100, angle);
  return {renderer.TextWidth(expandedText), renderer.TextHeight(expandedText)};
}

void DrawTextWatermark(Picture& picture, const QString& expandedText, int transparence, int angle,
                       int position, const WatermarkFont& font) {
  if (expandedText.isEmpty() || picture.IsNull()) return;
  if (picture.Image.format() != QImage::Format_BGR888)
    picture.Image = picture.Image.convertToFormat(QImage::Format_BGR888);
  TextCanvas canvas(&picture.Image);
  canvas.Font = CanvasFontOf(font);
  // A clear brush keeps the picture around the glyphs.
  canvas.Brush.Style = BrushStyle::Clear;
  TIAFontEx renderer(&canvas);
  SetUpRenderer(renderer, transparence, angle);
  const int w = renderer.TextWidth(expandedText);
  const int h = renderer.TextHeight(expandedText);
  const QPoint at = GetWatermarkPos(picture, w, h, position);
  renderer.TextOut(at.x(), at.y(), expandedText);
}
