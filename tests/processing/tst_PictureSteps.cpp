#include <QTemporaryDir>
#include <QtTest>

#include "common/TestSupport.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"
#include "imaging/ResampleKernels.h"
#include "processing/PictureSteps.h"
#include "transforms/ResizeGeometry.h"

namespace {

JobSettings FitJob() {
  JobSettings job = JobSettings::Defaults(QStringLiteral("/app/"));
  job.SetOn(JobField::ResizeChecked, true);
  job.SetInt(JobField::RsMode, 1);
  job.SetInt(JobField::RsType, 3);
  job.SetInt(JobField::RsWidth, 640);
  job.SetInt(JobField::RsHeight, 480);
  job.SetInt(JobField::Filter, ResampleFilter::Lanczos3);
  job.SetOn(JobField::ChangeDPI, false);
  job.SetOn(JobField::WatermarkChecked, false);
  return job;
}

}  // namespace

// Shrink-on-load: a JPEG that the resize will reduce is decoded reduced, and the result has the
// size and (nearly) the pixels of a whole decode.
class TestPictureSteps : public QObject {
  Q_OBJECT

 private slots:
  void ShrinkOnLoadDenominator_data() {
    QTest::addColumn<int>("fileType");
    QTest::addColumn<QSize>("stored");
    QTest::addColumn<QString>("change");  // one settings key=value on top of the fit job
    QTest::addColumn<int>("denominator");
    const int jpeg = PictureFileType::Jpeg;
    QTest::newRow("24 MP into 640x480") << jpeg << QSize(6000, 4000) << "" << 8;
    QTest::newRow("portrait: the box turns") << jpeg << QSize(4000, 6000) << "" << 8;
    QTest::newRow("exactly 4 times the target") << jpeg << QSize(2560, 1600) << "" << 4;
    QTest::newRow("one pixel more rounds up") << jpeg << QSize(2561, 1601) << "" << 4;
    QTest::newRow("just short of 8 times: 639 < 640") << jpeg << QSize(5111, 3199) << "" << 4;
    QTest::newRow("less than twice the target") << jpeg << QSize(1000, 700) << "" << 1;
    QTest::newRow("both sides of the box (type 0)") << jpeg << QSize(6000, 4000) << "RsType=0" << 8;
    QTest::newRow("type 0 needs the taller side") << jpeg << QSize(6000, 1900) << "RsType=0" << 2;
    QTest::newRow("enlarging") << jpeg << QSize(600, 400) << "" << 1;
    QTest::newRow("PNG is read whole") << int(PictureFileType::Png) << QSize(6000, 4000) << "" << 1;
    QTest::newRow("no resize") << jpeg << QSize(6000, 4000) << "ResizeChecked=0" << 1;
    QTest::newRow("cut") << jpeg << QSize(6000, 4000) << "RsMode=0" << 1;
    QTest::newRow("DPI change first") << jpeg << QSize(6000, 4000) << "ChangeDPI=1" << 1;
    QTest::newRow("unreadable header") << jpeg << QSize(0, 0) << "" << 1;
  }
  void ShrinkOnLoadDenominator() {
    QFETCH(int, fileType);
    QFETCH(QSize, stored);
    QFETCH(QString, change);
    JobSettings job = FitJob();
    if (!change.isEmpty()) {
      const QStringList kv = change.split(QLatin1Char('='));
      QVERIFY(job.SetFromSettingsText(FindField(kv[0])->Id, kv[1]));
    }
    HeaderFacts facts;
    facts.FileType = fileType;
    facts.Width = stored.width();
    facts.Height = stored.height();
    QTEST(::ShrinkOnLoadDenominator(facts, job), "denominator");
  }

  // Sizes whose reductions round up on one side or both; a 4:2:0 photo.
  void ReducedDecodeGivesTheWholeDecodesSize_data() {
    QTest::addColumn<QSize>("stored");
    QTest::addColumn<QSize>("decoded");
    QTest::newRow("by 2, odd sizes") << QSize(2001, 1251) << QSize(1001, 626);
    QTest::newRow("by 4, odd sizes") << QSize(2563, 1603) << QSize(641, 401);
    QTest::newRow("by 8, portrait") << QSize(3203, 5123) << QSize(401, 641);
  }
  void ReducedDecodeGivesTheWholeDecodesSize() {
    QFETCH(QSize, stored);
    QFETCH(QSize, decoded);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.jpg"));
    // A real photo enlarged by Pillow, so that the JPEG is an ordinary camera-like file.
    const ProcessResult made = RunPython(
        QStringLiteral("import sys\nfrom PIL import Image\n"
                       "Image.open(sys.argv[1]).resize((int(sys.argv[3]), int(sys.argv[4])), "
                       "Image.BICUBIC).save(sys.argv[2], quality=90)\n"),
        {SourceDir() + QStringLiteral("/examples/LadyBird.jpg"), path,
         QString::number(stored.width()), QString::number(stored.height())});
    QVERIFY2(made.ExitCode == 0, made.Err.constData());

    const JobSettings job = FitJob();
    QSize sizeAsStored;
    Picture reduced = ReadWorkingPicture(path, job, &sizeAsStored);
    QCOMPARE(reduced.Image.size(), decoded);
    QCOMPARE(sizeAsStored, stored);
    ResizeAndWatermark(
        reduced, job, path, [](const QString&, bool) {}, sizeAsStored);

    Picture whole = ReadPicture(path);
    QVERIFY(FillToSize(whole, 640, 480, 3, ResampleFilter::Lanczos3));
    QCOMPARE(reduced.Image.size(), FillSize(stored.width(), stored.height(), 640, 480, 3));
    QCOMPARE(reduced.Image.size(), whole.Image.size());
    // The DCT's own reduction is a box average, Lanczos3 a sharper one: close, not equal.
    const double mean = MeanChannelDifference(reduced.Image, whole.Image);
    QVERIFY2(mean < 2.0, qPrintable(QString::number(mean)));
  }

  void WholeDecodeWhenNothingIsReduced() {
    const QString path = SourceDir() + QStringLiteral("/examples/Storm.jpg");
    QSize sizeAsStored(1, 1);
    const Picture picture = ReadWorkingPicture(path, FitJob(), &sizeAsStored);
    QCOMPARE(picture.Image.size(), QSize(800, 533));
    QVERIFY(!sizeAsStored.isValid());
    QVERIFY_THROWS_EXCEPTION(
        PictureError,
        ReadWorkingPicture(SourceDir() + QStringLiteral("/README.md"), FitJob(), &sizeAsStored));
  }
};

QTEST_GUILESS_MAIN(TestPictureSteps)
#include "tst_PictureSteps.moc"
