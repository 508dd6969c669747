#include <QThreadPool>
#include <QtTest>
#include <atomic>

#include "common/TestSupport.h"
#include "imaging/PictureIO.h"
#include "imaging/Resample.h"
#include "texteffects/uFont.h"
#include "watermark/ExifValues.h"
#include "watermark/TextWatermark.h"
#include "watermark/Watermark.h"

namespace {

// Macro values whose texts are easy to tell apart.
WatermarkMacroValues MarkedValues() {
  WatermarkMacroValues v;
  v.DateNow = QStringLiteral("<date>");
  v.TimeNow = QStringLiteral("<time>");
  v.PathUpper = QStringLiteral("<PATH>");
  v.PathLower = QStringLiteral("<path>");
  v.ExifDateTime = QStringLiteral("<exif-date>");
  v.ExifCopyright = QStringLiteral("<copyright>");
  v.ExifAperture = QStringLiteral("2.97");
  v.ExifShutterSpeed = QStringLiteral("5.643856");
  return v;
}

}  // namespace

class TestTextWatermark : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void ExpandsMacros_data();
  void ExpandsMacros();
  void MacroValuesOfThePicture_data();
  void MacroValuesOfThePicture();
  void ReadsExifOfARealPhoto();
  void HostileExifGivesEmptyValues_data();
  void HostileExifGivesEmptyValues();
  void FormatsNumbers_data();
  void FormatsNumbers();
  void DefaultWatermarkEndsAtTheCorner();
  void BoxFollowsTheAngleAndFont();
  void FontOfTheJob();
  void DrawsNothingForEmptyTextOrNoOpacity_data();
  void DrawsNothingForEmptyTextOrNoOpacity();
  void ShadowIsBlackAtHalfTheOpacity();
  void StampsARealPhoto();
  void SamePicturesFromSeveralThreadsAtOnce();

 private:
  QTemporaryDir Dir;
  QString ExifPhoto;  // a real photo carrying EXIF date-time, copyright, aperture, shutter speed
};

void TestTextWatermark::initTestCase() {
  QVERIFY(Dir.isValid());
  ExifPhoto = Dir.filePath(QStringLiteral("Garden-exif.jpg"));
  // Pillow writes the EXIF block, independently of our reader.
  const ProcessResult r =
      RunPython(QStringLiteral(R"(
import sys
from PIL import Image, TiffImagePlugin
R = TiffImagePlugin.IFDRational
im = Image.open(sys.argv[1])
ex = Image.Exif()
ex[306] = '2021:06:01 10:20:30'
ex[33432] = 'Jane Doe {$EX}'
ex[0x8769] = {36867: '2021:06:01 10:20:30', 33437: R(28, 10), 37378: R(297, 100),
              33434: R(1, 50), 37377: R(5643856, 1000000)}
im.save(sys.argv[2], quality=90, exif=ex)
)"),
                {SourceDir() + QStringLiteral("/examples/Garden.jpg"), ExifPhoto});
  QVERIFY2(r.ExitCode == 0, r.Err.constData());
}

void TestTextWatermark::ExpandsMacros_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("expected");
  QTest::newRow("every macro")
      << "{$DN} {$TN} {$FU} {$FL} {$ED} {$EC} {$EX} {$ES}"
      << "<date> <time> <PATH> <path> <exif-date> <copyright> 2.97 5.643856";
  QTest::newRow("twice") << "{$DN}-{$DN}"
                         << "<date>-<date>";
  QTest::newRow("lower case is no macro") << "{$dn} {$Ex}"
                                          << "{$dn} {$Ex}";
  QTest::newRow("no macro") << "Your Watermarking"
                            << "Your Watermarking";
  QTest::newRow("adjacent") << "{$EX}{$ES}"
                            << "2.975.643856";
  QTest::newRow("broken") << "{$EX} {$E} $EX}"
                          << "2.97 {$E} $EX}";
  QTest::newRow("empty") << ""
                         << "";
}

void TestTextWatermark::ExpandsMacros() {
  QFETCH(QString, text);
  QFETCH(QString, expected);
  QCOMPARE(ExpandWatermarkMacros(text, MarkedValues()), expected);
}

void TestTextWatermark::MacroValuesOfThePicture_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("expected");
  // A later macro is found in a value put in by an earlier one, never the other way round, and
  // a value is not searched again for its own macro.
  QTest::newRow("copyright holding {$EX}") << "{$EC}"
                                           << "by {$DN} 2.97";
  QTest::newRow("path holding {$ED}") << "{$FU}"
                                      << "/PHOTOS/<exif-date>/ÄB.JPG";
  QTest::newRow("path lower") << "{$FL}"
                              << "/photos/{$ed}/Äb.jpg";
}

void TestTextWatermark::MacroValuesOfThePicture() {
  QFETCH(QString, text);
  QFETCH(QString, expected);
  WatermarkMacroValues v = MarkedValues();
  v.ExifCopyright = QStringLiteral("by {$DN} {$EX}");
  const QString path = QStringLiteral("/Photos/{$ED}/Äb.jpg");
  const WatermarkMacroValues real = WatermarkMacroValuesFor(path, {});
  v.PathUpper = real.PathUpper;
  v.PathLower = real.PathLower;
  QCOMPARE(ExpandWatermarkMacros(text, v), expected);
}

void TestTextWatermark::ReadsExifOfARealPhoto() {
  const Picture photo = ReadPicture(ExifPhoto);
  QVERIFY(!photo.Params.Exif.isEmpty());
  const QDateTime moment(QDate(2026, 12, 11), QTime(13, 5, 9));
  const QLocale us(QLocale::English, QLocale::UnitedStates);
  const WatermarkMacroValues v = WatermarkMacroValuesFor(ExifPhoto, photo.Params.Exif, moment, us);
  QCOMPARE(v.ExifDateTime, QStringLiteral("2021:06:01 10:20:30"));
  QCOMPARE(v.ExifCopyright, QStringLiteral("Jane Doe {$EX}"));
  QCOMPARE(v.ExifAperture, QStringLiteral("2.97"));
  QCOMPARE(v.ExifShutterSpeed, QStringLiteral("5.643856"));
  QCOMPARE(v.DateNow, QStringLiteral("12/11/26"));
  QCOMPARE(v.TimeNow, QStringLiteral("1:05:09 PM"));  // the long format without its zone
  QCOMPARE(ExpandWatermarkMacros(QStringLiteral("{$ED} f{$EX} {$EC}"), v),
           QStringLiteral("2021:06:01 10:20:30 f2.97 Jane Doe 2.97"));

  // A German desktop writes the decimal comma and its own date order.
  const QLocale de(QLocale::German, QLocale::Germany);
  const WatermarkMacroValues g = WatermarkMacroValuesFor(ExifPhoto, photo.Params.Exif, moment, de);
  QCOMPARE(g.ExifAperture, QStringLiteral("2,97"));
  QCOMPARE(g.DateNow, QStringLiteral("11.12.26"));
  QCOMPARE(g.TimeNow, QStringLiteral("13:05:09"));

  // With the APP1 prefix still in front, the block reads the same.
  const ExifValues prefixed = ReadExifValues(QByteArray("Exif\0\0", 6) + photo.Params.Exif);
  QCOMPARE(prefixed.DateTime, QStringLiteral("2021:06:01 10:20:30"));

  // A photo without EXIF: empty texts and 0 for the numbers.
  const Picture plain = ReadPicture(SourceDir() + QStringLiteral("/examples/Garden.jpg"));
  const WatermarkMacroValues n = WatermarkMacroValuesFor(QString(), plain.Params.Exif, moment, us);
  QCOMPARE(ExpandWatermarkMacros(QStringLiteral("Photo {$EC}|f {$EX}|{$ES}|{$ED}"), n),
           QStringLiteral("Photo |f 0|0|"));

  // A camera's own EXIF block (values as Pillow reads them); its missing copyright stays
  // missing rather than being made up.
  const Picture storm = ReadPicture(SourceDir() + QStringLiteral("/examples/Storm.jpg"));
  const ExifValues s = ReadExifValues(storm.Params.Exif);
  QCOMPARE(s.DateTime, QStringLiteral("2008:04:20 19:12:06"));
  QCOMPARE(s.Copyright, QString());
  QCOMPARE(s.Aperture, 3.614715576171875);
  QCOMPARE(s.ShutterSpeed, 1.321929931640625);
  QCOMPARE(FormatExifNumber(s.Aperture, us), QStringLiteral("3.61471557617188"));
}

void TestTextWatermark::HostileExifGivesEmptyValues_data() {
  QTest::addColumn<QByteArray>("exif");
  QTest::newRow("empty") << QByteArray();
  QTest::newRow("garbage") << QByteArray("not an exif block at all");
  QTest::newRow("header only") << QByteArray("II*\0", 4);
  QTest::newRow("IFD offset past the end") << QByteArray("II*\0\xff\xff\xff\x7f", 8);
  // One IFD entry: DateTime, ASCII, count 0x7fffffff at an offset far past the end.
  QTest::newRow("huge count") << QByteArray(
      "MM\0*\0\0\0\x08\0\x01\x01\x32\0\x02\x7f\xff\xff\xff\0\0\0\x1a\0\0\0\0", 26);
  // One IFD entry: ApertureValue as RATIONAL with a zero denominator.
  QTest::newRow("zero denominator") << QByteArray(
      "MM\0*\0\0\0\x08\0\x01\x92\x02\0\x05\0\0\0\x01\0\0\0\x1a\0\0\0\0\0\0\0\x07\0\0\0\0", 34);
}

void TestTextWatermark::HostileExifGivesEmptyValues() {
  QFETCH(QByteArray, exif);
  const ExifValues v = ReadExifValues(exif);
  QCOMPARE(v.DateTime, QString());
  QCOMPARE(v.Copyright, QString());
  QCOMPARE(v.Aperture, 0.0);
  QCOMPARE(v.ShutterSpeed, 0.0);
  // Every truncation of a real block is survived too.
  const QByteArray real = ReadPicture(ExifPhoto).Params.Exif;
  for (qsizetype n = 0; n < real.size(); n += 3) ReadExifValues(real.left(n));
}

void TestTextWatermark::FormatsNumbers_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<QString>("expected");
  QTest::newRow("2.97") << 2.97 << "2.97";
  QTest::newRow("shutter") << 5.643856 << "5.643856";
  QTest::newRow("zero") << 0.0 << "0";
  QTest::newRow("negative zero") << -0.0 << "0";
  QTest::newRow("whole") << 4.0 << "4";
  QTest::newRow("15 digits") << 1.0 / 3.0 << "0.333333333333333";
  QTest::newRow("no group separator") << 12345.5 << "12345.5";
  QTest::newRow("negative") << -1.5 << "-1.5";
}

void TestTextWatermark::FormatsNumbers() {
  QFETCH(double, value);
  QFETCH(QString, expected);
  QCOMPARE(FormatExifNumber(value, QLocale(QLocale::English, QLocale::UnitedStates)), expected);
}

void TestTextWatermark::DefaultWatermarkEndsAtTheCorner() {
  const WatermarkFont font;  // Arial, 28 pt, white, bold
  const QString text = QStringLiteral("Your Watermarking");
  const QSize box = TextWatermarkSize(text, 0, font);
  // 28 pt at 96 pixels per inch is a 37-pixel font: the line is a little taller than that,
  // plus 2 for the shadow.
  QVERIFY2(box.height() >= 39 && box.height() <= 50, qPrintable(QString::number(box.height())));
  QVERIFY(box.width() > 200 && box.width() < 400);

  // Drawn at the top left and at the bottom right, the ink is the same shape, moved by exactly
  // (640 - w, 480 - h).
  Picture topLeft = SolidPicture(640, 480, Qt::black);
  Picture bottomRight = SolidPicture(640, 480, Qt::black);
  const QImage blank = topLeft.Image.copy();
  QVERIFY(AddTextWatermark(topLeft, text, 60, 0, 1, font, QString()));
  QVERIFY(AddTextWatermark(bottomRight, text, 60, 0, 9, font, QString()));
  const QRect a = ChangedRect(blank, topLeft.Image);
  const QRect b = ChangedRect(blank, bottomRight.Image);
  QVERIFY(!a.isEmpty());
  QVERIFY(QRect(QPoint(0, 0), box).contains(a));
  QCOMPARE(b, a.translated(640 - box.width(), 480 - box.height()));
  QCOMPARE(bottomRight.Image.copy(b), topLeft.Image.copy(a));
  // The ink, shadow included, reaches close to the box's far edges (the last letter's side
  // bearing and the line's descent leave a few pixels).
  QVERIFY(b.right() >= 640 - 8 && b.bottom() >= 480 - 8);
}

void TestTextWatermark::BoxFollowsTheAngleAndFont() {
  WatermarkFont font;
  const QString text = QStringLiteral("Upward text");
  const QSize flat = TextWatermarkSize(text, 0, font);
  const QSize turned = TextWatermarkSize(text, 90, font);
  QVERIFY(turned.height() > turned.width());
  // The turned box is the flat text box turned, with the shadow's 2 pixels added each way.
  QVERIFY(qAbs((turned.height() - 2) - (flat.width() - 2)) <= 1);
  QVERIFY(qAbs((turned.width() - 2) - (flat.height() - 2)) <= 1);

  // Size in points; a larger size and the regular weight change the box.
  WatermarkFont big = font;
  big.Size = 56;
  QVERIFY(TextWatermarkSize(text, 0, big).width() > flat.width() * 3 / 2);
  WatermarkFont regular = font;
  regular.Style = 0;
  QVERIFY(TextWatermarkSize(text, 0, regular).width() < flat.width());

  QCOMPARE(TextWatermarkSize(QString(), 0, font), QSize(0, 0));

  // Turned 90 degrees on a picture, the ink is taller than wide and ends at the corner.
  Picture picture = SolidPicture(300, 400, Qt::black);
  const QImage blank = picture.Image.copy();
  QVERIFY(AddTextWatermark(picture, text, 100, 90, 9, font, QString()));
  const QRect ink = ChangedRect(blank, picture.Image);
  QVERIFY(ink.height() > ink.width());
  QVERIFY(QRect(300 - turned.width(), 400 - turned.height(), turned.width(), turned.height())
              .contains(ink));
}

void TestTextWatermark::FontOfTheJob() {
  // 28 points are 37 pixels: the watermark box is that of a 37-pixel bold line with the shadow.
  const QString text = QStringLiteral("Your Watermarking");
  TextCanvas canvas;
  canvas.Font.Name = QStringLiteral("Arial");
  canvas.Font.Height = 37;
  canvas.Font.Weight = kWeightBold;
  TIAFontEx engine(&canvas);
  engine.SetQuality(0);
  engine.Effect().Shadow().SetEnabled(true);
  engine.Effect().Shadow().SetOffsetX(2);
  engine.Effect().Shadow().SetOffsetY(2);
  QCOMPARE(TextWatermarkSize(text, 0, WatermarkFont()), engine.TextExtent(text));

  // A job's pitch counts 1 variable, 2 fixed: an unknown face with the fixed pitch falls back
  // to a fixed-pitch face, where narrow and wide letters take the same room.
  WatermarkFont fixed;
  fixed.Name = QStringLiteral("No Such Face Anywhere");
  fixed.Style = 0;
  fixed.Pitch = 2;
  QCOMPARE(TextWatermarkSize(QStringLiteral("iiii"), 0, fixed).width(),
           TextWatermarkSize(QStringLiteral("MMMM"), 0, fixed).width());
  WatermarkFont variable = fixed;
  variable.Pitch = 1;
  QVERIFY(TextWatermarkSize(QStringLiteral("iiii"), 0, variable).width() <
          TextWatermarkSize(QStringLiteral("MMMM"), 0, variable).width());
}

void TestTextWatermark::DrawsNothingForEmptyTextOrNoOpacity_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("transparence");
  QTest::newRow("empty") << "" << 60;
  QTest::newRow("missing copyright only") << "{$EC}" << 60;
  QTest::newRow("missing date-time and copyright") << "{$ED}{$EC}" << 100;
  QTest::newRow("opacity 0") << "Your Watermarking" << 0;
}

void TestTextWatermark::DrawsNothingForEmptyTextOrNoOpacity() {
  QFETCH(QString, text);
  QFETCH(int, transparence);
  Picture picture;
  picture.Image = MakeTestPicture(320, 200);
  const QImage before = picture.Image.copy();
  QVERIFY(AddTextWatermark(picture, text, transparence, 0, 9, WatermarkFont(), QString()));
  QCOMPARE(picture.Image, before);
}

void TestTextWatermark::ShadowIsBlackAtHalfTheOpacity() {
  // On mid grey, white text at opacity 80 lightens and its black shadow at 40 darkens; at full
  // opacity the text's inside is pure white.
  WatermarkFont font;
  font.Size = 40;
  Picture picture = SolidPicture(400, 120, QColor(128, 128, 128));
  QVERIFY(AddTextWatermark(picture, QStringLiteral("HI"), 100, 0, 1, font, QString()));
  int white = 0, darkest = 255;
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x) {
      const QColor c = picture.Image.pixelColor(x, y);
      QCOMPARE(c.red(), c.green());  // white and black on grey stay grey
      QCOMPARE(c.green(), c.blue());
      if (c.red() == 255) ++white;
      darkest = qMin(darkest, c.red());
    }
  QVERIFY(white > 50);
  // The shadow at opacity 50 over 128 gives about 64.
  QVERIFY2(darkest >= 60 && darkest <= 68, qPrintable(QString::number(darkest)));

  Picture faint = SolidPicture(400, 120, QColor(128, 128, 128));
  QVERIFY(AddTextWatermark(faint, QStringLiteral("HI"), 80, 0, 1, font, QString()));
  int brightest = 0;
  darkest = 255;
  for (int y = 0; y < faint.Height(); ++y)
    for (int x = 0; x < faint.Width(); ++x) {
      const int v = faint.Image.pixelColor(x, y).red();
      brightest = qMax(brightest, v);
      darkest = qMin(darkest, v);
    }
  // Text at 80 %: 128 + 127 x 0.8 = about 229; shadow at 40 %: 128 x 0.6 = about 77.
  QVERIFY2(brightest >= 225 && brightest <= 233, qPrintable(QString::number(brightest)));
  QVERIFY2(darkest >= 73 && darkest <= 81, qPrintable(QString::number(darkest)));
}

void TestTextWatermark::StampsARealPhoto() {
  // The default text watermark (white bold 28 pt Arial, opacity 60, bottom right) with the
  // photo's own EXIF values, saved for looking at.
  Picture photo = ReadPicture(ExifPhoto);
  const QImage before = photo.Image.copy();
  const QString text = QStringLiteral("Your Watermarking f{$EX}");
  QVERIFY(AddTextWatermark(photo, text, 60, 0, 9, WatermarkFont(), ExifPhoto));
  const QSize box =
      TextWatermarkSize(QStringLiteral("Your Watermarking f2.97"), 0, WatermarkFont());
  const QRect ink = ChangedRect(before, photo.Image);
  QVERIFY(
      QRect(photo.Width() - box.width(), photo.Height() - box.height(), box.width(), box.height())
          .contains(ink));
  QVERIFY(ink.width() > box.width() * 3 / 4);
  // The macros took the photo's own aperture: the same as drawing the expanded text.
  Picture reference = ReadPicture(ExifPhoto);
  DrawTextWatermark(reference, QStringLiteral("Your Watermarking f2.97"), 60, 0, 9,
                    WatermarkFont());
  QCOMPARE(photo.Image, reference.Image);
  WritePicture(photo, QStringLiteral("/tmp/h9-watermark-text.png"));

  Picture turned = ReadPicture(SourceDir() + QStringLiteral("/examples/LadyBird.jpg"));
  QVERIFY(AddTextWatermark(turned, QStringLiteral("{$FL}"), 80, 30, 5, WatermarkFont(),
                           QStringLiteral("/Photos/LadyBird.JPG")));
  WritePicture(turned, QStringLiteral("/tmp/h9-watermark-turned.png"));
  Picture turnedReference = ReadPicture(SourceDir() + QStringLiteral("/examples/LadyBird.jpg"));
  DrawTextWatermark(turnedReference, QStringLiteral("/photos/ladybird.jpg"), 80, 30, 5,
                    WatermarkFont());
  QCOMPARE(turned.Image, turnedReference.Image);
}

void TestTextWatermark::SamePicturesFromSeveralThreadsAtOnce() {
  // A batch run works on several pictures at once, one per worker thread: decoding with DCT
  // scaling, resampling on the worker's own thread, the text watermark (fonts, the mask and
  // blend, the EXIF macros) and encoding (JPEG and PNG). Every worker must produce exactly the
  // bytes that the same work gives on its own.
  struct Job {
    QString Path;
    QString Text;
    int Angle;
    int Position;
    QSize Size;
    int Color = WatermarkFont().Color;
  };
  const QString examples = SourceDir() + QStringLiteral("/examples/");
  const QList<Job> jobs = {
      {ExifPhoto, QStringLiteral("Your Watermarking f{$EX} {$ES}"), 0, 9, QSize(320, 240)},
      {examples + QStringLiteral("LadyBird.jpg"), QStringLiteral("{$FU}"), 30, 5, QSize(300, 260)},
      {examples + QStringLiteral("Storm.jpg"), QStringLiteral("Your Watermarking"), -45, 1,
       QSize(400, 300)},
      {examples + QStringLiteral("YellowFlower.jpg"), QStringLiteral("{$EC}Quillomar"), 0, 7,
       QSize(250, 250), static_cast<int>(kSystemColorWindowText)},
  };
  const auto work = [](const Job& job) {
    const QByteArray file = ReadAll(job.Path);
    ReadOptions options;
    options.ScaleDenominator = 2;
    const ByteView data(reinterpret_cast<const std::uint8_t*>(file.constData()),
                        std::size_t(file.size()));
    Picture picture = ReadPictureFromMemory(data, QStringLiteral("jpg"), options);
    SetResampleThreadsForThisThread(1);
    ResamplePicture(picture, job.Size.width(), job.Size.height(), ResampleFilter::Lanczos3);
    WatermarkFont font;
    font.Color = job.Color;
    AddTextWatermark(picture, job.Text, 60, job.Angle, job.Position, font, job.Path);
    picture.Params.JpegQuality = 80;
    picture.Params.PngLevel = 1;
    return EncodePicture(picture, QStringLiteral(".jpg")) +
           EncodePicture(picture, QStringLiteral(".png"));
  };

  QList<QByteArray> expected;
  for (const Job& job : jobs) expected << work(job);

  QThreadPool pool;
  pool.setMaxThreadCount(int(jobs.size()));
  constexpr int kRounds = 3;
  QList<QByteArray> results(jobs.size() * kRounds);
  std::atomic<int> failures{0};
  for (int round = 0; round < kRounds; ++round) {
    for (qsizetype i = 0; i < jobs.size(); ++i) {
      pool.start([&, round, i] {
        try {
          results[round * jobs.size() + i] = work(jobs[i]);
        } catch (...) {
          ++failures;
        }
      });
    }
  }
  pool.waitForDone();
  QCOMPARE(failures.load(), 0);
  for (qsizetype i = 0; i < results.size(); ++i) {
    QVERIFY2(!expected[i % jobs.size()].isEmpty(), qPrintable(jobs[i % jobs.size()].Path));
    QVERIFY2(results[i] == expected[i % jobs.size()], qPrintable(jobs[i % jobs.size()].Path));
  }
}

QTEST_MAIN(TestTextWatermark)
#include "tst_TextWatermark.moc"
