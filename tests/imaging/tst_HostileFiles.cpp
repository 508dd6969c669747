// Every reader against damaged copies of a valid file: cut short at many lengths and with
// bytes overwritten. A reader may refuse (PictureError) or give a picture; it must never crash,
// read or write out of bounds (test.sh runs this under AddressSanitizer) or throw anything else.
#include <QTemporaryDir>
#include <QtTest>
#include <random>

#include "common/TestSupport.h"
#include "imaging/CodecRegistry.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"

namespace {

// Reads damaged bytes through the codec of ext and through content detection. Returns an
// empty string when everything behaved, else what went wrong.
QString ReadDamaged(const QByteArray& bytes, const QString& ext) {
  const Codec* codec = CodecRegistry::Instance().ForExtension(ext);
  try {
    const Picture p = codec->Read(View(bytes), {});
    if (p.IsNull()) return QStringLiteral("a null picture without an error");
    if (p.Image.format() != QImage::Format_BGR888) return QStringLiteral("not a BGR888 picture");
  } catch (const PictureError&) {
  } catch (const std::exception& e) {
    return QStringLiteral("unexpected exception: %1").arg(QString::fromLocal8Bit(e.what()));
  }
  try {
    codec->ReadHeader(View(bytes));
  } catch (const PictureError&) {
  } catch (const std::exception& e) {
    return QStringLiteral("unexpected exception from the header: %1").arg(e.what());
  }
  ReadHeaderFactsFromMemory(View(bytes), ext);  // never throws
  try {
    ReadPictureFromMemory(View(bytes), ext);
  } catch (const PictureError&) {
  }
  return {};
}

}  // namespace

class TestHostileFiles : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir Dir;

 private slots:
  void damagedCopies_data() {
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QString>("maker");  // "pil:<format>[:<mode>]" or "gm:<prefix>"
    QTest::newRow("jpeg") << "jpg"
                          << "pil:JPEG:RGB";
    QTest::newRow("jpeg progressive") << "jpg"
                                      << "pil:JPEG:RGB:progressive";
    QTest::newRow("png rgba") << "png"
                              << "pil:PNG:RGBA";
    QTest::newRow("png palette") << "png"
                                 << "pil:PNG:P";
    QTest::newRow("tiff lzw") << "tif"
                              << "pil:TIFF:RGB:tiff_lzw";
    QTest::newRow("tiff g4") << "tif"
                             << "pil:TIFF:1:group4";
    QTest::newRow("gif") << "gif"
                         << "pil:GIF:P";
    QTest::newRow("bmp 24") << "bmp"
                            << "pil:BMP:RGB";
    QTest::newRow("bmp rle8") << "bmp"
                              << "gm:BMP3";
    QTest::newRow("pcx 8") << "pcx"
                           << "pil:PCX:P";
    QTest::newRow("pcx 24") << "pcx"
                            << "pil:PCX:RGB";
    QTest::newRow("tga rle") << "tga"
                             << "pil:TGA:RGB:tga_rle";
    QTest::newRow("ico") << "ico"
                         << "pil:ICO:RGBA";
    QTest::newRow("ppm") << "ppm"
                         << "pil:PPM:RGB";
    QTest::newRow("pgm") << "pgm"
                         << "pil:PPM:L";
    QTest::newRow("wbmp") << "wbmp"
                          << "gm:WBMP";
    QTest::newRow("jp2") << "jp2"
                         << "pil:JPEG2000:RGB";
    QTest::newRow("j2k") << "j2k"
                         << "pil:JPEG2000:RGB";
  }

  void damagedCopies() {
    QFETCH(QString, ext);
    QFETCH(QString, maker);
    const Codec* codec = CodecRegistry::Instance().ForExtension(ext);
    QVERIFY2(codec, qPrintable(QStringLiteral("no codec reads .%1").arg(ext)));

    // A small valid file made by an independent program.
    const QString source = Dir.filePath(QStringLiteral("src.png"));
    QVERIFY(MakeTestPicture(37, 23).save(source));
    const QString path = Dir.filePath(
        QStringLiteral("valid_%1.%2").arg(QString(QTest::currentDataTag()).replace(' ', '_'), ext));
    const QStringList parts = maker.split(QLatin1Char(':'));
    ProcessResult made;
    if (parts[0] == QLatin1String("pil")) {
      const QString mode = parts.value(2, QStringLiteral("RGB"));
      const QString option = parts.value(3);
      QString save = QStringLiteral("im.save(dst, '%1')").arg(parts[1]);
      if (option == QLatin1String("progressive"))
        save = QStringLiteral("im.save(dst, 'JPEG', progressive=True)");
      else if (option == QLatin1String("tga_rle"))
        save = QStringLiteral("im.save(dst, 'TGA', compression='tga_rle')");
      else if (parts[1] == QLatin1String("ICO"))
        save = QStringLiteral("im.save(dst, 'ICO', sizes=[im.size])");
      else if (!option.isEmpty())
        save = QStringLiteral("im.save(dst, 'TIFF', compression='%1')").arg(option);
      made =
          RunPython(QStringLiteral("import sys\nfrom PIL import Image\nsrc, dst = sys.argv[1:3]\n"
                                   "im = Image.open(src).convert('%1')\n%2\n")
                        .arg(mode, save),
                    {source, path});
    } else {
      made = RunProgram(
          QStringLiteral("gm"),
          {QStringLiteral("convert"), source, QStringLiteral("-colors"), QStringLiteral("200"),
           QStringLiteral("-compress"), QStringLiteral("RLE"), parts[1] + QLatin1Char(':') + path});
    }
    QVERIFY2(made.ExitCode == 0, made.Err.constData());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray valid = file.readAll();
    QVERIFY(!valid.isEmpty());

    // The valid file itself reads.
    const Picture picture = codec->Read(View(valid), {});
    QCOMPARE(picture.Width(), 37);
    QCOMPARE(picture.Height(), 23);

    // Cut short at every length up to 64 bytes, then at spread-out lengths.
    QList<qsizetype> cuts;
    for (qsizetype n = 0; n < std::min<qsizetype>(64, valid.size()); ++n) cuts << n;
    for (int k = 1; k < 32; ++k) cuts << valid.size() * k / 32;
    for (qsizetype n : cuts) {
      const QString problem = ReadDamaged(valid.left(n), ext);
      QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("cut at %1: %2").arg(n).arg(problem)));
    }

    // Bytes overwritten, from a fixed seed so that a failure repeats.
    std::mt19937 random(12345);
    for (int round = 0; round < 300; ++round) {
      QByteArray damaged = valid;
      const int changes = 1 + int(random() % 8);
      for (int c = 0; c < changes; ++c) {
        const qsizetype at = qsizetype(random() % quint32(damaged.size()));
        const quint32 kind = random() % 3;
        damaged[at] = kind == 0 ? char(0xFF) : kind == 1 ? char(0) : char(random());
      }
      const QString problem = ReadDamaged(damaged, ext);
      QVERIFY2(problem.isEmpty(),
               qPrintable(QStringLiteral("round %1: %2").arg(round).arg(problem)));
    }
  }

  // Files that are no picture at all, or nothing: every path reports instead of failing.
  void notPictures_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("ext");
    QTest::newRow("empty jpg") << QByteArray() << "jpg";
    QTest::newRow("text named png") << QByteArray("hello, this is not a picture\n") << "png";
    QTest::newRow("zeros named bmp") << QByteArray(100, '\0') << "bmp";
    QTest::newRow("unknown extension") << QByteArray("GIF8") << "xyz";
  }
  void notPictures() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, ext);
    const QString path = Dir.filePath(QStringLiteral("not.") + ext);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    QCOMPARE(ReadHeaderFacts(path).FileType, 0);
    QVERIFY_THROWS_EXCEPTION(PictureError, ReadPicture(path));
  }
};

QTEST_GUILESS_MAIN(TestHostileFiles)
#include "tst_HostileFiles.moc"
