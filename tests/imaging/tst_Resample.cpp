// The resampler against independent references: Pillow's resize for the kernels Pillow has, a
// plain double-precision resampler written here for every kernel, and invariants (a constant
// picture stays constant, a mirror-symmetric picture stays symmetric, edges ring no more than
// the reference's).

#include <QtTest>
#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

#include "common/TestSupport.h"
#include "imaging/PictureError.h"
#include "imaging/Resample.h"

namespace {

const char* const kFilterNames[ResampleFilter::Count] = {
    "None",     "Triangle", "Hermite", "Bell",       "BSpline",  "Lanczos3",
    "Mitchell", "Nearest",  "Linear",  "FastLinear", "Bilinear", "Bicubic"};

// The kernels again, written from their definitions, for the double-precision reference.
struct RefKernel {
  std::function<double(double)> F;  // empty: point sampling
  double Support = 0;
  bool Widened = true;
  int Snap = 0;
};

double RefSinc(double x) {
  return x == 0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
}

double RefCubic(double x, double b, double c) {  // Mitchell-Netravali family
  x = std::fabs(x);
  if (x < 1)
    return ((12 - 9 * b - 6 * c) * x * x * x + (-18 + 12 * b + 6 * c) * x * x + 6 - 2 * b) / 6;
  if (x < 2) {
    return ((-b - 6 * c) * x * x * x + (6 * b + 30 * c) * x * x + (-12 * b - 48 * c) * x + 8 * b +
            24 * c) /
           6;
  }
  return 0;
}

RefKernel RefKernelOf(int filter) {
  auto tent = [](double x) { return std::max(0.0, 1 - std::fabs(x)); };
  switch (filter) {
    case ResampleFilter::None:
      return {};
    case ResampleFilter::Triangle:
    case ResampleFilter::Bilinear:
      return {tent, 1, true, 0};
    case ResampleFilter::Hermite:
      return {[](double x) {
                x = std::fabs(x);
                return x < 1 ? 2 * x * x * x - 3 * x * x + 1 : 0.0;
              },
              1, true, 0};
    case ResampleFilter::Bell:
      return {[](double x) {
                x = std::fabs(x);
                return x < 0.5 ? 0.75 - x * x : (x < 1.5 ? (x - 1.5) * (x - 1.5) / 2 : 0.0);
              },
              1.5, true, 0};
    case ResampleFilter::BSpline:  // the Mitchell-Netravali cubic with B = 1, C = 0
      return {[](double x) { return RefCubic(x, 1, 0); }, 2, true, 0};
    case ResampleFilter::Lanczos3:
      return {[](double x) { return std::fabs(x) < 3 ? RefSinc(x) * RefSinc(x / 3) : 0.0; }, 3,
              true, 0};
    case ResampleFilter::Mitchell:
      return {[](double x) { return RefCubic(x, 1.0 / 3, 1.0 / 3); }, 2, true, 0};
    case ResampleFilter::Nearest:
      return {[](double x) { return x > -0.5 && x <= 0.5 ? 1.0 : 0.0; }, 0.5, true, 0};
    case ResampleFilter::Linear:
      return {tent, 1, false, 0};
    case ResampleFilter::FastLinear:
      return {tent, 1, false, 16};
    case ResampleFilter::Bicubic:  // Keys, a = -0.5: the family with B = 0, C = 0.5
      return {[](double x) { return RefCubic(x, 0, 0.5); }, 2, true, 0};
  }
  return {};
}

// For each output position, the (source index, weight) pairs, weights summing to 1.
std::vector<std::vector<std::pair<int, double>>> RefAxis(int in, int out, const RefKernel& k) {
  std::vector<std::vector<std::pair<int, double>>> axis;
  axis.resize(size_t(out));
  const double scale = double(in) / out;
  for (int i = 0; i < out; ++i) {
    double c = (i + 0.5) * scale;
    if (!k.F) {
      axis[size_t(i)].push_back({std::clamp(int(std::floor(c)), 0, in - 1), 1.0});
      continue;
    }
    if (k.Snap) c = std::nearbyint((c - 0.5) * k.Snap) / k.Snap + 0.5;
    const double fs = k.Widened ? std::max(1.0, scale) : 1.0;
    double sum = 0;
    for (int j = 0; j < in; ++j) {
      const double w = k.F((j + 0.5 - c) / fs);
      if (w != 0) {
        axis[size_t(i)].push_back({j, w});
        sum += w;
      }
    }
    for (auto& [j, w] : axis[size_t(i)]) w /= sum;
  }
  return axis;
}

// Resampling in double precision without intermediate rounding; an axis that keeps its size is
// left alone. Source and result Format_BGR888.
QImage ReferenceResample(const QImage& src, int w, int h, int filter) {
  const RefKernel k = RefKernelOf(filter);
  const int w0 = src.width();
  const int h0 = src.height();
  std::vector<double> mid(size_t(w) * h0 * 3);
  if (w == w0) {
    for (int y = 0; y < h0; ++y)
      for (int x = 0; x < w * 3; ++x) mid[size_t(y * w * 3 + x)] = src.constScanLine(y)[x];
  } else {
    const auto ax = RefAxis(w0, w, k);
    for (int y = 0; y < h0; ++y) {
      const uchar* p = src.constScanLine(y);
      for (int x = 0; x < w; ++x)
        for (int ch = 0; ch < 3; ++ch) {
          double s = 0;
          for (auto [j, wt] : ax[size_t(x)]) s += p[3 * j + ch] * wt;
          mid[size_t((y * w + x) * 3 + ch)] = s;
        }
    }
  }
  QImage out(w, h, QImage::Format_BGR888);
  const auto ay = h == h0 ? RefAxis(h0, h0, RefKernel{}) : RefAxis(h0, h, k);
  for (int y = 0; y < h; ++y) {
    uchar* q = out.scanLine(y);
    for (int x = 0; x < w * 3; ++x) {
      double s = 0;
      for (auto [j, wt] : ay[size_t(y)]) s += mid[size_t(j * w * 3 + x)] * wt;
      q[x] = uchar(std::clamp(std::lround(s), 0L, 255L));
    }
  }
  return out;
}

// A region of an example photo as Pillow decodes it, and Pillow's resize of that region.
struct PillowPair {
  QImage Source;  // Format_BGR888
  QImage Resized;
};

PillowPair PillowResize(const QString& photo, QRect crop, QSize size, const char* pillowFilter) {
  static const char kScript[] =
      "import sys\n"
      "from PIL import Image\n"
      "x, y, w, h, ow, oh = map(int, sys.argv[2:8])\n"
      "src = Image.open(sys.argv[1]).convert('RGB').crop((x, y, x + w, y + h))\n"
      "out = src.resize((ow, oh), Image.Resampling[sys.argv[8]])\n"
      "sys.stdout.buffer.write(src.tobytes() + out.tobytes())\n";
  const ProcessResult r = RunPython(
      QString::fromLatin1(kScript),
      {photo, QString::number(crop.x()), QString::number(crop.y()), QString::number(crop.width()),
       QString::number(crop.height()), QString::number(size.width()),
       QString::number(size.height()), QString::fromLatin1(pillowFilter)});
  PillowPair pair;
  const qsizetype srcBytes = qsizetype(crop.width()) * crop.height() * 3;
  const qsizetype outBytes = qsizetype(size.width()) * size.height() * 3;
  if (r.ExitCode != 0 || r.Out.size() != srcBytes + outBytes) {
    qWarning("Pillow failed: %s", r.Err.constData());
    return pair;
  }
  auto fromRgb = [](const char* data, int w, int h) {
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
      memcpy(image.scanLine(y), data + qsizetype(y) * w * 3, size_t(w) * 3);
    return image.convertToFormat(QImage::Format_BGR888);
  };
  pair.Source = fromRgb(r.Out.constData(), crop.width(), crop.height());
  pair.Resized = fromRgb(r.Out.constData() + srcBytes, size.width(), size.height());
  return pair;
}

// A picture that is its own mirror image left-right and top-bottom, with fine detail, so that
// any shift of the sampling grid breaks the symmetry.
QImage MakeSymmetricPicture(int width, int height) {
  const QImage quarter = MakeTestPicture((width + 1) / 2, (height + 1) / 2);
  QImage image(width, height, QImage::Format_BGR888);
  for (int y = 0; y < height; ++y) {
    const uchar* p = quarter.constScanLine(std::min(y, height - 1 - y));
    uchar* q = image.scanLine(y);
    for (int x = 0; x < width; ++x) memcpy(q + 3 * x, p + 3 * std::min(x, width - 1 - x), 3);
  }
  return image;
}

// Two levels meeting at an edge in either direction (a quarter of the picture is the other
// level), at positions that fall between output pixels.
QImage MakeEdgePicture(int width, int height, int low, int high) {
  QImage image(width, height, QImage::Format_BGR888);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool inside = x >= width * 3 / 8 + 1 && y >= height * 5 / 8 + 1;
      memset(image.scanLine(y) + 3 * x, inside ? high : low, 3);
    }
  return image;
}

std::pair<int, int> MinMax(const QImage& image) {
  int lo = 255, hi = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width() * 3; ++x) {
      lo = std::min<int>(lo, image.constScanLine(y)[x]);
      hi = std::max<int>(hi, image.constScanLine(y)[x]);
    }
  return {lo, hi};
}

void AddFilterRows(bool includeNone = true) {
  for (int f = includeNone ? 0 : 1; f < ResampleFilter::Count; ++f) {
    QTest::newRow(QByteArray(kFilterNames[f]) + " reduce") << f << false;
    QTest::newRow(QByteArray(kFilterNames[f]) + " enlarge") << f << true;
  }
}

}  // namespace

class TestResample : public QObject {
  Q_OBJECT

 private slots:
  void matchesPillow_data() {
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("pillowFilter");
    QTest::addColumn<bool>("enlarge");
    const struct {
      int Filter;
      const char* Pillow;
      bool ReduceToo;  // Linear and FastLinear are not widened, so only enlarging is the same
    } kSame[] = {
        {ResampleFilter::None, "NEAREST", true},
        {ResampleFilter::Triangle, "BILINEAR", true},
        {ResampleFilter::Bilinear, "BILINEAR", true},
        {ResampleFilter::Lanczos3, "LANCZOS", true},
        {ResampleFilter::Nearest, "BOX", true},
        {ResampleFilter::Bicubic, "BICUBIC", true},
        {ResampleFilter::Linear, "BILINEAR", false},
        {ResampleFilter::FastLinear, "BILINEAR", false},
    };
    for (const auto& s : kSame) {
      if (s.ReduceToo) {
        QTest::newRow(QByteArray(kFilterNames[s.Filter]) + " reduce")
            << s.Filter << QString::fromLatin1(s.Pillow) << false;
      }
      QTest::newRow(QByteArray(kFilterNames[s.Filter]) + " enlarge")
          << s.Filter << QString::fromLatin1(s.Pillow) << true;
    }
  }

  // Pillow computes the same kernels in 22-bit fixed point with 8-bit rounding between the
  // passes, as we do; the weights differ only by rounding, so one level at most.
  void matchesPillow() {
    QFETCH(int, filter);
    QFETCH(QString, pillowFilter);
    QFETCH(bool, enlarge);
    const QString photo = SourceDir() + QStringLiteral("/examples/Garden.jpg");
    const QRect crop = enlarge ? QRect(300, 180, 150, 110) : QRect(0, 0, 800, 500);
    const QSize size = enlarge ? crop.size() * 2 : QSize(200, 125);
    const PillowPair pillow = PillowResize(photo, crop, size, pillowFilter.toLatin1().constData());
    QVERIFY(!pillow.Resized.isNull());
    const QImage ours = ResampleImage(pillow.Source, size.width(), size.height(), filter);
    QCOMPARE(ours.format(), QImage::Format_BGR888);
    QVERIFY2(
        MaxChannelDifference(ours, pillow.Resized) <= 1,
        qPrintable(
            QStringLiteral("max difference %1").arg(MaxChannelDifference(ours, pillow.Resized))));
  }

  void matchesDoubleReference_data() {
    QTest::addColumn<int>("filter");
    QTest::addColumn<bool>("enlarge");
    AddFilterRows();
  }

  // The only differences from exact arithmetic are the fixed-point weights and the rounding to
  // 8 bits between the passes (half a level, spread by the second pass's weights): at most 2
  // levels anywhere, and far less on average.
  void matchesDoubleReference() {
    QFETCH(int, filter);
    QFETCH(bool, enlarge);
    const QImage photo = DecodeWithPillow(SourceDir() + QStringLiteral("/examples/Storm.jpg"))
                             .convertToFormat(QImage::Format_BGR888);
    QVERIFY(!photo.isNull());
    const QImage source = enlarge ? photo.copy(400, 200, 120, 90) : photo;
    const QSize size = enlarge ? source.size() * 2 : source.size() / 4;
    const QImage ours = ResampleImage(source, size.width(), size.height(), filter);
    const QImage reference = ReferenceResample(source, size.width(), size.height(), filter);
    const int worst = MaxChannelDifference(ours, reference);
    const double mean = MeanChannelDifference(ours, reference);
    QVERIFY2(worst <= 2 && mean < 0.3,
             qPrintable(QStringLiteral("max %1, mean %2").arg(worst).arg(mean)));
  }

  void tallThinToWideFlat_data() {
    QTest::addColumn<int>("filter");
    for (int f = 0; f < ResampleFilter::Count; ++f) QTest::newRow(kFilterNames[f]) << f;
  }

  // Turning a tall thin strip into a wide flat one takes the vertical pass first (the other
  // order would build a 300 x 600 intermediate); the result is as exact as the usual order's.
  void tallThinToWideFlat() {
    QFETCH(int, filter);
    const QImage source = MakeTestPicture(9, 600);
    const QImage ours = ResampleImage(source, 300, 7, filter);
    const QImage reference = ReferenceResample(source, 300, 7, filter);
    QVERIFY2(MaxChannelDifference(ours, reference) <= 2,
             qPrintable(QStringLiteral("max %1").arg(MaxChannelDifference(ours, reference))));
  }

  void keepsConstantPicture_data() {
    QTest::addColumn<int>("filter");
    QTest::addColumn<bool>("enlarge");
    AddFilterRows();
  }

  void keepsConstantPicture() {
    QFETCH(int, filter);
    QFETCH(bool, enlarge);
    QImage source(enlarge ? 37 : 149, enlarge ? 23 : 101, QImage::Format_BGR888);
    for (int y = 0; y < source.height(); ++y)
      for (int x = 0; x < source.width(); ++x) {
        uchar* p = source.scanLine(y) + 3 * x;
        p[0] = 0, p[1] = 128, p[2] = 255;
      }
    const QSize size = enlarge ? QSize(83, 52) : QSize(37, 26);
    const QImage out = ResampleImage(source, size.width(), size.height(), filter);
    for (int y = 0; y < out.height(); ++y)
      for (int x = 0; x < out.width(); ++x) {
        const uchar* p = out.constScanLine(y) + 3 * x;
        QVERIFY2(p[0] == 0 && p[1] == 128 && p[2] == 255,
                 qPrintable(QStringLiteral("pixel %1,%2 is %3 %4 %5")
                                .arg(x)
                                .arg(y)
                                .arg(p[0])
                                .arg(p[1])
                                .arg(p[2])));
      }
  }

  void keepsSymmetry_data() {
    QTest::addColumn<int>("filter");
    QTest::addColumn<QSize>("from");
    QTest::addColumn<QSize>("to");
    for (int f = 0; f < ResampleFilter::Count; ++f) {
      const QByteArray name(kFilterNames[f]);
      QTest::newRow(name + " reduce by 3") << f << QSize(120, 90) << QSize(40, 30);
      QTest::newRow(name + " enlarge by 2") << f << QSize(60, 45) << QSize(120, 90);
      QTest::newRow(name + " odd ratio") << f << QSize(101, 77) << QSize(43, 150);
      // Point sampling by an even factor must pick one of two equally near pixels; that
      // breaks the symmetry by one source pixel by nature, so it sits this one out.
      if (f != ResampleFilter::None) {
        QTest::newRow(name + " reduce by 4") << f << QSize(120, 88) << QSize(30, 22);
      }
    }
  }

  // A picture that is its own mirror image stays so: the sampling grid is centred, not shifted
  // by half a pixel toward either side.
  void keepsSymmetry() {
    QFETCH(int, filter);
    QFETCH(QSize, from);
    QFETCH(QSize, to);
    const QImage out = ResampleImage(MakeSymmetricPicture(from.width(), from.height()), to.width(),
                                     to.height(), filter);
    const QImage mirrored = out.mirrored(true, true);
    QVERIFY2(MaxChannelDifference(out, mirrored) <= 1,
             qPrintable(QStringLiteral("asymmetry %1").arg(MaxChannelDifference(out, mirrored))));
  }

  void keepsCentredFeatureCentred_data() {
    QTest::addColumn<int>("filter");
    QTest::addColumn<bool>("enlarge");
    AddFilterRows(false);
  }

  // A bright 4-pixel square in the middle of a dark picture: its centre of mass stays in the
  // middle of the result.
  void keepsCentredFeatureCentred() {
    QFETCH(int, filter);
    QFETCH(bool, enlarge);
    const int side = enlarge ? 20 : 80;
    QImage source(side, side, QImage::Format_BGR888);
    source.fill(Qt::black);
    for (int y = side / 2 - 2; y < side / 2 + 2; ++y)
      for (int x = side / 2 - 2; x < side / 2 + 2; ++x) memset(source.scanLine(y) + 3 * x, 200, 3);
    const int outSide = enlarge ? 40 : 20;
    const QImage out = ResampleImage(source, outSide, outSide, filter);
    double mass = 0, mx = 0, my = 0;
    for (int y = 0; y < outSide; ++y)
      for (int x = 0; x < outSide; ++x) {
        const int v = out.constScanLine(y)[3 * x + 1];
        mass += v, mx += v * (x + 0.5), my += v * (y + 0.5);
      }
    QVERIFY(mass > 0);
    QVERIFY2(
        std::fabs(mx / mass - outSide / 2.0) < 0.05 && std::fabs(my / mass - outSide / 2.0) < 0.05,
        qPrintable(QStringLiteral("centre %1,%2").arg(mx / mass).arg(my / mass)));
  }

  void ringsNoMoreThanReference_data() {
    QTest::addColumn<int>("filter");
    QTest::addColumn<bool>("enlarge");
    AddFilterRows();
  }

  // At a sharp edge a kernel with negative lobes overshoots; ours may overshoot no further than
  // the exact computation with the same kernel (and kernels without lobes not at all).
  void ringsNoMoreThanReference() {
    QFETCH(int, filter);
    QFETCH(bool, enlarge);
    const QImage source =
        enlarge ? MakeEdgePicture(41, 33, 60, 190) : MakeEdgePicture(161, 131, 60, 190);
    const QSize size = enlarge ? QSize(82, 66) : QSize(40, 32);
    const QImage ours = ResampleImage(source, size.width(), size.height(), filter);
    const QImage reference = ReferenceResample(source, size.width(), size.height(), filter);
    const auto [lo, hi] = MinMax(ours);
    const auto [refLo, refHi] = MinMax(reference);
    QVERIFY2(
        lo >= refLo - 1 && hi <= refHi + 1,
        qPrintable(
            QStringLiteral("ours %1..%2, reference %3..%4").arg(lo).arg(hi).arg(refLo).arg(refHi)));
    if (refLo == 60 && refHi == 190) QVERIFY(lo >= 60 && hi <= 190);
  }

  // An axis that keeps its size is not filtered: vertical stripes reduced only in height stay
  // exactly the same stripes, even with the blurring B-spline.
  void leavesUnchangedAxisAlone() {
    QImage source(64, 48, QImage::Format_BGR888);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) memset(source.scanLine(y) + 3 * x, (x % 3) * 100, 3);
    const QImage out = ResampleImage(source, 64, 17, ResampleFilter::BSpline);
    for (int y = 0; y < out.height(); ++y)
      QVERIFY(memcmp(out.constScanLine(y), source.constScanLine(0), 64 * 3) == 0);
  }

  // The rows are shared out among threads; the result does not depend on how.
  void sameResultOnAnyNumberOfThreads() {
    const QImage source = MakeTestPicture(640, 480);
    SetResampleThreads(1);
    const QImage one = ResampleImage(source, 211, 157, ResampleFilter::Lanczos3);
    SetResampleThreads(3);
    const QImage three = ResampleImage(source, 211, 157, ResampleFilter::Lanczos3);
    SetResampleThreads(0);
    QCOMPARE(MaxChannelDifference(one, three), 0);
  }

  void vectorLoopsGiveTheBytesOfThePlainLoops_data() {
    QTest::addColumn<QSize>("from");
    QTest::addColumn<QSize>("to");
    QTest::addColumn<bool>("grey");
    QTest::addColumn<int>("filter");
    const int lanczos = ResampleFilter::Lanczos3;
    QTest::newRow("both axes, odd width")
        << QSize(1001, 701) << QSize(640, 449) << false << lanczos;
    QTest::newRow("tall thin to wide flat") << QSize(37, 2000) << QSize(400, 3) << false << lanczos;
    QTest::newRow("tiny, enlarged") << QSize(5, 4) << QSize(64, 61) << false << lanczos;
    QTest::newRow("one column") << QSize(1, 90) << QSize(7, 31) << false << lanczos;
    QTest::newRow("height only, whole blocks")
        << QSize(640, 480) << QSize(640, 101) << false << lanczos;
    QTest::newRow("height only, short tail")
        << QSize(641, 480) << QSize(641, 99) << false << lanczos;
    QTest::newRow("width only, odd row count")
        << QSize(300, 199) << QSize(123, 199) << false << lanczos;
    QTest::newRow("grey") << QSize(333, 222) << QSize(100, 77) << true << lanczos;
    QTest::newRow("bicubic") << QSize(500, 300) << QSize(210, 333) << false
                             << int(ResampleFilter::Bicubic);
    QTest::newRow("mitchell") << QSize(260, 260) << QSize(97, 97) << false
                              << int(ResampleFilter::Mitchell);
  }

  // Where the processor has vector instructions the resampler uses them; the pictures must be
  // the same bytes as the plain loops give, edges, odd sizes and clipped overshoots included.
  // Noise with hard edges drives the negative lobes below 0 and above 255.
  void vectorLoopsGiveTheBytesOfThePlainLoops() {
    QFETCH(QSize, from);
    QFETCH(QSize, to);
    QFETCH(bool, grey);
    QFETCH(int, filter);
    QImage source(from, grey ? QImage::Format_Grayscale8 : QImage::Format_BGR888);
    std::uint32_t seed = 12345;
    const int rowBytes = from.width() * (grey ? 1 : 3);
    for (int y = 0; y < from.height(); ++y) {
      uchar* row = source.scanLine(y);
      for (int i = 0; i < rowBytes; ++i) {
        seed = seed * 134775813u + 1;
        row[i] = ((i / 7 + y / 5) % 2) ? uchar(seed >> 24) : (i % 2 ? 255 : 0);
      }
    }
    SetResampleVectorUnits(false);
    const QImage plain = ResampleImage(source, to.width(), to.height(), filter);
    SetResampleVectorUnits(true);
    const QImage vector = ResampleImage(source, to.width(), to.height(), filter);
    QCOMPARE(vector.format(), plain.format());
    QCOMPARE(vector.size(), to);
    for (int y = 0; y < to.height(); ++y) {
      const qsizetype bytes = qsizetype(to.width()) * (grey ? 1 : 3);
      QVERIFY2(memcmp(vector.constScanLine(y), plain.constScanLine(y), size_t(bytes)) == 0,
               qPrintable(QStringLiteral("row %1").arg(y)));
    }
  }

  void resamplesAlphaPlane_data() {
    QTest::addColumn<int>("filter");
    QTest::newRow("Lanczos3") << int(ResampleFilter::Lanczos3);
    QTest::newRow("Nearest") << int(ResampleFilter::Nearest);
  }

  // The alpha plane goes through the same resampling as the colours and stays 8-bit grey.
  void resamplesAlphaPlane() {
    QFETCH(int, filter);
    Picture picture;
    picture.Image = MakeTestPicture(90, 60);
    picture.Alpha = QImage(90, 60, QImage::Format_Grayscale8);
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 90; ++x)
        picture.Alpha.scanLine(y)[x] = uchar((x * 255 / 89) ^ (y & 8 ? 0x30 : 0));
    const QImage alphaAsColour = picture.Alpha.convertToFormat(QImage::Format_BGR888);
    ResamplePicture(picture, 45, 120, filter);
    QCOMPARE(picture.Image.size(), QSize(45, 120));
    QCOMPARE(picture.Alpha.size(), QSize(45, 120));
    QCOMPARE(picture.Alpha.format(), QImage::Format_Grayscale8);
    // A grey picture resampled in colour gives the same values in each channel.
    const QImage expected = ResampleImage(alphaAsColour, 45, 120, filter);
    QCOMPARE(MaxChannelDifference(picture.Alpha.convertToFormat(QImage::Format_BGR888), expected),
             0);
  }

  void derivesMissingDimension_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("0 keeps the width") << QSize(300, 200) << 0 << 50 << QSize(300, 50);
    QTest::newRow("0 keeps the height") << QSize(300, 200) << 70 << 0 << QSize(70, 200);
    QTest::newRow("-1 follows the height") << QSize(300, 200) << -1 << 50 << QSize(75, 50);
    QTest::newRow("-1 follows the width") << QSize(300, 200) << 70 << -1 << QSize(70, 46);
    QTest::newRow("-1 is at least 1") << QSize(2, 300) << -1 << 1 << QSize(1, 1);
  }

  void derivesMissingDimension() {
    QFETCH(QSize, picture);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QSize, expected);
    Picture p;
    p.Image = MakeTestPicture(picture.width(), picture.height());
    ResamplePicture(p, width, height, ResampleFilter::Triangle);
    QCOMPARE(p.Image.size(), expected);
  }

  void refusesBadRequests_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("filter");
    QTest::newRow("unknown filter 12") << 10 << 10 << 12;
    QTest::newRow("unknown filter -1") << 10 << 10 << -1;
    QTest::newRow("zero width") << 0 << 10 << 1;
    QTest::newRow("negative height") << 10 << -5 << 1;
    QTest::newRow("beyond the side limit") << 40000 << 10 << 1;
    QTest::newRow("beyond the pixel limit") << 30000 << 30000 << 1;
  }

  void refusesBadRequests() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, filter);
    const QImage source = MakeTestPicture(20, 20);
    QVERIFY_THROWS_EXCEPTION(PictureError, ResampleImage(source, width, height, filter));
    QVERIFY_THROWS_EXCEPTION(PictureError, ResampleImage(QImage(), 10, 10, 1));
  }

  // Pictures in other forms (after a colour reduction, say) come back as 24-bit pictures.
  void convertsOtherFormats() {
    const QImage indexed = MakeTestPicture(40, 30).convertToFormat(QImage::Format_Indexed8);
    const QImage out = ResampleImage(indexed, 20, 15, ResampleFilter::Triangle);
    QCOMPARE(out.format(), QImage::Format_BGR888);
    QCOMPARE(out.size(), QSize(20, 15));
  }
};

QTEST_GUILESS_MAIN(TestResample)
#include "tst_Resample.moc"
