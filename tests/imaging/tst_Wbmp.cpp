// The WBMP reader and writer, checked against GraphicsMagick (Pillow has no WBMP codec; its
// decoding of GraphicsMagick's PNG conversion is the reference), and hostile files.

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "common/TestSupport.h"
#include "imaging/CodecRegistry.h"
#include "imaging/Dither.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"

namespace {

// Black-and-white pictures written as WBMP by GraphicsMagick: 37 x 23, and 200 x 5 whose
// width needs a two-byte integer.
const char kMakeFixtures[] = R"PY(
import subprocess, sys
from PIL import Image
d = sys.argv[1]
for name, (w, h) in (('small', (37, 23)), ('wide', (200, 5))):
    im = Image.new('RGB', (w, h))
    px = im.load()
    for y in range(h):
        for x in range(w):
            px[x, y] = (255, 255, 255) if (x * x + 3 * y + x // 5) % 7 < 3 else (0, 0, 0)
    im.save(d + '/' + name + '.png')
    subprocess.run(['gm', 'convert', d + '/' + name + '.png', d + '/' + name + '.wbmp'], check=True)
)PY";

}  // namespace

class TestWbmp : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void readsGraphicsMagickFiles_data();
  void readsGraphicsMagickFiles();
  void writesFilesGraphicsMagickReads_data();
  void writesFilesGraphicsMagickReads();
  void hostileFiles_data();
  void hostileFiles();

 private:
  QString Path(const QString& name) const { return Dir.filePath(name); }
  // Decodes a WBMP file with GraphicsMagick (converted to PNG, decoded by Pillow).
  QImage DecodeWithGm(const QString& wbmp) {
    const QString png = wbmp + ".gm.png";
    const ProcessResult r = RunProgram("gm", {"convert", wbmp, png});
    if (r.ExitCode != 0) return {};
    return DecodeWithPillow(png);
  }
  QTemporaryDir Dir;
};

void TestWbmp::initTestCase() {
  QVERIFY(Dir.isValid());
  const ProcessResult r = RunPython(QString::fromLatin1(kMakeFixtures), {Dir.path()});
  QVERIFY2(r.ExitCode == 0, r.Err.constData());
}

void TestWbmp::readsGraphicsMagickFiles_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<int>("width");
  QTest::addColumn<int>("height");
  QTest::newRow("37 x 23") << "small" << 37 << 23;
  QTest::newRow("200 x 5, two-byte width") << "wide" << 200 << 5;
}

void TestWbmp::readsGraphicsMagickFiles() {
  QFETCH(QString, name);
  QFETCH(int, width);
  QFETCH(int, height);
  const QString path = Path(name + ".wbmp");

  const HeaderFacts facts = ReadHeaderFacts(path);
  QCOMPARE(facts.FileType, int(PictureFileType::Wbmp));
  QCOMPARE(facts.Width, width);
  QCOMPARE(facts.Height, height);
  QCOMPARE(facts.BitsPerSample * facts.SamplesPerPixel, 1);
  QCOMPARE(facts.DpiX, kDefaultDpi);

  const Picture picture = ReadPicture(path);
  QCOMPARE(picture.Params.FileType, int(PictureFileType::Wbmp));
  QCOMPARE(picture.Params.BitsPerSample, 1);
  QCOMPARE(picture.Params.SamplesPerPixel, 1);
  const QImage reference = DecodeWithPillow(Path(name + ".png"));
  QVERIFY(!reference.isNull());
  QCOMPARE(MaxChannelDifference(picture.Image, reference), 0);
  QCOMPARE(MaxChannelDifference(picture.Image, DecodeWithGm(path)), 0);
}

void TestWbmp::writesFilesGraphicsMagickReads_data() {
  QTest::addColumn<int>("kind");
  QTest::newRow("true colour, dithered") << 0;
  QTest::newRow("1-bit, black first") << 1;
  QTest::newRow("1-bit, white first") << 2;
  QTest::newRow("palette picture, dithered") << 3;
}

void TestWbmp::writesFilesGraphicsMagickReads() {
  QFETCH(int, kind);
  const QImage photo = MakeTestPicture(150, 21);
  Picture picture;
  QImage expected;
  if (kind == 0) {
    picture.Image = photo;
    expected = DitherToBlackAndWhite(photo);
  } else if (kind == 3) {
    picture.Image = photo.convertToFormat(QImage::Format_Indexed8);
    expected = DitherToBlackAndWhite(picture.Image);
  } else {
    // Index 0 black or index 0 white: the writer must follow the colour table.
    const QRgb black = qRgb(0, 0, 0);
    const QRgb white = qRgb(255, 255, 255);
    const QList<QRgb> colors = kind == 1 ? QList<QRgb>{black, white} : QList<QRgb>{white, black};
    picture.Image = photo.convertToFormat(QImage::Format_Mono, colors, Qt::ThresholdDither);
    QCOMPARE(picture.Image.color(0), colors[0]);
    expected = picture.Image;
  }

  const QString path = Path(QStringLiteral("ours%1.wbmp").arg(kind));
  WritePicture(picture, path);
  const QImage decoded = DecodeWithGm(path);
  QVERIFY(!decoded.isNull());
  QCOMPARE(MaxChannelDifference(decoded, expected), 0);
  QCOMPARE(MaxChannelDifference(ReadPicture(path).Image, decoded), 0);
}

void TestWbmp::hostileFiles_data() {
  QTest::addColumn<QByteArray>("bytes");
  QFile file(Path("small.wbmp"));
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray good = file.readAll();

  QTest::newRow("zero-length") << QByteArray();
  for (int cut : {1, 3, 4, 10, int(good.size()) - 1})
    QTest::addRow("cut at %d", cut) << good.left(cut);
  QTest::newRow("type 1") << QByteArray::fromHex("0100 0808 0000000000000000");
  QTest::newRow("extension headers") << QByteArray::fromHex("0080 0808 0000000000000000");
  QTest::newRow("endless integer") << QByteArray::fromHex("0000 ffffffffffffffffff 01");
  QTest::newRow("zero width") << QByteArray::fromHex("0000 0001 00");
  QTest::newRow("40000 x 40000") << QByteArray::fromHex("0000 82b840 82b840 00");
  QTest::newRow("width 2^31 - 1") << QByteArray::fromHex("0000 87ffffff7f 01 00");
}

void TestWbmp::hostileFiles() {
  QFETCH(QByteArray, bytes);
  const Codec* codec = CodecRegistry::Instance().ForExtension("wbmp");
  QVERIFY(codec);
  QVERIFY(!codec->MatchesSignature(View(bytes)));
  QVERIFY_THROWS_EXCEPTION(PictureError, codec->Read(View(bytes), {}));
}

QTEST_GUILESS_MAIN(TestWbmp)
#include "tst_Wbmp.moc"
