#include "watermark/Watermark.h"

#include "watermark/TextWatermark.h"

bool AddImageWatermark(Picture& picture, const QString& imagePath) {
  return AddImageWatermark(picture, imagePath, ImageLogoOptions{});
}

bool AddTextWatermark(Picture& picture, const QString& text, int transparence, int angle,
                      int position, const WatermarkFont& font, const QString& sourcePath) {
  // The date and time are taken once, so every macro of one stamping shows the same moment.
  const WatermarkMacroValues values = WatermarkMacroValuesFor(sourcePath, picture.Params.Exif);
  const QString expanded = ExpandWatermarkMacros(text, values);
  DrawTextWatermark(picture, expanded, transparence, angle, position, font);
  return true;
}
