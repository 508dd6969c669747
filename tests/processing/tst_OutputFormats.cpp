#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "common/TestSupport.h"
#include "processing/FileOperations.h"
#include "processing/OutputFormats.h"
#include "util/Errors.h"

// The output format table, extensions, file names, colour depths, encoder options, folders
// and file times.
class TestOutputFormats : public QObject {
  Q_OBJECT

 private:
  static JobSettings Settings(JobField field, int value, int format) {
    JobSettings s = JobSettings::Defaults(QStringLiteral("/app/"));
    s.SetInt(JobField::OutputFormat, format);
    s.SetInt(field, value);
    return s;
  }

 private slots:
  void FormatTable_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<int>("type");
    QTest::newRow("JPG") << 0 << ".jpg" << 3;
    QTest::newRow("BMP") << 1 << ".bmp" << 5;
    QTest::newRow("PNG") << 2 << ".png" << 8;
    QTest::newRow("TIF") << 3 << ".tif" << 1;
    QTest::newRow("GIF") << 4 << ".gif" << 2;
    QTest::newRow("PCX") << 5 << ".pcx" << 4;
    QTest::newRow("TGA") << 6 << ".tga" << 11;
    QTest::newRow("nothing selected is JPG") << -1 << ".jpg" << 3;
    QTest::newRow("beyond the list is JPG") << 7 << ".jpg" << 3;
  }
  void FormatTable() {
    QFETCH(int, index);
    QFETCH(QString, extension);
    QFETCH(int, type);
    QCOMPARE(OutputExtension(index), extension);
    QCOMPARE(OutputFileType(index), type);
    QCOMPARE(TempPicturePath(QStringLiteral("/app/"), index),
             QStringLiteral("/app/Temp") + extension);
  }

  void ChangeExtension_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("expected");
    QTest::newRow("longer extension") << "newname_00001.jpeg"
                                      << ".png"
                                      << "newname_00001.png";
    QTest::newRow("several dots") << "a.b.c.jpg"
                                  << ".tif"
                                  << "a.b.c.tif";
    QTest::newRow("no dot") << "name"
                            << ".jpg"
                            << "name.jpg";
    QTest::newRow("case kept") << "x.jpg"
                               << ".JPG"
                               << "x.JPG";
  }
  void ChangeExtension() {
    QFETCH(QString, name);
    QFETCH(QString, extension);
    QTEST(::ChangeExtension(name, extension), "expected");
  }

  void SafeFileName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "photo 1.jpg"
                           << "photo 1.jpg";
    QTest::newRow("slash") << "../../etc/passwd"
                           << ".._.._etc_passwd";
    QTest::newRow("backslash") << "..\\up.jpg"
                               << ".._up.jpg";
    QTest::newRow("dot dot") << ".."
                             << "__";
    QTest::newRow("control") << QStringLiteral("a\nb.jpg") << "a_b.jpg";
  }
  void SafeFileName() {
    QFETCH(QString, name);
    QTEST(::SafeFileName(name), "expected");
  }

  void EncoderOptions_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("field");
    QTest::addColumn<int>("choice");
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("tiff");
    const int q = int(JobField::JPEGQuality), p = int(JobField::PNGComp),
              t = int(JobField::TIFFComp);
    // Start values: quality 50, level 6, TIFF kind LZW (5).
    QTest::newRow("jpeg 75") << 3 << q << 13 << 75 << 6 << 5;
    QTest::newRow("jpeg 100") << 3 << q << 18 << 100 << 6 << 5;
    QTest::newRow("png 0") << 8 << p << 0 << 50 << 0 << 5;
    QTest::newRow("png none keeps") << 8 << p << -1 << 50 << 6 << 5;
    QTest::newRow("tiff none") << 1 << t << 0 << 50 << 6 << 0;
    QTest::newRow("tiff packbits is 8") << 1 << t << 6 << 50 << 6 << 8;
    QTest::newRow("tiff nothing keeps") << 1 << t << -1 << 50 << 6 << 5;
    QTest::newRow("bmp nothing") << 5 << q << 0 << 50 << 6 << 5;
  }
  void EncoderOptions() {
    QFETCH(int, type);
    QFETCH(int, field);
    QFETCH(int, choice);
    Picture picture;
    picture.Params.JpegQuality = 50;
    picture.Params.PngLevel = 6;
    picture.Params.TiffCompressionKind = TiffCompression::Lzw;
    SetEncoderOptions(picture, type, Settings(JobField(field), choice, 0));
    QTEST(picture.Params.JpegQuality, "quality");
    QTEST(picture.Params.PngLevel, "level");
    QTEST(picture.Params.TiffCompressionKind, "tiff");
  }

  void JpegQualityWithoutSelectionThrows() {
    Picture picture;
    QVERIFY_THROWS_EXCEPTION(QuillomarError,
                             SetEncoderOptions(picture, 3, Settings(JobField::JPEGQuality, -1, 0)));
  }

  void ColorDepth_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("field");
    QTest::addColumn<int>("choice");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("maxColors");  // 0: pixels unchanged
    const int b = int(JobField::BmpColor), g = int(JobField::GIFColor), p = int(JobField::PCXColor),
              t = int(JobField::TGAColor);
    QTest::newRow("bmp original") << 1 << b << 0 << 8 << 3 << 0;
    QTest::newRow("bmp black and white") << 1 << b << 1 << 1 << 1 << 2;
    QTest::newRow("bmp 16") << 1 << b << 2 << 4 << 1 << 16;
    QTest::newRow("bmp 256") << 1 << b << 3 << 8 << 1 << 256;
    QTest::newRow("bmp true colour of 24-bit") << 1 << b << 4 << 8 << 3 << 0;
    QTest::newRow("gif 4") << 4 << g << 2 << 2 << 1 << 4;
    QTest::newRow("gif 128") << 4 << g << 7 << 7 << 1 << 128;
    QTest::newRow("gif nothing selected") << 4 << g << -1 << 8 << 3 << 0;
    QTest::newRow("pcx 256") << 5 << p << 1 << 8 << 1 << 256;
    QTest::newRow("tga true colour") << 6 << t << 2 << 8 << 3 << 0;
    QTest::newRow("jpg ignores the bmp list") << 0 << b << 1 << 8 << 3 << 0;
  }
  void ColorDepth() {
    QFETCH(int, format);
    QFETCH(int, field);
    QFETCH(int, choice);
    QFETCH(int, maxColors);
    Picture picture;
    picture.Image = MakeTestPicture(64, 48);
    const QImage before = picture.Image;
    const bool changed = ApplyColorDepth(picture, Settings(JobField(field), choice, format));
    QTEST(picture.Params.BitsPerSample, "bits");
    QTEST(picture.Params.SamplesPerPixel, "samples");
    QCOMPARE(changed, maxColors != 0);
    if (maxColors == 0) {
      QCOMPARE(picture.Image, before);
    } else {
      QCOMPARE(picture.Image.size(), before.size());
      QVERIFY(picture.Image.colorCount() > 0 && picture.Image.colorCount() <= maxColors);
    }
  }

  void TrueColorRestoresAOneBitPicture() {
    Picture picture;
    picture.Image = MakeTestPicture(16, 16);
    ApplyColorDepth(picture, Settings(JobField::BmpColor, 1, 1));
    QCOMPARE(picture.Image.format(), QImage::Format_Mono);
    QVERIFY(ApplyColorDepth(picture, Settings(JobField::BmpColor, 4, 1)));
    QCOMPARE(picture.Image.format(), QImage::Format_BGR888);
  }

  void CreateFolderPathMakesEveryLevel() {
    QTemporaryDir dir;
    const QString base = dir.path() + QLatin1Char('/');
    CreateFolderPath(base, QStringLiteral("x/y/z/"));
    QVERIFY(QFileInfo(base + QStringLiteral("x/y/z")).isDir());
    // A missing base: nothing is created, nothing is reported.
    CreateFolderPath(base + QStringLiteral("gone/"), QStringLiteral("a/"));
  }

  void FileTimesUseTwoSecondResolution() {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.jpg"));
    const QString output = dir.filePath(QStringLiteral("output.jpg"));
    for (const QString& path : {source, output}) {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("data");
    }
    const QDateTime original(QDate(2024, 5, 17), QTime(14, 3, 27));
    {
      QFile f(source);
      QVERIFY(f.open(QIODevice::Append));
      QVERIFY(f.setFileTime(original, QFileDevice::FileModificationTime));
    }
    const QDateTime read = ReadFileTime(source, kCreationTime);
    QCOMPARE(read, QDateTime(QDate(2024, 5, 17), QTime(14, 3, 26)));
    QCOMPARE(WriteFileTime(output, kCreationTime, read), 0);
    QCOMPARE(WriteFileTime(output, kLastWriteTime, read), 0);
    QCOMPARE(QFileInfo(output).lastModified(), read);
    QFile check(output);
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), QByteArray("data"));

    QVERIFY(!ReadFileTime(dir.path(), kCreationTime).isValid());
    QVERIFY(!ReadFileTime(dir.filePath(QStringLiteral("missing")), kCreationTime).isValid());
    QVERIFY(!ToPackedFileTime(QDateTime(QDate(1979, 12, 31), QTime(23, 0))).isValid());
    QVERIFY(WriteFileTime(dir.filePath(QStringLiteral("missing")), kLastWriteTime, read) != 0);
    QVERIFY(WriteFileTime(output, kLastWriteTime, QDateTime()) != 0);
  }
};

QTEST_GUILESS_MAIN(TestOutputFormats)
#include "tst_OutputFormats.moc"
