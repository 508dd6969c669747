#include "processing/PictureSteps.h"

#include <exception>

#include "imaging/PictureIO.h"
#include "processing/OutputFormats.h"
#include "transforms/ResizeGeometry.h"

WatermarkFont WatermarkFontOf(const JobSettings& settings) {
  WatermarkFont font;
  font.Name = settings.Text(JobField::FontName);
  font.Size = settings.Int(JobField::FontSize);
  font.Color = settings.Int(JobField::FontColor);
  font.CharSet = settings.Int(JobField::FontCharSet);
  font.Style = settings.Int(JobField::FontStyle);
  font.Pitch = settings.Int(JobField::FontPitch);
  return font;
}

ImageLogoOptions ImageLogoOptionsOf(const JobSettings& settings) {
  ImageLogoOptions options;
  options.Transparence = settings.Int(JobField::WmTrans);
  options.Position = settings.Int(JobField::WmPosit);
  options.RemoveBackground = settings.On(JobField::RemoveBgChecked);
  options.BackgroundColor = settings.Int(JobField::WmBgColor);
  return options;
}

void PrepareWorkingPicture(Picture& picture, const JobSettings& settings) {
  if (settings.On(JobField::RemoveExif)) picture.Params.ClearMetadata();
  if (settings.On(JobField::ChangeDPI)) ChangeDpi(picture, settings.Int(JobField::NewDPI));
}

int ShrinkOnLoadDenominator(const HeaderFacts& facts, const JobSettings& settings) {
  if (facts.FileType != PictureFileType::Jpeg || facts.Width <= 0 || facts.Height <= 0) return 1;
  if (!settings.On(JobField::ResizeChecked) || settings.Int(JobField::RsMode) == 0) return 1;
  // The DPI change resamples the whole picture before the resize; its size follows from the
  // picture's own.
  if (settings.On(JobField::ChangeDPI)) return 1;
  const int width = settings.Int(JobField::RsWidth);
  const int height = settings.Int(JobField::RsHeight);
  if (width < 2 || height < 2) return 1;
  // FillSize counts an unselected type (-1) as 3, as the resize does.
  const QSize target =
      FillSize(facts.Width, facts.Height, width, height, settings.Int(JobField::RsType));
  // A reduced decode of a w-pixel line has ceil(w / k) pixels.
  for (const int k : {8, 4, 2}) {
    if ((facts.Width + k - 1) / k >= target.width() &&
        (facts.Height + k - 1) / k >= target.height())
      return k;
  }
  return 1;
}

Picture ReadWorkingPicture(const QString& path, const JobSettings& settings, QSize* sizeAsStored) {
  QSize stored;
  Picture picture = ReadPicture(path, [&](const HeaderFacts& facts) {
    ReadOptions options;
    options.ScaleDenominator = ShrinkOnLoadDenominator(facts, settings);
    if (options.ScaleDenominator > 1) stored = QSize(facts.Width, facts.Height);
    return options;
  });
  // Only a picture that came out reduced needs its stored size for the resize.
  if (stored == picture.Image.size()) stored = QSize();
  if (sizeAsStored) *sizeAsStored = stored;
  return picture;
}

void ResizeAndWatermark(Picture& picture, const JobSettings& settings, const QString& sourcePath,
                        const DetailsSink& details, QSize sizeAsStored) {
  try {
    if (settings.On(JobField::ResizeChecked)) {
      details(QStringLiteral("Resizing output file ..."), true);
      const int width = settings.Int(JobField::RsWidth);
      const int height = settings.Int(JobField::RsHeight);
      if (settings.Int(JobField::RsMode) != 0)
        FillToSize(picture, width, height, settings.Int(JobField::RsType),
                   settings.Int(JobField::Filter), sizeAsStored);
      else
        CutToSize(picture, width, height, settings.Int(JobField::RsAlign),
                  settings.Int(JobField::RsValign));
      details(QStringLiteral("Picture resized sucessfully ..."), false);
    }
    if (settings.On(JobField::WatermarkChecked)) {
      details(QStringLiteral("add watermark to output file ..."), false);
      if (settings.Int(JobField::WmType) != 0)
        AddImageWatermark(picture, settings.Text(JobField::WmImage), ImageLogoOptionsOf(settings));
      else
        AddTextWatermark(picture, settings.Text(JobField::WmText), settings.Int(JobField::WmTrans),
                         settings.Int(JobField::WmAngle), settings.Int(JobField::WmPosit),
                         WatermarkFontOf(settings), sourcePath);
      details(QStringLiteral("watermark adding sucessfully ..."), false);
    }
  } catch (const std::exception&) {
    // The picture is written in whatever state the failed step left it.
  }
}

bool ApplyOutputOptions(Picture& picture, int sourceType, int targetType,
                        const JobSettings& settings, const DetailsSink& details) {
  if (sourceType == targetType && settings.On(JobField::KeepQuality)) return false;
  const bool changed = ApplyColorDepth(picture, settings);
  details(QStringLiteral("Converting colors ..."), false);
  SetEncoderOptions(picture, targetType, settings);
  return changed;
}
