// Colour reduction to N colours and black-and-white dithering.

#include <QtTest>
#include <cmath>

#include "common/TestSupport.h"
#include "imaging/ColorReduce.h"
#include "imaging/Dither.h"

namespace {

// A picture of exactly `colors` colours, spread in blocks over the picture.
QImage PictureWithColours(int colors, int width = 67, int height = 41) {
  QImage image(width, height, QImage::Format_BGR888);
  for (int y = 0; y < height; ++y) {
    uchar* p = image.scanLine(y);
    for (int x = 0; x < width; ++x) {
      const int c = ((y / 3) * width + x) % colors;
      p[3 * x] = uchar(c * 37 % 256);
      p[3 * x + 1] = uchar(c * 11 % 256);
      p[3 * x + 2] = uchar(c / 2);
    }
  }
  return image;
}

// Mean over the 8 x 8 blocks of the largest channel difference of the block averages, in
// channel levels: how far a reduced picture is from the source when seen from a distance.
double MeanBlockDifference(const QImage& a, const QImage& b) {
  const QImage ra = a.convertToFormat(QImage::Format_RGB888);
  const QImage rb = b.convertToFormat(QImage::Format_RGB888);
  double total = 0;
  int blocks = 0;
  for (int by = 0; by + 8 <= ra.height(); by += 8) {
    for (int bx = 0; bx + 8 <= ra.width(); bx += 8) {
      double worst = 0;
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        for (int y = by; y < by + 8; ++y)
          for (int x = bx; x < bx + 8; ++x)
            sum += ra.constScanLine(y)[3 * x + c] - rb.constScanLine(y)[3 * x + c];
        worst = std::max(worst, std::abs(sum / 64));
      }
      total += worst;
      ++blocks;
    }
  }
  return total / blocks;
}

bool IndicesWithinPalette(const QImage& indexed) {
  for (int y = 0; y < indexed.height(); ++y)
    for (int x = 0; x < indexed.width(); ++x)
      if (indexed.constScanLine(y)[x] >= indexed.colorCount()) return false;
  return true;
}

}  // namespace

class TestColorReduce : public QObject {
  Q_OBJECT

 private slots:
  void paletteFitsTheCount_data() {
    QTest::addColumn<int>("colors");
    QTest::addColumn<bool>("dither");
    for (int colors : {4, 8, 16, 32, 64, 128, 256}) {
      QTest::addRow("%d dithered", colors) << colors << true;
      QTest::addRow("%d plain", colors) << colors << false;
    }
  }

  void paletteFitsTheCount() {
    QFETCH(int, colors);
    QFETCH(bool, dither);
    const QImage photo = MakeTestPicture(203, 151);
    const QImage reduced = ReduceColors(photo, colors, dither);
    QCOMPARE(reduced.format(), QImage::Format_Indexed8);
    QCOMPARE(reduced.size(), photo.size());
    QVERIFY(reduced.colorCount() >= 2);
    QVERIFY(reduced.colorCount() <= colors);
    QVERIFY(IndicesWithinPalette(reduced));
  }

  // A picture that already fits the palette is kept exactly, whatever the dithering.
  void fewColoursKeptExactly_data() {
    QTest::addColumn<int>("present");
    QTest::addColumn<int>("colors");
    QTest::newRow("2 of 2") << 2 << 2;
    QTest::newRow("4 of 16") << 4 << 16;
    QTest::newRow("100 of 128") << 100 << 128;
    QTest::newRow("256 of 256") << 256 << 256;
  }

  void fewColoursKeptExactly() {
    QFETCH(int, present);
    QFETCH(int, colors);
    const QImage source = PictureWithColours(present);
    QCOMPARE(CountColors(source, 256), present);
    const QImage reduced = ReduceColors(source, colors, true);
    QCOMPARE(reduced.format(), QImage::Format_Indexed8);
    QCOMPARE(reduced.colorCount(), present);
    QCOMPARE(reduced.convertToFormat(QImage::Format_BGR888), source);
  }

  // One colour more than allowed: quantised, within the count.
  void oneColourTooMany() {
    const QImage source = PictureWithColours(17);
    const QImage reduced = ReduceColors(source, 16, false);
    QVERIFY(reduced.colorCount() <= 16);
    QVERIFY(MaxChannelDifference(reduced, source) > 0);
  }

  // Error diffusion keeps the local average of the picture: block averages stay closer to the
  // source than with each pixel mapped to its nearest colour, and with 256 colours they are
  // within a few levels.
  void ditheringKeepsTheAverage_data() {
    QTest::addColumn<int>("colors");
    QTest::addColumn<double>("limit");
    QTest::newRow("8") << 8 << 40.0;
    QTest::newRow("32") << 32 << 16.0;
    QTest::newRow("256") << 256 << 3.0;
  }

  void ditheringKeepsTheAverage() {
    QFETCH(int, colors);
    QFETCH(double, limit);
    const QImage photo = MakeTestPicture(256, 192);
    const double dithered = MeanBlockDifference(photo, ReduceColors(photo, colors, true));
    const double plain = MeanBlockDifference(photo, ReduceColors(photo, colors, false));
    QVERIFY2(dithered < limit, qPrintable(QString::number(dithered)));
    QVERIFY2(dithered < plain, qPrintable(QStringLiteral("%1 vs %2").arg(dithered).arg(plain)));
  }

  void otherInputFormatsAndLimits() {
    QVERIFY(ReduceColors(QImage(), 16).isNull());
    const QImage argb = MakeTestPicture(40, 30).convertToFormat(QImage::Format_ARGB32);
    const QImage reduced = ReduceColors(argb, 1);  // clamped to 2
    QCOMPARE(reduced.format(), QImage::Format_Indexed8);
    QVERIFY(reduced.colorCount() <= 2);
    QVERIFY(ReduceColors(argb, 1000).colorCount() <= 256);
  }

  // Ordered dithering: a flat grey gives the matching share of white pixels, black and white
  // stay as they are, odd widths keep their last pixels.
  void ditherToBlackAndWhite_data() {
    QTest::addColumn<int>("grey");
    QTest::addColumn<int>("width");
    for (int grey : {0, 1, 64, 128, 200, 254, 255}) QTest::addRow("grey %d", grey) << grey << 64;
    QTest::newRow("odd width") << 128 << 13;
  }

  void ditherToBlackAndWhite() {
    QFETCH(int, grey);
    QFETCH(int, width);
    QImage flat(width, 16, QImage::Format_BGR888);
    flat.fill(QColor(grey, grey, grey));
    const QImage mono = DitherToBlackAndWhite(flat);
    QCOMPARE(mono.format(), QImage::Format_Mono);
    QCOMPARE(mono.size(), flat.size());
    QCOMPARE(mono.colorTable(), (QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)}));
    int white = 0;
    for (int y = 0; y < mono.height(); ++y)
      for (int x = 0; x < width; ++x) white += mono.pixelIndex(x, y);
    const double share = double(white) / (width * 16);
    if (grey == 0) QCOMPARE(white, 0);
    if (grey == 255) QCOMPARE(white, width * 16);
    QVERIFY2(std::abs(share - grey / 255.0) <= (width % 8 ? 0.1 : 1.0 / 64 + 1e-9),
             qPrintable(QString::number(share)));

    const QImage back = MonoToBgr(mono);
    QCOMPARE(back.format(), QImage::Format_BGR888);
    for (int y = 0; y < mono.height(); ++y)
      for (int x = 0; x < width; ++x)
        QCOMPARE(back.pixel(x, y), mono.pixelIndex(x, y) ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
  }

  void ditherUsesLuminance() {
    // Pure green is bright (0.587), pure blue dark (0.114): far more white pixels for green.
    QImage green(32, 32, QImage::Format_BGR888), blue(32, 32, QImage::Format_BGR888);
    green.fill(QColor(0, 255, 0));
    blue.fill(QColor(0, 0, 255));
    auto whiteShare = [](const QImage& mono) {
      int white = 0;
      for (int y = 0; y < mono.height(); ++y)
        for (int x = 0; x < mono.width(); ++x) white += mono.pixelIndex(x, y);
      return double(white) / (mono.width() * mono.height());
    };
    QVERIFY(std::abs(whiteShare(DitherToBlackAndWhite(green)) - 0.587) < 0.02);
    QVERIFY(std::abs(whiteShare(DitherToBlackAndWhite(blue)) - 0.114) < 0.02);
    QVERIFY(DitherToBlackAndWhite(QImage()).isNull());
    QVERIFY(MonoToBgr(QImage()).isNull());
  }
};

QTEST_GUILESS_MAIN(TestColorReduce)
#include "tst_ColorReduce.moc"
