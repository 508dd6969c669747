#include "app/BatchInfo.h"

#include "imaging/PictureIO.h"
#include "util/uFunction.h"

QString PictureInfoLine(const QString& path) {
  const HeaderFacts facts = ReadHeaderFacts(path);
  const QString description =
      facts.FormatDescription.isEmpty() ? FileTypeName(facts.FileType) : facts.FormatDescription;
  return QStringList{path,
                     description,
                     QStringLiteral("%1 x %2").arg(facts.Width).arg(facts.Height),
                     ColorCountText(facts.BitsPerSample * facts.SamplesPerPixel),
                     FileSizeText(FileSizeOf(path)),
                     QString::number(facts.DpiX)}
      .join(QLatin1Char('\t'));
}
