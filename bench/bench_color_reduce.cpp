// Time of ReduceColors on a 24-megapixel photo to 256 colours (with dithering).
//
// usage: bench_color_reduce [PHOTO] [COLORS]
// PHOTO defaults to the first picture of /tmp/qbench/photos; it is scaled to 6000 x 4000 so
// that every run measures the same amount of work. Without a photo, a synthetic photo-like
// picture is used. Prints the best of three runs in milliseconds, wall-clock and processor time
// (the latter is the better figure on a busy machine).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "imaging/ColorReduce.h"
#include "imaging/PictureIO.h"

namespace {

QImage SyntheticPhoto(int width, int height) {
  QImage image(width, height, QImage::Format_BGR888);
  for (int y = 0; y < height; ++y) {
    uchar* p = image.scanLine(y);
    for (int x = 0; x < width; ++x) {
      const double fx = double(x) / width, fy = double(y) / height;
      const int noise = ((x * 7919 + y * 104729) % 23) - 11;
      p[3 * x + 0] = uchar(std::clamp(int(127 + 120 * std::sin(9 * (fx + fy))) + noise, 0, 255));
      p[3 * x + 1] = uchar(std::clamp(int(255 * fy) - noise, 0, 255));
      p[3 * x + 2] = uchar(std::clamp(int(255 * fx * fy) + noise, 0, 255));
    }
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  QString path = args.value(0);
  const int colors = args.size() > 1 ? args[1].toInt() : 256;
  if (path.isEmpty()) {
    const QStringList photos =
        QDir(QStringLiteral("/tmp/qbench/photos"))
            .entryList({QStringLiteral("*.jpg"), QStringLiteral("*.JPG")}, QDir::Files, QDir::Name);
    if (!photos.isEmpty()) path = QStringLiteral("/tmp/qbench/photos/") + photos.first();
  }

  QImage source;
  if (!path.isEmpty()) {
    try {
      source = ReadPicture(path).Image;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "cannot read %s: %s\n", qPrintable(path), e.what());
    }
    if (source.isNull()) source = QImage(path).convertToFormat(QImage::Format_BGR888);
  }
  if (source.isNull()) {
    path = QStringLiteral("(synthetic)");
    source = SyntheticPhoto(6000, 4000);
  } else {
    source = source.scaled(6000, 4000, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                 .convertToFormat(QImage::Format_BGR888);
  }

  qint64 best = -1;
  double bestCpu = -1;
  int paletteSize = 0;
  for (int run = 0; run < 3; ++run) {
    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpuStart = std::clock();
    const QImage reduced = ReduceColors(source, colors, true);
    const qint64 ms = timer.elapsed();
    const double cpu = double(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC;
    if (bestCpu < 0 || cpu < bestCpu) bestCpu = cpu;
    paletteSize = reduced.colorCount();
    if (best < 0 || ms < best) best = ms;
  }
  QTextStream(stdout) << "bench_color_reduce " << path << " " << source.width() << "x"
                      << source.height() << " to " << colors << " colours (palette " << paletteSize
                      << "): " << best << " ms (processor time " << qRound(bestCpu) << " ms)\n";
  return 0;
}
