// Decodes one JPEG file N times through ReadPicture and prints the time per decode.
//
//   bench_jpeg_decode FILE [N]     (N defaults to 5)
//
// Prints the mean and the fastest decode in milliseconds of wall time, and the mean processor
// time (user + system, which is steadier on a busy machine); with N = 1 the program is a single
// decode, which is what bench/jpeg-decode.sh times against djpeg.

#include <QElapsedTimer>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [N]\n", argv[0]);
    return 2;
  }
  const QString path = QString::fromLocal8Bit(argv[1]);
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  double total = 0;
  double cpu = 0;
  double best = 1e300;
  int width = 0, height = 0;
  try {
    for (int i = 0; i < runs; ++i) {
      QElapsedTimer timer;
      const std::clock_t cpuStart = std::clock();
      timer.start();
      const Picture picture = ReadPicture(path);
      const double ms = double(timer.nsecsElapsed()) / 1e6;
      cpu += double(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC;
      width = picture.Width();
      height = picture.Height();
      total += ms;
      best = std::min(best, ms);
    }
  } catch (const PictureError& e) {
    std::fprintf(stderr, "%s\n", qPrintable(e.Text()));
    return 1;
  }
  std::printf("%d x %d: %.1f ms per decode (fastest %.1f ms), processor %.1f ms, over %d runs\n",
              width, height, total / runs, best, cpu / runs, runs);
  return 0;
}
