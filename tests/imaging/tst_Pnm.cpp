// The PNM reader (P1-P6) against files written by Pillow and plain and 16-bit files written by
// hand in Python, compared with Pillow's decoding; and hostile files.

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "common/TestSupport.h"
#include "imaging/CodecRegistry.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"

namespace {

// Writes the files into argv[1]. For 16-bit grey, which Pillow keeps as 32-bit integers,
// the expected 8-bit picture is written beside it ("<name>.expected.png").
const char kMakeFixtures[] = R"PY(
import sys
from PIL import Image
d = sys.argv[1]
W, H = 37, 23
rgb = Image.new('RGB', (W, H))
px = rgb.load()
for y in range(H):
    for x in range(W):
        px[x, y] = ((x * 7) % 256, (y * 11) % 256, ((x + y) * 5) % 256)
grey = rgb.convert('L')
mono = rgb.convert('1')
rgb.save(d + '/p6.ppm')
grey.save(d + '/p5.pgm')
mono.save(d + '/p4.pbm')

def write(name, header, body):
    open(d + '/' + name, 'wb').write(header.encode() + body)

def plain(values, per_line):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append(' '.join(str(v) for v in values[i:i + per_line]))
    return ('\n'.join(lines) + '\n').encode()

# P1: digits without separators, rows broken at odd places, comments in the header.
bits = ''.join('1' if mono.getpixel((x, y)) == 0 else '0' for y in range(H) for x in range(W))
write('p1.pbm', 'P1\n# a comment\n37 # width\n23\n',
      '\n'.join(bits[i:i + 50] for i in range(0, len(bits), 50)).encode() + b'\n')
write('p2.pgm', 'P2 37\t23\n#maxval follows\n255\n', plain(list(grey.getdata()), 19))
write('p3.ppm', 'P3\n37 23 255\n', plain([c for p in rgb.getdata() for c in p], 30))
write('p6_comment.ppm', 'P6\n# written by the test\n37 23\n# maxval\n255\n', rgb.tobytes())

# Maximum value 127 (scaled up by the reader).
low = [c * 127 // 255 for p in rgb.getdata() for c in p]
write('p6_127.ppm', 'P6\n37 23\n127\n', bytes(low))
write('p3_127.ppm', 'P3\n37 23\n127\n', plain(low, 12))

# 16 bits per sample with every low byte in use.
deep = [((x * 1777 + y * 911 + c * 20011) * 7) % 65536
        for y in range(H) for x in range(W) for c in range(3)]
write('p6_16.ppm', 'P6\n37 23\n65535\n', b''.join(v.to_bytes(2, 'big') for v in deep))
write('p3_16.ppm', 'P3\n37 23\n65535\n', plain(deep, 9))
deep_grey = deep[0::3]
write('p5_16.pgm', 'P5\n37 23\n65535\n', b''.join(v.to_bytes(2, 'big') for v in deep_grey))
expected = Image.new('L', (W, H))
expected.putdata([round(v * 255 / 65535) for v in deep_grey])
expected.save(d + '/p5_16.pgm.expected.png')
)PY";

}  // namespace

class TestPnm : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void readsFiles_data();
  void readsFiles();
  void hostileFiles_data();
  void hostileFiles();

 private:
  QString Path(const QString& name) const { return Dir.filePath(name); }
  QTemporaryDir Dir;
};

void TestPnm::initTestCase() {
  QVERIFY(Dir.isValid());
  const ProcessResult r = RunPython(QString::fromLatin1(kMakeFixtures), {Dir.path()});
  QVERIFY2(r.ExitCode == 0, r.Err.constData());
}

void TestPnm::readsFiles_data() {
  QTest::addColumn<QString>("file");
  QTest::addColumn<int>("bits");
  QTest::addColumn<int>("samples");

  QTest::newRow("P1 plain bitmap, unseparated digits") << "p1.pbm" << 1 << 1;
  QTest::newRow("P2 plain graymap") << "p2.pgm" << 8 << 1;
  QTest::newRow("P3 plain pixmap") << "p3.ppm" << 8 << 3;
  QTest::newRow("P4 bitmap, Pillow") << "p4.pbm" << 1 << 1;
  QTest::newRow("P5 graymap, Pillow") << "p5.pgm" << 8 << 1;
  QTest::newRow("P6 pixmap, Pillow") << "p6.ppm" << 8 << 3;
  QTest::newRow("P6 with comments in the header") << "p6_comment.ppm" << 8 << 3;
  QTest::newRow("P6 maximum 127") << "p6_127.ppm" << 8 << 3;
  QTest::newRow("P3 maximum 127") << "p3_127.ppm" << 8 << 3;
  QTest::newRow("P6 16-bit") << "p6_16.ppm" << 16 << 3;
  QTest::newRow("P3 16-bit") << "p3_16.ppm" << 16 << 3;
  QTest::newRow("P5 16-bit") << "p5_16.pgm" << 16 << 1;
}

void TestPnm::readsFiles() {
  QFETCH(QString, file);
  QFETCH(int, bits);
  QFETCH(int, samples);
  const QString path = Path(file);

  const HeaderFacts facts = ReadHeaderFacts(path);
  QCOMPARE(facts.FileType, int(PictureFileType::Pxm));
  QCOMPARE(facts.Width, 37);
  QCOMPARE(facts.Height, 23);
  QCOMPARE(facts.BitsPerSample, bits);
  QCOMPARE(facts.SamplesPerPixel, samples);
  QCOMPARE(facts.DpiX, kDefaultDpi);

  const Picture picture = ReadPicture(path);
  QCOMPARE(picture.Params.FileType, int(PictureFileType::Pxm));
  QCOMPARE(picture.Params.BitsPerSample, bits);
  QCOMPARE(picture.Params.SamplesPerPixel, samples);
  QCOMPARE(picture.Image.format(), QImage::Format_BGR888);

  const QString expectedPath = path + ".expected.png";
  QString error;
  const QImage reference =
      DecodeWithPillow(QFile::exists(expectedPath) ? expectedPath : path, &error);
  QVERIFY2(!reference.isNull(), qPrintable(error));
  QCOMPARE(MaxChannelDifference(picture.Image, reference), 0);

  // The same content under the other extensions of the format, and under a wrong one.
  for (const char* ext : {"pxm", "pnm", "jpg"}) {
    const QString copy = Path(QStringLiteral("copy.") + ext);
    QFile::remove(copy);
    QVERIFY(QFile::copy(path, copy));
    QCOMPARE(MaxChannelDifference(ReadPicture(copy).Image, reference), 0);
  }
}

void TestPnm::hostileFiles_data() {
  QTest::addColumn<QByteArray>("bytes");
  QFile file(Path("p6.ppm"));
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray p6 = file.readAll();

  QTest::newRow("zero-length") << QByteArray();
  QTest::newRow("magic only") << QByteArray("P6");
  QTest::newRow("header without samples") << QByteArray("P6\n37 23\n255\n");
  for (int cut : {5, 10, 200, int(p6.size()) - 1})
    QTest::addRow("P6 cut at %d", cut) << p6.left(cut);
  QTest::newRow("P4 cut") << QByteArray("P4\n16 2\n\x01\x02\x03", 11);
  QTest::newRow("P5 16-bit cut") << QByteArray("P5\n2 1\n65535\n\x01\x02\x03", 16);
  QTest::newRow("zero width") << QByteArray("P5\n0 1\n255\n\x01");
  QTest::newRow("width beyond 32 bits") << QByteArray("P5\n99999999999 1\n255\n\x01");
  QTest::newRow("40000 x 40000") << QByteArray("P5\n40000 40000\n255\n\x01");
  QTest::newRow("maximum 0") << QByteArray("P5\n1 1\n0\n\x01");
  QTest::newRow("maximum 70000") << QByteArray("P5\n1 1\n70000\n\x01\x01\x01\x01");
  QTest::newRow("P7") << QByteArray("P7\nWIDTH 1\n");
  QTest::newRow("P1 with a 2") << QByteArray("P1\n2 1\n1 2\n");
  QTest::newRow("P2 with a word") << QByteArray("P2\n2 1\n255\n1 abc\n");
  QTest::newRow("P3 short of samples") << QByteArray("P3\n2 1\n255\n1 2 3 4 5\n");
  QTest::newRow("comment to the end") << QByteArray("P3 # 1 1 255 0 0 0");
  QTest::newRow("no space after the magic") << QByteArray("P61 1 255\n\x01\x02\x03");
}

void TestPnm::hostileFiles() {
  QFETCH(QByteArray, bytes);
  const Codec* codec = CodecRegistry::Instance().ForExtension("ppm");
  QVERIFY(codec);
  QVERIFY_THROWS_EXCEPTION(PictureError, codec->Read(View(bytes), {}));
  if (!bytes.isEmpty())
    QVERIFY_THROWS_EXCEPTION(PictureError, ReadPictureFromMemory(View(bytes), "pgm"));
}

QTEST_GUILESS_MAIN(TestPnm)
#include "tst_Pnm.moc"
