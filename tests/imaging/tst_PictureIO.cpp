// The registry's choices (which codec reads a file, which extension is readable) and the
// write-into-place rule of WritePicture.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "common/TestSupport.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"

namespace {

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

Picture TestPicture() {
  Picture picture;
  picture.Image = MakeTestPicture(40, 30);
  return picture;
}

}  // namespace

class TestPictureIO : public QObject {
  Q_OBJECT
 private slots:
  void canReadExtension_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("readable");
    QTest::newRow("bare") << "jpg" << true;
    QTest::newRow("with dot") << ".png" << true;
    QTest::newRow("upper case path") << "/photos/IMG_0001.JPG" << true;
    QTest::newRow("mixed case") << "C:\\pics\\a.TiF" << true;
    QTest::newRow("several dots") << "a.b.c.gif" << true;
    QTest::newRow("targa") << "x.TARGA" << true;
    QTest::newRow("fax") << "x.fax" << true;
    QTest::newRow("camera raw") << "IMG_1.CR2" << true;
    QTest::newRow("code stream") << "x.j2c" << true;
    QTest::newRow("metafile") << "drawing.wmf" << false;
    QTest::newRow("enhanced metafile") << "drawing.emf" << false;
    QTest::newRow("mpeg") << "clip.mpg" << false;
    QTest::newRow("windows video") << "clip.wmv" << false;
    QTest::newRow("video") << "clip.avi" << false;
    QTest::newRow("no extension") << "/photos/README" << false;
    QTest::newRow("empty") << "" << false;
  }
  void canReadExtension() {
    QFETCH(QString, input);
    QFETCH(bool, readable);
    QCOMPARE(CanReadExtension(input), readable);
  }

  // The content decides the format; the extension only when no signature matches.
  void contentBeforeExtension() {
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("really_png.jpg"));
    WritePicture(TestPicture(), dir.filePath(QStringLiteral("a.png")));
    QVERIFY(QFile::copy(dir.filePath(QStringLiteral("a.png")), png));
    QCOMPARE(ReadHeaderFacts(png).FileType, int(PictureFileType::Png));
    const Picture picture = ReadPicture(png);
    QCOMPARE(picture.Params.FileType, int(PictureFileType::Png));
    QCOMPARE(MaxChannelDifference(picture.Image, TestPicture().Image), 0);
  }

  void unreadableFilesGiveCodeZero() {
    QTemporaryDir dir;
    QCOMPARE(ReadHeaderFacts(dir.filePath(QStringLiteral("missing.jpg"))).FileType, 0);
    WriteBytes(dir.filePath(QStringLiteral("empty.png")), {});
    QCOMPARE(ReadHeaderFacts(dir.filePath(QStringLiteral("empty.png"))).FileType, 0);
    QCOMPARE(ReadHeaderFacts(dir.path()).FileType, 0);
    QVERIFY_THROWS_EXCEPTION(PictureError,
                             ReadPicture(dir.filePath(QStringLiteral("missing.jpg"))));
  }

  // A write that fails leaves the existing file as it was and no temporary file behind; a
  // write that succeeds leaves only the target.
  void writeIntoPlace() {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("out.png"));
    WriteBytes(target, "precious");
    QVERIFY_THROWS_EXCEPTION(PictureError, WritePicture(Picture(), target));
    QCOMPARE(ReadAll(target), QByteArray("precious"));
    QVERIFY_THROWS_EXCEPTION(PictureError,
                             WritePicture(TestPicture(), dir.filePath(QStringLiteral("out.wmf"))));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("out.png")});

    WritePicture(TestPicture(), target);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("out.png")});
    QCOMPARE(ReadHeaderFacts(target).FileType, int(PictureFileType::Png));
  }

  void writeIntoMissingFolderFails() {
    QTemporaryDir dir;
    QVERIFY_THROWS_EXCEPTION(
        PictureError, WritePicture(TestPicture(), dir.filePath(QStringLiteral("no/such/a.png"))));
  }
};

QTEST_GUILESS_MAIN(TestPictureIO)
#include "tst_PictureIO.moc"
