#include "util/uFunction.h"

#include <QFileInfo>
#include <cfenv>
#include <cmath>

namespace {

// Nearest whole number, a tie going to the even neighbour.
double RoundHalfEven(double v) {
  const int old = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double r = std::nearbyint(v);
  std::fesetround(old);
  return r;
}

// v with one digit after a point, rounded half-even; never "-0.0".
QString OneDecimal(double v) {
  const double tenths = RoundHalfEven(v * 10.0) + 0.0;
  return QString::number(tenths / 10.0 + 0.0, 'f', 1);
}

QString WholeOrOneDecimal(double v) {
  if (v == std::trunc(v)) return QString::number(static_cast<qint64>(v));
  return OneDecimal(v);
}

}  // namespace

QString FileTypeName(int code) {
  static const char* const kNames[] = {"Unknown", "TIFF", "GIF", "JPEG", "PCX", "BMP", "ICO",
                                       "CUR",     "PNG",  "WMF", "EMF",  "TGA", "PXM", "JP2",
                                       "J2K",     "AVI",  "WBMP", "PS",  "PDF", "DCX"};
  if (code < 0 || code >= static_cast<int>(std::size(kNames))) return QStringLiteral("USER Define");
  return QString::fromLatin1(kNames[code]);
}

QString ColorCountText(int bits) {
  switch (bits) {
    case 16: return QStringLiteral("65,536");
    case 24: return QStringLiteral("16 M");
    case 32: return QStringLiteral("32 M");
    default:
      if (bits >= 1 && bits <= 8) return QString::number(1 << bits);
      return QStringLiteral("Unknown");
  }
}

QString FileSizeText(qint64 bytes) {
  const double n = static_cast<double>(bytes);
  if (bytes > 1048576) return WholeOrOneDecimal(n / 1048576.0) + QLatin1Char('M');
  if (bytes > 1024) return QString::number(static_cast<qint64>(RoundHalfEven(n / 1024.0))) + QLatin1Char('k');
  return WholeOrOneDecimal(n / 1024.0) + QLatin1Char('k');
}

qint64 FileSizeOf(const QString& path) {
  if (path.isEmpty()) return -1;
  const QFileInfo info(QFileInfo(path).absoluteFilePath());
  if (!info.exists() || info.isDir()) return -1;
  return info.size();
}
