// Resize geometry: the Fill size arithmetic in extended precision, Cut's canvas alignment,
// ChangeDpi's rounding, and the field coupling and presets of the Resize page.

#include <QtTest>

#include "common/TestSupport.h"
#include "imaging/Resample.h"
#include "transforms/ResizeCoupling.h"
#include "transforms/ResizeGeometry.h"

namespace {

// A picture whose every pixel tells where it came from: blue = x, green = y, red = 77.
QImage MakeCoordinatePicture(int width, int height) {
  QImage image(width, height, QImage::Format_BGR888);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uchar* p = image.scanLine(y) + 3 * x;
      p[0] = uchar(x), p[1] = uchar(y), p[2] = 77;
    }
  return image;
}

}  // namespace

class TestResizeGeometry : public QObject {
  Q_OBJECT

 private slots:
  void fillSize_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<int>("type");
    QTest::addColumn<QSize>("expected");
    // 640 / 600 rounded to a 64-bit significand lies just above 16/15, so 480 divided by it
    // truncates to 449; 53-bit doubles would give 450.
    QTest::newRow("width 600 of 640x480")
        << QSize(640, 480) << QSize(600, 480) << 2 << QSize(600, 449);
    QTest::newRow("width 640 of 2592x1944")
        << QSize(2592, 1944) << QSize(640, 480) << 2 << QSize(640, 479);
    QTest::newRow("width 800 of 1920x1080")
        << QSize(1920, 1080) << QSize(800, 600) << 2 << QSize(800, 449);
    QTest::newRow("height 720 of 1024x768")
        << QSize(1024, 768) << QSize(640, 720) << 1 << QSize(959, 720);
    QTest::newRow("exact quotients")
        << QSize(4000, 3000) << QSize(1024, 9) << 2 << QSize(1024, 768);
    QTest::newRow("both, proportions change")
        << QSize(4000, 3000) << QSize(300, 700) << 0 << QSize(300, 700);
    QTest::newRow("box turns to a portrait")
        << QSize(1944, 2592) << QSize(640, 480) << 3 << QSize(479, 640);
    QTest::newRow("box fits exactly") << QSize(800, 600) << QSize(640, 480) << 3 << QSize(640, 480);
    QTest::newRow("height is the tighter bound")
        << QSize(640, 480) << QSize(600, 450) << 3 << QSize(599, 450);
    QTest::newRow("square picture, no swap")
        << QSize(500, 500) << QSize(300, 200) << 3 << QSize(200, 200);
    QTest::newRow("square box, no swap")
        << QSize(300, 200) << QSize(400, 400) << 3 << QSize(400, 266);
    QTest::newRow("landscape picture, portrait box")
        << QSize(300, 200) << QSize(100, 600) << 3 << QSize(150, 100);
    QTest::newRow("smaller picture is enlarged")
        << QSize(32, 24) << QSize(640, 480) << 3 << QSize(640, 480);
    QTest::newRow("computed 0 keeps the height")
        << QSize(10000, 5) << QSize(100, 100) << 2 << QSize(100, 5);
    QTest::newRow("computed 0 keeps the width")
        << QSize(5, 10000) << QSize(100, 100) << 1 << QSize(5, 100);
    QTest::newRow("unknown type acts as 3")
        << QSize(800, 600) << QSize(320, 320) << 7 << QSize(320, 240);
  }

  void fillSize() {
    QFETCH(QSize, picture);
    QFETCH(QSize, box);
    QFETCH(int, type);
    QFETCH(QSize, expected);
    QCOMPARE(FillSize(picture.width(), picture.height(), box.width(), box.height(), type),
             expected);
  }

  void fillToSize_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("width 600 of 640x480")
        << QSize(640, 480) << QSize(600, 100) << 2 << true << QSize(600, 449);
    QTest::newRow("extreme shape")
        << QSize(10000, 5) << QSize(100, 100) << 2 << true << QSize(100, 5);
    QTest::newRow("no type selected acts as 3")
        << QSize(480, 640) << QSize(64, 40) << -1 << true << QSize(40, 53);
    QTest::newRow("width below 2") << QSize(40, 30) << QSize(1, 100) << 0 << false << QSize(40, 30);
    QTest::newRow("height below 2")
        << QSize(40, 30) << QSize(100, 0) << 0 << false << QSize(40, 30);
    QTest::newRow("result beyond the limits")
        << QSize(30000, 2) << QSize(9999, 9999) << 1 << false << QSize(30000, 2);
  }

  void fillToSize() {
    QFETCH(QSize, picture);
    QFETCH(QSize, box);
    QFETCH(int, type);
    QFETCH(bool, result);
    QFETCH(QSize, expected);
    Picture p;
    p.Image = MakeTestPicture(picture.width(), picture.height());
    QCOMPARE(FillToSize(p, box.width(), box.height(), type, ResampleFilter::Lanczos3), result);
    QCOMPARE(p.Image.size(), expected);
  }

  // No filter selected resamples as "Nearest(recommend)"; the alpha plane follows.
  void fillDefaultsToNearestAndKeepsAlpha() {
    Picture p;
    p.Image = MakeTestPicture(90, 60);
    p.Alpha = QImage(90, 60, QImage::Format_Grayscale8);
    p.Alpha.fill(100);
    QVERIFY(FillToSize(p, 30, 30, 2, -1));
    QCOMPARE(p.Image.size(), QSize(30, 20));
    QCOMPARE(p.Alpha.size(), QSize(30, 20));
    QCOMPARE(MaxChannelDifference(
                 p.Image, ResampleImage(MakeTestPicture(90, 60), 30, 20, ResampleFilter::Nearest)),
             0);
  }

  void cutToSize_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("canvas");
    QTest::addColumn<int>("align");
    QTest::addColumn<int>("valign");
    QTest::addColumn<QPoint>("offset");  // where the old pixel (0, 0) lands
    auto row = [](const char* name, QSize picture, QSize canvas, int align, int valign, QPoint at) {
      QTest::newRow(name) << picture << canvas << align << valign << at;
    };
    row("centre drops the odd last column", {101, 50}, {100, 50}, 1, 0, {0, 0});
    row("centre pads the odd column on the right", {99, 50}, {100, 50}, 1, 0, {0, 0});
    row("centre grows by 3", {97, 50}, {100, 50}, 1, 0, {1, 0});
    row("centre shrinks by 3", {103, 50}, {100, 50}, 1, 0, {-1, 0});
    row("middle grows by 5", {20, 40}, {20, 45}, 0, 1, {0, 2});
    row("middle shrinks by 5", {20, 45}, {20, 40}, 0, 1, {0, -2});
    row("left and top grow", {30, 20}, {50, 35}, 0, 0, {0, 0});
    row("left and top shrink", {50, 35}, {30, 20}, 0, 0, {0, 0});
    row("right and bottom grow", {30, 20}, {50, 35}, 2, 2, {20, 15});
    row("right and bottom shrink", {50, 35}, {30, 20}, 2, 2, {-20, -15});
    row("width grows while height shrinks", {30, 40}, {41, 25}, 1, 2, {5, -15});
    row("nothing selected counts as left and top", {30, 20}, {50, 35}, -1, -1, {0, 0});
    row("same size", {30, 20}, {30, 20}, 1, 1, {0, 0});
  }

  // Every canvas pixel is either the old pixel that the offset brings there or opaque white.
  void cutToSize() {
    QFETCH(QSize, picture);
    QFETCH(QSize, canvas);
    QFETCH(int, align);
    QFETCH(int, valign);
    QFETCH(QPoint, offset);
    Picture p;
    p.Image = MakeCoordinatePicture(picture.width(), picture.height());
    p.Alpha = QImage(picture, QImage::Format_Grayscale8);
    p.Alpha.fill(40);
    QVERIFY(CutToSize(p, canvas.width(), canvas.height(), align, valign));
    QCOMPARE(p.Image.size(), canvas);
    QCOMPARE(p.Image.format(), QImage::Format_BGR888);
    QCOMPARE(p.Alpha.size(), canvas);
    for (int y = 0; y < canvas.height(); ++y)
      for (int x = 0; x < canvas.width(); ++x) {
        const int sx = x - offset.x();
        const int sy = y - offset.y();
        const bool inside = sx >= 0 && sy >= 0 && sx < picture.width() && sy < picture.height();
        const uchar* px = p.Image.constScanLine(y) + 3 * x;
        const uchar alpha = p.Alpha.constScanLine(y)[x];
        if (inside) {
          QVERIFY2(px[0] == sx && px[1] == sy && px[2] == 77 && alpha == 40,
                   qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        } else {
          QVERIFY2(px[0] == 255 && px[1] == 255 && px[2] == 255 && alpha == 255,
                   qPrintable(QStringLiteral("new pixel %1,%2").arg(x).arg(y)));
        }
      }
  }

  void cutRefusesTinyTargets_data() {
    QTest::addColumn<QSize>("canvas");
    QTest::newRow("width 1") << QSize(1, 50);
    QTest::newRow("height 0") << QSize(50, 0);
    QTest::newRow("negative") << QSize(-3, -3);
    QTest::newRow("beyond the limits") << QSize(40000, 40000);
  }

  void cutRefusesTinyTargets() {
    QFETCH(QSize, canvas);
    Picture p;
    p.Image = MakeCoordinatePicture(20, 10);
    QVERIFY(!CutToSize(p, canvas.width(), canvas.height(), 1, 1));
    QCOMPARE(p.Image.size(), QSize(20, 10));
    QVERIFY(!p.HasAlpha());
  }

  void changeDpi_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<int>("dpiX");
    QTest::addColumn<int>("dpiY");
    QTest::addColumn<int>("newDpi");
    QTest::addColumn<QSize>("expected");
    QTest::addColumn<int>("expectedDpiX");
    QTest::addColumn<int>("expectedDpiY");
    QTest::newRow("72 to 300 dpi")
        << QSize(100, 720) << 72 << 72 << 300 << QSize(416, 3000) << 300 << 300;
    QTest::newRow("300 to 72 dpi")
        << QSize(640, 480) << 300 << 300 << 72 << QSize(153, 115) << 72 << 72;
    QTest::newRow("height tie rounds down to even")
        << QSize(10, 5) << 4 << 4 << 2 << QSize(4, 2) << 2 << 2;
    QTest::newRow("height tie rounds up to even")
        << QSize(10, 7) << 4 << 4 << 2 << QSize(5, 4) << 2 << 2;
    QTest::newRow("unequal resolutions, dpiX tie to even")
        << QSize(300, 200) << 150 << 100 << 75 << QSize(225, 150) << 112 << 75;
    QTest::newRow("unequal resolutions, dpiX tie up")
        << QSize(300, 200) << 300 << 200 << 5 << QSize(7, 5) << 8 << 5;
    QTest::newRow("same resolution")
        << QSize(64, 48) << 96 << 96 << 96 << QSize(64, 48) << 96 << 96;
    QTest::newRow("unknown vertical resolution")
        << QSize(64, 48) << 96 << 0 << 300 << QSize(64, 48) << 96 << 0;
    QTest::newRow("unknown horizontal resolution")
        << QSize(64, 48) << 0 << 96 << 300 << QSize(64, 48) << 0 << 96;
    QTest::newRow("height never reaches 0")
        << QSize(2, 1) << 300 << 300 << 2 << QSize(2, 1) << 2 << 2;
  }

  // The picture is resampled with the Triangle filter to the rounded new height and the width
  // in proportion; the resolution follows.
  void changeDpi() {
    QFETCH(QSize, picture);
    QFETCH(int, dpiX);
    QFETCH(int, dpiY);
    QFETCH(int, newDpi);
    QFETCH(QSize, expected);
    QFETCH(int, expectedDpiX);
    QFETCH(int, expectedDpiY);
    Picture p;
    const QImage original = MakeTestPicture(picture.width(), picture.height());
    p.Image = original;
    p.Params.DpiX = dpiX;
    p.Params.DpiY = dpiY;
    ChangeDpi(p, newDpi);
    QCOMPARE(p.Image.size(), expected);
    QCOMPARE(p.Params.DpiX, expectedDpiX);
    QCOMPARE(p.Params.DpiY, expectedDpiY);
    QCOMPARE(
        MaxChannelDifference(p.Image, ResampleImage(original, expected.width(), expected.height(),
                                                    ResampleFilter::Triangle)),
        0);
  }

  void coupling_data() {
    QTest::addColumn<bool>("fromWidth");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("coupled");
    QTest::addColumn<int>("field");
    QTest::newRow("width 6: 4.5 rounds to even") << true << 6 << 4 << 4;
    QTest::newRow("width 10: 7.5 rounds to even") << true << 10 << 8 << 8;
    QTest::newRow("width 2: 1.5 rounds to even") << true << 2 << 2 << 2;
    QTest::newRow("width 640") << true << 640 << 480 << 480;
    QTest::newRow("height 3") << false << 3 << 4 << 4;
    QTest::newRow("height 480") << false << 480 << 640 << 640;
    QTest::newRow("height 9999 asks too much") << false << 9999 << 13332 << 9999;
  }

  void coupling() {
    QFETCH(bool, fromWidth);
    QFETCH(int, value);
    QFETCH(int, coupled);
    QFETCH(int, field);
    const int got = fromWidth ? CoupledHeight(value) : CoupledWidth(value);
    QCOMPARE(got, coupled);
    QCOMPARE(ClampToSizeField(got), field);
    // Unset references (0) mean 640 and 480.
    QCOMPARE(fromWidth ? CoupledHeight(value, 0, 0) : CoupledWidth(value, 0, 0), coupled);
  }

  void presets_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("Avatar") << 1 << QSize(100, 75);
    QTest::newRow("Thumbnail") << 2 << QSize(160, 120);
    QTest::newRow("Website/Email") << 3 << QSize(320, 240);
    QTest::newRow("Message Board") << 4 << QSize(640, 480);
    QTest::newRow("15 inch screen") << 5 << QSize(800, 600);
    QTest::newRow("17 inch screen") << 6 << QSize(1024, 768);
    QTest::newRow("no such preset 0") << 0 << QSize();
    QTest::newRow("no such preset 7") << 7 << QSize();
  }

  void presets() {
    QFETCH(int, number);
    QFETCH(QSize, expected);
    QCOMPARE(SizePreset(number), expected);
  }
};

QTEST_GUILESS_MAIN(TestResizeGeometry)
#include "tst_ResizeGeometry.moc"
