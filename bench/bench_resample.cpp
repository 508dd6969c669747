// Times the resampler reducing a large picture to 640 x 480 with the given filters.
//
//   bench_resample RAW WIDTH HEIGHT [REPEATS] [FILTER...]
//
// RAW holds WIDTH x HEIGHT pixels of 3 bytes each, row after row, no header (bench/resample.sh
// writes it). Filters are numbers 0..11 (default 5 Lanczos3 and 11 Bicubic). For each filter it
// prints the best wall-clock time of REPEATS runs (default 5) with all cores and with one
// thread, and the processor time of that one thread (steadier than wall time on a busy machine).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <ctime>

#include "imaging/Resample.h"

namespace {

struct Timing {
  double WallMs = 1e30;
  double CpuMs = 1e30;  // processor time of the whole process
};

Timing Best(const QImage& source, int filter, int repeats) {
  Timing best;
  for (int i = 0; i < repeats; ++i) {
    QElapsedTimer timer;
    const std::clock_t cpu = std::clock();
    timer.start();
    const QImage out = ResampleImage(source, 640, 480, filter);
    best.WallMs = std::min(best.WallMs, timer.nsecsElapsed() / 1e6);
    best.CpuMs = std::min(best.CpuMs, double(std::clock() - cpu) * 1000.0 / CLOCKS_PER_SEC);
    if (out.width() != 640) std::abort();
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 4) {
    std::fprintf(stderr, "usage: bench_resample RAW WIDTH HEIGHT [REPEATS] [FILTER...]\n");
    return 2;
  }
  const int width = args[2].toInt();
  const int height = args[3].toInt();
  const int repeats = args.size() > 4 ? std::max(1, args[4].toInt()) : 5;
  QList<int> filters;
  for (int i = 5; i < args.size(); ++i) filters << args[i].toInt();
  if (filters.isEmpty()) filters = {ResampleFilter::Lanczos3, ResampleFilter::Bicubic};

  QFile file(args[1]);
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "cannot open %s\n", qPrintable(args[1]));
    return 2;
  }
  const QByteArray raw = file.readAll();
  if (width <= 0 || height <= 0 || raw.size() != qsizetype(width) * height * 3) {
    std::fprintf(stderr, "%s does not hold %d x %d x 3 bytes\n", qPrintable(args[1]), width,
                 height);
    return 2;
  }
  QImage source(width, height, QImage::Format_BGR888);
  for (int y = 0; y < height; ++y) {
    memcpy(source.scanLine(y), raw.constData() + qsizetype(y) * width * 3, size_t(width) * 3);
  }

  static const char* const kNames[] = {"None",    "Triangle",   "Hermite",  "Bell",
                                       "BSpline", "Lanczos3",   "Mitchell", "Nearest",
                                       "Linear",  "FastLinear", "Bilinear", "Bicubic"};
  for (int filter : filters) {
    if (filter < 0 || filter >= ResampleFilter::Count) continue;
    SetResampleThreads(0);
    const Timing all = Best(source, filter, repeats);
    SetResampleThreads(1);
    const Timing one = Best(source, filter, repeats);
    std::printf(
        "quillomar %-10s %dx%d -> 640x480  wall %7.1f ms all cores, %7.1f ms 1 thread;"
        "  cpu %7.1f ms 1 thread\n",
        kNames[filter], width, height, all.WallMs, one.WallMs, one.CpuMs);
  }
  return 0;
}
