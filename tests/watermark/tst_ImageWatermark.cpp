#include <QtTest>

#include "common/TestSupport.h"
#include "imaging/PictureIO.h"
#include "texteffects/TextCanvas.h"
#include "watermark/Watermark.h"

class TestImageWatermark : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void LandsAtItsPosition_data();
  void LandsAtItsPosition();
  void ClipsAtTheEdges();
  void OpacityAndLogoAlpha_data();
  void OpacityAndLogoAlpha();
  void KeyingIsExact();
  void KeysASystemColour();
  void ReadsOtherFormatsAndKeepsTheirTransparency_data();
  void ReadsOtherFormatsAndKeepsTheirTransparency();
  void BadLogoLeavesThePicture_data();
  void BadLogoLeavesThePicture();
  void DefaultLogoOnAPhoto();

 private:
  QTemporaryDir Dir;
  // Writes an image with Qt's own writers (independent of the picture library).
  QString Save(const QImage& image, const QString& name) {
    const QString path = Dir.filePath(name);
    if (!image.save(path)) qFatal("cannot write %s", qPrintable(path));
    return path;
  }
};

void TestImageWatermark::initTestCase() { QVERIFY(Dir.isValid()); }

void TestImageWatermark::LandsAtItsPosition_data() {
  QTest::addColumn<QSize>("logoSize");
  QTest::addColumn<int>("position");
  QTest::addColumn<QRect>("expected");  // the changed part of the picture
  QTest::newRow("5 middle center") << QSize(100, 50) << 5 << QRect(270, 215, 100, 50);
  QTest::newRow("9 bottom right") << QSize(100, 50) << 9 << QRect(540, 430, 100, 50);
  QTest::newRow("3 top right") << QSize(100, 50) << 3 << QRect(540, 0, 100, 50);
  QTest::newRow("2 odd width") << QSize(101, 50) << 2 << QRect(269, 0, 101, 50);
  QTest::newRow("1 top left") << QSize(100, 50) << 1 << QRect(0, 0, 100, 50);
  QTest::newRow("-1 random, as large") << QSize(640, 480) << -1 << QRect(0, 0, 640, 480);
}

void TestImageWatermark::LandsAtItsPosition() {
  QFETCH(QSize, logoSize);
  QFETCH(int, position);
  QFETCH(QRect, expected);
  QImage logo(logoSize, QImage::Format_RGB32);
  logo.fill(QColor(200, 30, 60));
  const QString path = Save(logo, QStringLiteral("logo.png"));

  Picture picture = SolidPicture(640, 480, Qt::black);
  const QImage before = picture.Image.copy();
  ImageLogoOptions options;
  options.Transparence = 100;
  options.Position = position;
  QVERIFY(AddImageWatermark(picture, path, options));
  QCOMPARE(picture.Image.format(), QImage::Format_BGR888);
  QCOMPARE(ChangedRect(before, picture.Image), expected);
  QCOMPARE(picture.Image.pixelColor(expected.center()), QColor(200, 30, 60));
}

void TestImageWatermark::ClipsAtTheEdges() {
  // Each logo column carries its own index in red, so the column that lands on the picture's
  // first column shows where the logo started.
  QImage logo(651, 20, QImage::Format_ARGB32);
  for (int x = 0; x < logo.width(); ++x)
    for (int y = 0; y < logo.height(); ++y) logo.setPixel(x, y, qRgb(x % 256, 10, 20));
  const QString path = Save(logo, QStringLiteral("wide.png"));

  Picture picture = SolidPicture(640, 480, Qt::black);
  ImageLogoOptions options;
  options.Transparence = 100;
  options.Position = 2;  // dx = -11: x = -5
  QVERIFY(AddImageWatermark(picture, path, options));
  QCOMPARE(picture.Image.pixelColor(0, 0).red(), 5);
  QCOMPARE(picture.Image.pixelColor(639, 19).red(), (639 + 5) % 256);
  QCOMPARE(picture.Image.pixelColor(0, 20), QColor(Qt::black));

  // Far off the picture (a logo larger than the picture at the bottom right of a tiny one).
  Picture tiny = SolidPicture(3, 2, Qt::black);
  options.Position = 9;
  QVERIFY(AddImageWatermark(tiny, path, options));
  QCOMPARE(tiny.Image.pixelColor(0, 0).red(), 648 % 256);  // dx = -648
}

void TestImageWatermark::OpacityAndLogoAlpha_data() {
  QTest::addColumn<int>("transparence");
  QTest::addColumn<int>("logoAlpha");
  QTest::addColumn<QColor>("expected");  // logo (250, 100, 0) over picture (50, 100, 200)
  QTest::newRow("0 changes nothing") << 0 << 255 << QColor(50, 100, 200);
  QTest::newRow("100 copies") << 100 << 255 << QColor(250, 100, 0);
  // m = 153: red 50 + 200 * 153 / 255 = 170; blue 200 - 200 * 153 / 255 = 80.
  QTest::newRow("60") << 60 << 255 << QColor(170, 100, 80);
  // m = 204: a = 204; red 50 + 200 * 204 / 255 = 210; blue 200 - 160 = 40.
  QTest::newRow("80") << 80 << 255 << QColor(210, 100, 40);
  // The logo's own alpha 128 at full opacity: a = 128; red 50 + 25600 / 255 = 150;
  // blue 200 - 100 = 100 (truncated toward zero).
  QTest::newRow("logo alpha 128") << 100 << 128 << QColor(150, 100, 100);
  // a = 128 * 153 / 255 = 76: red 50 + 15200 / 255 = 109; blue 200 - 59 = 141.
  QTest::newRow("both") << 60 << 128 << QColor(109, 100, 141);
  QTest::newRow("logo alpha 0") << 100 << 0 << QColor(50, 100, 200);
  // Out-of-range opacities are held to 0..100.
  QTest::newRow("above 100") << 250 << 255 << QColor(250, 100, 0);
  QTest::newRow("negative") << -5 << 255 << QColor(50, 100, 200);
}

void TestImageWatermark::OpacityAndLogoAlpha() {
  QFETCH(int, transparence);
  QFETCH(int, logoAlpha);
  QFETCH(QColor, expected);
  QImage logo(10, 10, QImage::Format_ARGB32);
  logo.fill(qRgba(250, 100, 0, logoAlpha));
  const QString path = Save(logo, QStringLiteral("alpha.png"));

  Picture picture = SolidPicture(30, 20, QColor(50, 100, 200));
  ImageLogoOptions options;
  options.Transparence = transparence;
  options.Position = 1;
  QVERIFY(AddImageWatermark(picture, path, options));
  QCOMPARE(picture.Image.pixelColor(5, 5), expected);
  QCOMPARE(picture.Image.pixelColor(15, 5), QColor(50, 100, 200));
}

void TestImageWatermark::KeyingIsExact() {
  // A white logo with a one-off pixel in each channel and a black dot.
  QImage logo(8, 4, QImage::Format_RGB32);
  logo.fill(Qt::white);
  logo.setPixel(1, 1, qRgb(254, 255, 255));
  logo.setPixel(2, 1, qRgb(255, 254, 255));
  logo.setPixel(3, 1, qRgb(255, 255, 254));
  logo.setPixel(4, 1, qRgb(0, 0, 0));
  const QString path = Save(logo, QStringLiteral("white.png"));

  const QColor ground(40, 80, 120);
  ImageLogoOptions options;
  options.Transparence = 100;
  options.Position = 1;
  options.RemoveBackground = true;
  options.BackgroundColor = RgbToColor(255, 255, 255);
  Picture keyed = SolidPicture(8, 4, ground);
  QVERIFY(AddImageWatermark(keyed, path, options));
  QCOMPARE(keyed.Image.pixelColor(0, 0), ground);
  QCOMPARE(keyed.Image.pixelColor(7, 3), ground);
  QCOMPARE(keyed.Image.pixelColor(1, 1), QColor(254, 255, 255));
  QCOMPARE(keyed.Image.pixelColor(2, 1), QColor(255, 254, 255));
  QCOMPARE(keyed.Image.pixelColor(3, 1), QColor(255, 255, 254));
  QCOMPARE(keyed.Image.pixelColor(4, 1), QColor(Qt::black));

  // Without removal, the white background is stamped as a white rectangle.
  options.RemoveBackground = false;
  Picture plain = SolidPicture(8, 4, ground);
  QVERIFY(AddImageWatermark(plain, path, options));
  QCOMPARE(plain.Image.pixelColor(0, 0), QColor(Qt::white));
  QCOMPARE(plain.Image.pixelColor(7, 3), QColor(Qt::white));

  // The colour value has red in its lowest byte: keying blue must not key red.
  QImage redBlue(2, 1, QImage::Format_ARGB32);
  redBlue.setPixel(0, 0, qRgb(255, 0, 0));
  redBlue.setPixel(1, 0, qRgb(0, 0, 255));
  RemoveBackgroundColor(redBlue, RgbToColor(0, 0, 255));
  QCOMPARE(qAlpha(redBlue.pixel(0, 0)), 255);
  QCOMPARE(redBlue.pixel(1, 0), qRgba(0, 0, 255, 0));  // colour bytes kept, alpha 0
}

void TestImageWatermark::KeysASystemColour() {
  const QRgb resolved = ColorToRgb(kSystemColorWindowText);
  QImage logo(2, 1, QImage::Format_ARGB32);
  logo.setPixel(0, 0, resolved | 0xFF000000u);
  logo.setPixel(1, 0, qRgb(qRed(resolved) ^ 1, qGreen(resolved), qBlue(resolved)));
  RemoveBackgroundColor(logo, kSystemColorWindowText);
  QCOMPARE(qAlpha(logo.pixel(0, 0)), 0);
  QCOMPARE(qAlpha(logo.pixel(1, 0)), 255);
}

void TestImageWatermark::ReadsOtherFormatsAndKeepsTheirTransparency_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<bool>("keepsAlpha");
  QTest::newRow("png with alpha") << "logo.png" << true;
  QTest::newRow("bmp") << "logo.bmp" << false;
  QTest::newRow("tif") << "logo.tif" << true;
  // The reader detects the format from the content, whatever the extension says.
  QTest::newRow("png named .jpg") << "png-inside.jpg" << true;
}

void TestImageWatermark::ReadsOtherFormatsAndKeepsTheirTransparency() {
  QFETCH(QString, name);
  QFETCH(bool, keepsAlpha);
  // Left half opaque green, right half fully transparent green.
  QImage logo(20, 10, QImage::Format_ARGB32);
  logo.fill(qRgba(0, 255, 0, 255));
  for (int y = 0; y < 10; ++y)
    for (int x = 10; x < 20; ++x) logo.setPixel(x, y, qRgba(0, 255, 0, 0));
  QString path;
  if (name.endsWith(QLatin1String(".jpg"))) {
    path = Dir.filePath(name);
    QVERIFY(logo.save(path, "PNG"));
  } else if (name.endsWith(QLatin1String(".tif"))) {
    // Qt may lack a TIFF writer: let Pillow write it.
    path = Dir.filePath(name);
    const QString png = Save(logo, QStringLiteral("for-tif.png"));
    const ProcessResult r = RunPython(
        QStringLiteral(
            "import sys\nfrom PIL import Image\nImage.open(sys.argv[1]).save(sys.argv[2])"),
        {png, path});
    QVERIFY2(r.ExitCode == 0, r.Err.constData());
  } else {
    path = Save(logo, name);
  }

  Picture picture = SolidPicture(20, 10, Qt::red);
  ImageLogoOptions options;
  options.Transparence = 100;
  options.Position = 1;
  QVERIFY(AddImageWatermark(picture, path, options));
  QCOMPARE(picture.Image.pixelColor(2, 2), QColor(Qt::green));
  QCOMPARE(picture.Image.pixelColor(15, 2), keepsAlpha ? QColor(Qt::red) : QColor(Qt::green));
}

void TestImageWatermark::BadLogoLeavesThePicture_data() {
  QTest::addColumn<QByteArray>("content");  // empty name: no file at all
  QTest::addColumn<QString>("name");
  QTest::newRow("missing") << QByteArray() << QString();
  QTest::newRow("empty path") << QByteArray() << QStringLiteral("<empty>");
  QTest::newRow("zero-length") << QByteArray("") << QStringLiteral("zero.png");
  QTest::newRow("not a picture") << QByteArray("hello, world\n") << QStringLiteral("text.png");
  QTest::newRow("truncated png") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10", 20)
                                 << QStringLiteral("cut.png");
  QTest::newRow("absurd size") << QByteArray(
                                      "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\x7f\xff\xff\xff"
                                      "\x7f\xff\xff\xff\x08\x06\0\0\0\0\0\0\0",
                                      33)
                               << QStringLiteral("huge.png");
  QTest::newRow("a folder") << QByteArray() << QStringLiteral("<folder>");
}

void TestImageWatermark::BadLogoLeavesThePicture() {
  QFETCH(QByteArray, content);
  QFETCH(QString, name);
  QString path;
  if (name == QLatin1String("<empty>")) {
    path = QString();
  } else if (name == QLatin1String("<folder>")) {
    path = Dir.path();
  } else if (name.isEmpty()) {
    path = Dir.filePath(QStringLiteral("no-such-logo.png"));
  } else {
    path = Dir.filePath(name);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
  }
  Picture picture;
  picture.Image = MakeTestPicture(64, 48);
  const QImage before = picture.Image.copy();
  QVERIFY(!AddImageWatermark(picture, path));
  QVERIFY(!AddImageWatermark(picture, path, ImageLogoOptions{}));
  QCOMPARE(picture.Image, before);
}

void TestImageWatermark::DefaultLogoOnAPhoto() {
  const QString logoPath = SourceDir() + QStringLiteral("/data/Data/dontcopy.png");
  const QImage logo = ReadLogo(logoPath);
  QVERIFY(!logo.isNull());
  // The default logo lets the picture show through: it has transparent and partly
  // transparent pixels.
  bool transparent = false, partial = false;
  for (int y = 0; y < logo.height(); ++y)
    for (int x = 0; x < logo.width(); ++x) {
      const int a = qAlpha(logo.pixel(x, y));
      transparent |= a == 0;
      partial |= a > 0 && a < 255;
    }
  QVERIFY(transparent && partial);

  Picture photo = ReadPicture(SourceDir() + QStringLiteral("/examples/Garden.jpg"));
  const QImage before = photo.Image.copy();
  QVERIFY(AddImageWatermark(photo, logoPath));  // default options: 60 %, bottom right
  const QRect changed = ChangedRect(before, photo.Image);
  QVERIFY(!changed.isEmpty());
  const QRect box(photo.Width() - logo.width(), photo.Height() - logo.height(), logo.width(),
                  logo.height());
  QVERIFY2(box.contains(changed), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                 .arg(changed.x())
                                                 .arg(changed.y())
                                                 .arg(changed.width())
                                                 .arg(changed.height())));
  // Saved for looking at.
  WritePicture(photo, QStringLiteral("/tmp/h9-watermark-logo.png"));
}

QTEST_GUILESS_MAIN(TestImageWatermark)
#include "tst_ImageWatermark.moc"
