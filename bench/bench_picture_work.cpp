// The per-picture work of a batch run, one picture after another on one thread, timed stage by
// stage over a set of photos.
//
//   bench_picture_work [--watermark] [--png] [--plain] [--runs N] [--box WxH] FILE|FOLDER...
//
// Default (the resize workload): read the file into memory, decode it with the JPEG DCT scaling
// that keeps it at least as large as the fitted size of the box (640 x 480, keeping the aspect),
// resample to that size with Lanczos3, and encode a JPEG of quality 80. --watermark adds the
// default text watermark after the resize ("Your Watermarking", Arial bold 28 pt, white, opacity
// 60, bottom right). --png instead decodes at full size and encodes a PNG of zlib level 9 (no
// resize). --plain keeps the resampler to its plain loops (no vector instructions). A folder
// stands for the .jpg files in it.
//
// Prints, per stage, the mean processor time per picture in milliseconds (the thread's own CPU
// time, steady on a busy machine) and the mean wall time, then the total. Each picture's work
// is done --runs times (default 1) after one untimed warm-up pass over the first picture. A
// checksum of the resampled pixels shows whether two builds or modes give the same pictures.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"
#include "imaging/Resample.h"
#include "transforms/ResizeGeometry.h"
#include "watermark/Watermark.h"

namespace {

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

enum Stage { kRead, kDecode, kResample, kWatermark, kEncode, kStageCount };
const char* const kStageNames[kStageCount] = {"read file", "decode", "resample", "watermark",
                                              "encode"};

struct Totals {
  double Cpu[kStageCount] = {};
  double Wall[kStageCount] = {};
  std::uint64_t PixelHash = 1469598103934665603ull;  // FNV-1a over the resampled pixels
};

void HashPixels(const QImage& image, std::uint64_t& hash) {
  const qsizetype rowBytes = qsizetype(image.width()) * image.depth() / 8;
  for (int y = 0; y < image.height(); ++y) {
    const uchar* p = image.constScanLine(y);
    for (qsizetype i = 0; i < rowBytes; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
  }
}

// Times one stage: adds its processor and wall time to totals.
class StageTimer {
 public:
  StageTimer(Totals& totals, Stage stage) : T(totals), S(stage), Cpu0(ThreadCpuMs()) {
    Wall.start();
  }
  ~StageTimer() {
    T.Cpu[S] += ThreadCpuMs() - Cpu0;
    T.Wall[S] += double(Wall.nsecsElapsed()) / 1e6;
  }

 private:
  Totals& T;
  Stage S;
  double Cpu0;
  QElapsedTimer Wall;
};

struct Options {
  bool Watermark = false;
  bool Png = false;
  int Runs = 1;
  int BoxWidth = 640;
  int BoxHeight = 480;
};

// The largest of 8, 4, 2 and 1 that keeps a width x height picture at least targetW x targetH
// after the decoder's reduction (which rounds up).
int ScaleDenominatorFor(int width, int height, int targetW, int targetH) {
  for (int k : {8, 4, 2}) {
    if ((width + k - 1) / k >= targetW && (height + k - 1) / k >= targetH) return k;
  }
  return 1;
}

// The default text watermark as the batch draws it.
void AddDefaultWatermark(Picture& picture, const QString& sourcePath) {
  WatermarkFont font;
  font.Name = QStringLiteral("Arial");
  font.Size = 28;
  font.Color = 16777215;
  font.CharSet = 1;
  font.Style = 1;
  font.Pitch = 0;
  AddTextWatermark(picture, QStringLiteral("Your Watermarking"), 60, 0, 9, font, sourcePath);
}

// One picture's work; returns the encoded size.
qint64 ProcessOne(const QString& path, const Options& options, Totals& totals) {
  QByteArray bytes;
  {
    StageTimer t(totals, kRead);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw PictureError(QStringLiteral("cannot open ") + path);
    bytes = file.readAll();
  }
  const ByteView data(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                      size_t(bytes.size()));
  Picture picture;
  QSize target;
  {
    StageTimer t(totals, kDecode);
    ReadOptions readOptions;
    if (!options.Png) {
      const HeaderFacts facts = ReadHeaderFactsFromMemory(data, QFileInfo(path).suffix());
      target = FillSize(facts.Width, facts.Height, options.BoxWidth, options.BoxHeight, 3);
      readOptions.ScaleDenominator =
          ScaleDenominatorFor(facts.Width, facts.Height, target.width(), target.height());
    }
    picture = ReadPictureFromMemory(data, QFileInfo(path).suffix(), readOptions);
  }
  if (!options.Png) {
    StageTimer t(totals, kResample);
    ResamplePicture(picture, target.width(), target.height(), 5);
  }
  if (!options.Png) HashPixels(picture.Image, totals.PixelHash);
  if (options.Watermark) {
    StageTimer t(totals, kWatermark);
    AddDefaultWatermark(picture, path);
  }
  QByteArray encoded;
  {
    StageTimer t(totals, kEncode);
    if (options.Png) {
      picture.Params.PngLevel = 9;
      encoded = EncodePicture(picture, QStringLiteral(".png"));
    } else {
      picture.Params.JpegQuality = 80;
      encoded = EncodePicture(picture, QStringLiteral(".jpg"));
    }
  }
  return encoded.size();
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);  // fonts need it
  SetResampleThreads(1);
  Options options;
  QStringList files;
  const QStringList args = app.arguments().mid(1);
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QLatin1String("--watermark")) {
      options.Watermark = true;
    } else if (a == QLatin1String("--png")) {
      options.Png = true;
    } else if (a == QLatin1String("--plain")) {
      SetResampleVectorUnits(false);
    } else if (a == QLatin1String("--runs") && i + 1 < args.size()) {
      options.Runs = std::max(1, args[++i].toInt());
    } else if (a == QLatin1String("--box") && i + 1 < args.size()) {
      const QStringList wh = args[++i].split(u'x');
      options.BoxWidth = wh.value(0).toInt();
      options.BoxHeight = wh.value(1).toInt();
    } else if (QFileInfo(a).isDir()) {
      const QDir dir(a);
      for (const QString& name : dir.entryList({QStringLiteral("*.jpg"), QStringLiteral("*.JPG")},
                                               QDir::Files, QDir::Name))
        files << dir.filePath(name);
    } else {
      files << a;
    }
  }
  if (files.isEmpty()) {
    std::fprintf(
        stderr, "usage: %s [--watermark] [--png] [--plain] [--runs N] [--box WxH] FILE|FOLDER...\n",
        argv[0]);
    return 2;
  }

  try {
    Totals warmUp;
    ProcessOne(files.first(), options, warmUp);  // font lookup, codec set-up
    Totals totals;
    qint64 bytesOut = 0;
    for (int run = 0; run < options.Runs; ++run)
      for (const QString& file : files) bytesOut += ProcessOne(file, options, totals);
    const double n = double(files.size()) * options.Runs;
    std::printf("%lld pictures (%s%s), ms per picture:\n", static_cast<long long>(n),
                options.Png ? "full size, PNG level 9" : "fit 640 x 480, Lanczos3, JPEG 80",
                options.Watermark ? ", text watermark" : "");
    std::printf("  %-10s %9s %9s\n", "stage", "cpu", "wall");
    double cpuSum = 0, wallSum = 0;
    for (int s = 0; s < kStageCount; ++s) {
      if (s == kResample && options.Png) continue;
      if (s == kWatermark && !options.Watermark) continue;
      std::printf("  %-10s %9.2f %9.2f\n", kStageNames[s], totals.Cpu[s] / n, totals.Wall[s] / n);
      cpuSum += totals.Cpu[s];
      wallSum += totals.Wall[s];
    }
    std::printf("  %-10s %9.2f %9.2f   (%.1f pictures/s by processor time; %.0f bytes out)\n",
                "total", cpuSum / n, wallSum / n, 1000.0 * n / cpuSum, double(bytesOut) / n);
    if (!options.Png)
      std::printf("  resampled pixels checksum %016llx\n",
                  static_cast<unsigned long long>(totals.PixelHash));
  } catch (const PictureError& e) {
    std::fprintf(stderr, "%s\n", qPrintable(e.Text()));
    return 1;
  }
  return 0;
}
