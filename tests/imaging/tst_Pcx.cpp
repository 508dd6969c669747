#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "common/TestSupport.h"
#include "imaging/CodecRegistry.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"

namespace {

// Makes the 37 x 23 base picture with Pillow (a PNG), then derives a PCX from it with Pillow.
// argv: png path, pcx path, Pillow expression turning `im` into the picture to save.
const char kPillowScript[] = R"(
import sys
from PIL import Image
w, h = int(sys.argv[4]), int(sys.argv[5])
im = Image.new('RGB', (w, h))
im.putdata([((x * 7) % 256, (y * 11) % 256, (x * y + 200) % 256) for y in range(h) for x in range(w)])
im.save(sys.argv[1])
eval(sys.argv[3]).save(sys.argv[2])
)";

// Writes a PCX of bits x planes from an index grid and the 16-entry header palette, with the
// run-length scope given: "plane" (each plane of a line on its own), "line" (runs may cross
// planes) or "image" (runs may cross scan lines).
// argv: path, bits, planes, width, height, xmin, ymin, scope.
const char kCraftScript[] = R"(
import sys, struct
out, bits, planes, w, h, xmin, ymin, scope = sys.argv[1], *map(int, sys.argv[2:8]), sys.argv[8]
mask = (1 << bits) - 1
bpl = (w * bits + 7) // 8
bpl += bpl % 2
pal = b''.join(bytes([(i * 16) % 256, 255 - (i * 16) % 256, (i * 73) % 256]) for i in range(16))
lines = []
for y in range(h):
    line = bytearray(bpl * planes)
    for p in range(planes):
        for x in range(w):
            v = ((((x // 5) * 7 + y) % (1 << (bits * planes))) >> (p * bits)) & mask
            bit = x * bits
            line[p * bpl + bit // 8] |= v << (8 - bits - bit % 8)
    lines.append(bytes(line))
def rle(data):
    o = bytearray(); i = 0
    while i < len(data):
        n = 1
        while i + n < len(data) and n < 63 and data[i + n] == data[i]: n += 1
        if n > 1 or data[i] >= 0xC0: o.append(0xC0 | n)
        o.append(data[i]); i += n
    return bytes(o)
if scope == 'image':
    body = rle(b''.join(lines))
elif scope == 'line':
    body = b''.join(rle(l) for l in lines)
else:
    body = b''.join(rle(l[p * bpl:(p + 1) * bpl]) for l in lines for p in range(planes))
hdr = struct.pack('<BBBBHHHHHH48sBBHHHH54s', 10, 5, 1, bits, xmin, ymin, xmin + w - 1,
                  ymin + h - 1, 72, 72, pal, 0, planes, bpl, 1, 0, 0, b'')
open(out, 'wb').write(hdr + body)
)";

// Decodes with GraphicsMagick (through a PNG that Pillow reads back).
QImage DecodeWithGm(const QString& path, const QString& scratchPng) {
  const ProcessResult r =
      RunProgram(QStringLiteral("gm"), {QStringLiteral("convert"), path, scratchPng});
  if (r.ExitCode != 0) return {};
  return DecodeWithPillow(scratchPng);
}

// A 128-byte PCX header with the given fields (palette empty), for hostile inputs.
QByteArray Header(int bits, int planes, int width, int height, int bytesPerLine, int encoding = 1) {
  QByteArray h(128, '\0');
  auto put16 = [&](int at, int v) {
    h[at] = char(v & 0xFF);
    h[at + 1] = char((v >> 8) & 0xFF);
  };
  h[0] = 0x0A;
  h[1] = 5;
  h[2] = char(encoding);
  h[3] = char(bits);
  put16(8, width - 1);
  put16(10, height - 1);
  put16(12, 72);
  put16(14, 72);
  h[65] = char(planes);
  put16(66, bytesPerLine);
  return h;
}

QImage MakeMono(int width, int height, QRgb zero, QRgb one) {
  QImage image(width, height, QImage::Format_Mono);
  image.setColorTable({zero, one});
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.setPixel(x, y, ((x + y) % 3 == 0 || x > 20) ? 1 : 0);
  return image;
}

}  // namespace

class TestPcx : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir Dir;
  QString Path(const QString& name) const { return Dir.filePath(name); }

 private slots:
  void initTestCase() {
    QVERIFY(Dir.isValid());
    QVERIFY2(CodecRegistry::Instance().ForFileType(PictureFileType::Pcx), "PCX codec missing");
  }

  // Files written by other programs: dimensions, exact pixels against an independent decoder,
  // header facts and DPI; the format is found from the content alone.
  void readsFilesOfOtherPrograms_data() {
    QTest::addColumn<QString>("maker");  // pillow, gm or craft
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("reference");  // pillow or gm
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("dpi");
    const QSize s(37, 23);
    QTest::newRow("pillow 24-bit")
        << "pillow" << QStringList{"im"} << "pillow" << s << 8 << 3 << 100;
    QTest::newRow("pillow 8-bit palette")
        << "pillow" << QStringList{"im.quantize(200)"} << "pillow" << s << 8 << 1 << 100;
    QTest::newRow("pillow 8-bit grey")
        << "pillow" << QStringList{"im.convert('L')"} << "pillow" << s << 8 << 1 << 100;
    QTest::newRow("pillow 1-bit") << "pillow" << QStringList{"im.convert('1')"} << "pillow" << s
                                  << 1 << 1 << 100;
    // (Pillow's own 24-bit file of one pixel's width lacks its last plane.)
    QTest::newRow("pillow 2x2 24-bit")
        << "pillow" << QStringList{"im"} << "pillow" << QSize(2, 2) << 8 << 3 << 100;
    QTest::newRow("pillow wide 1-bit")
        << "pillow" << QStringList{"im.convert('1')"} << "pillow" << QSize(203, 3) << 1 << 1 << 100;
    // GraphicsMagick writes uncompressed PCX (encoding 0) with no DPI.
    QTest::newRow("gm 24-bit") << "gm" << QStringList{} << "gm" << s << 8 << 3 << 96;
    QTest::newRow("gm 16 colours")
        << "gm" << QStringList{"-colors", "16"} << "gm" << s << 8 << 1 << 96;
    QTest::newRow("gm monochrome")
        << "gm" << QStringList{"-monochrome"} << "gm" << s << 1 << 1 << 96;
    // Planar files from an index grid; window origin not at 0,0.
    const QSize c(13, 7);
    QTest::newRow("1 bit x 2 planes")
        << "craft" << QStringList{"1", "2", "plane"} << "pillow" << c << 2 << 1 << 72;
    QTest::newRow("1 bit x 3 planes")
        << "craft" << QStringList{"1", "3", "plane"} << "gm" << c << 3 << 1 << 72;
    QTest::newRow("EGA 1 bit x 4 planes")
        << "craft" << QStringList{"1", "4", "plane"} << "pillow" << c << 4 << 1 << 72;
    QTest::newRow("EGA runs across planes")
        << "craft" << QStringList{"1", "4", "line"} << "pillow" << c << 4 << 1 << 72;
    QTest::newRow("EGA runs across scan lines")
        << "craft" << QStringList{"1", "4", "image"} << "gm" << QSize(130, 9) << 4 << 1 << 72;
    QTest::newRow("2 bits x 1 plane")
        << "craft" << QStringList{"2", "1", "plane"} << "gm" << c << 2 << 1 << 72;
    QTest::newRow("4 bits x 1 plane")
        << "craft" << QStringList{"4", "1", "plane"} << "gm" << c << 4 << 1 << 72;
    QTest::newRow("1 bit x 1 plane")
        << "craft" << QStringList{"1", "1", "plane"} << "pillow" << c << 1 << 1 << 72;
  }
  void readsFilesOfOtherPrograms() {
    QFETCH(QString, maker);
    QFETCH(QStringList, args);
    QFETCH(QString, reference);
    QFETCH(QSize, size);
    QFETCH(int, bits);
    QFETCH(int, samples);
    QFETCH(int, dpi);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
    const QString png = Path(tag + ".png");
    const QString pcx = Path(tag + ".pcx");
    const QString w = QString::number(size.width()), h = QString::number(size.height());
    ProcessResult made;
    if (maker == "pillow") {
      made = RunPython(kPillowScript, {png, pcx, args.value(0), w, h});
    } else if (maker == "gm") {
      made = RunPython(kPillowScript, {png, Path(tag + "_unused.png"), "im", w, h});
      if (made.ExitCode == 0)
        made = RunProgram("gm", QStringList{"convert", png} + args + QStringList{pcx});
    } else {
      made = RunPython(kCraftScript, {pcx, args[0], args[1], w, h, "3", "4", args[2]});
    }
    QVERIFY2(made.ExitCode == 0, made.Err.constData());

    QString error;
    const QImage expected = reference == "pillow" ? DecodeWithPillow(pcx, &error)
                                                  : DecodeWithGm(pcx, Path(tag + "_ref.png"));
    QVERIFY2(!expected.isNull(), qPrintable(error));

    const QByteArray bytes = ReadAll(pcx);
    const Picture picture = ReadPictureFromMemory(View(bytes));  // no extension: by content
    QCOMPARE(picture.Image.size(), size);
    QCOMPARE(picture.Image.format(), QImage::Format_BGR888);
    QCOMPARE(MaxChannelDifference(picture.Image, expected), 0);
    QCOMPARE(picture.Params.FileType, PictureFileType::Pcx);
    QCOMPARE(picture.Params.BitsPerSample, bits);
    QCOMPARE(picture.Params.SamplesPerPixel, samples);
    QCOMPARE(picture.Params.DpiX, dpi);
    QVERIFY(!picture.HasAlpha());

    const HeaderFacts facts = ReadHeaderFacts(pcx);
    QCOMPARE(facts.FileType, PictureFileType::Pcx);
    QVERIFY(!facts.FormatDescription.isEmpty());
    QCOMPARE(QSize(facts.Width, facts.Height), size);
    QCOMPARE(facts.BitsPerSample, bits);
    QCOMPARE(facts.SamplesPerPixel, samples);
    QCOMPARE(facts.DpiX, dpi);
    QCOMPARE(facts.DpiY, dpi);
  }

  // GraphicsMagick writes a picture with transparency as four 8-bit planes, the fourth alpha.
  void fourPlanesCarryAlpha() {
    const QString png = Path("rgba.png"), pcx = Path("rgba.pcx");
    const char script[] = R"(
import sys
from PIL import Image
im = Image.new('RGBA', (19, 6))
im.putdata([(x * 13, y * 40, 100, (x * 25 + y) % 256) for y in range(6) for x in range(19)])
im.save(sys.argv[1])
sys.stdout.buffer.write(im.getchannel('A').tobytes())
)";
    const ProcessResult made = RunPython(QString::fromLatin1(script), {png});
    QVERIFY2(made.ExitCode == 0, made.Err.constData());
    QCOMPARE(RunProgram("gm", {"convert", png, pcx}).ExitCode, 0);
    const QByteArray bytes = ReadAll(pcx);
    QCOMPARE(int(uchar(bytes[65])), 4);

    const Picture picture = ReadPicture(pcx);
    QCOMPARE(MaxChannelDifference(picture.Image, DecodeWithPillow(png)), 0);
    QVERIFY(picture.HasAlpha());
    QCOMPARE(picture.Alpha.format(), QImage::Format_Grayscale8);
    for (int y = 0; y < 6; ++y)
      QCOMPARE(QByteArray(reinterpret_cast<const char*>(picture.Alpha.constScanLine(y)), 19),
               made.Out.mid(y * 19, 19));
    QCOMPARE(picture.Params.BitsPerSample * picture.Params.SamplesPerPixel, 32);
  }

  // An 8-bit file without the palette block shows its values as a grey ramp.
  void eightBitWithoutPaletteIsGrey() {
    QByteArray bytes = Header(8, 1, 4, 1, 4);
    bytes.append("\x00\x40\x80\xC1\xFF", 5);  // 0, 64, 128, then 255 as a run of one
    const Picture picture = ReadPictureFromMemory(View(bytes), "pcx");
    const int expected[] = {0, 64, 128, 255};
    for (int x = 0; x < 4; ++x)
      QCOMPARE(picture.Image.pixel(x, 0), qRgb(expected[x], expected[x], expected[x]));
  }

  // Our files decode in Pillow to our pixels, and in our reader to the same pixels, in the
  // layout the picture and its params call for.
  void writesFilesPillowReads_data() {
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("askBits");  // bits per sample x samples per pixel of the params
    QTest::addColumn<int>("bits");     // expected in the file's header
    QTest::addColumn<int>("planes");
    const QList<QRgb> five = {qRgb(255, 0, 0), qRgb(0, 0, 0), qRgb(250, 200, 192), qRgb(1, 2, 3),
                              qRgb(255, 255, 255)};
    QList<QRgb> sixteen;
    for (int i = 0; i < 16; ++i) sixteen.append(qRgb(i * 17, 255 - i * 9, (i * 77) % 256));
    const QRgb black = qRgb(0, 0, 0), white = qRgb(255, 255, 255);
    QTest::newRow("24-bit photo") << MakeTestPicture(41, 17) << 24 << 8 << 3;
    QTest::newRow("24-bit long runs")
        << MakeFewColours(300, 2, {qRgb(200, 210, 220)}) << 24 << 8 << 3;
    QTest::newRow("indexed 256 colours") << MakeIndexed(45, 19, 256) << 8 << 8 << 1;
    QTest::newRow("indexed 7 colours") << MakeIndexed(45, 19, 7) << 24 << 8 << 1;
    QTest::newRow("mono black on white") << MakeMono(27, 9, black, white) << 1 << 1 << 1;
    QTest::newRow("mono inverted table") << MakeMono(27, 9, white, black) << 1 << 1 << 1;
    QTest::newRow("mono coloured table")
        << MakeMono(27, 9, qRgb(200, 0, 0), qRgb(0, 0, 90)) << 1 << 8 << 1;
    QTest::newRow("24-bit, 5 colours, 8 bits asked") << MakeFewColours(33, 8, five) << 8 << 8 << 1;
    // Pillow reads planes of an odd byte count wrongly (it skips the padding of the last
    // plane only), so the width keeps them even here.
    QTest::newRow("24-bit, 16 colours, 4 bits asked")
        << MakeFewColours(80, 8, sixteen) << 4 << 1 << 4;
    QTest::newRow("24-bit, black and white, 1 bit asked")
        << MakeFewColours(19, 5, {black, white}) << 1 << 1 << 1;
    QTest::newRow("24-bit, 5 colours, 24 bits asked")
        << MakeFewColours(33, 8, five) << 24 << 8 << 3;
  }
  void writesFilesPillowReads() {
    QFETCH(QImage, image);
    QFETCH(int, askBits);
    QFETCH(int, bits);
    QFETCH(int, planes);
    Picture picture;
    picture.Image = image;
    picture.Params.BitsPerSample = askBits == 24 ? 8 : askBits;
    picture.Params.SamplesPerPixel = askBits == 24 ? 3 : 1;
    picture.Params.DpiX = 300;
    picture.Params.DpiY = 150;
    const QByteArray bytes = EncodePicture(picture, "pcx");
    QVERIFY(bytes.size() > 128);
    QCOMPARE(int(uchar(bytes[2])), 1);  // run-length encoded
    QCOMPARE(int(uchar(bytes[3])), bits);
    QCOMPARE(int(uchar(bytes[65])), planes);

    const QString path =
        Path(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_') + ".pcx");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    QString error;
    const QImage pillow = DecodeWithPillow(path, &error);
    QVERIFY2(!pillow.isNull(), qPrintable(error));
    QCOMPARE(MaxChannelDifference(pillow, image), 0);

    const Picture back = ReadPictureFromMemory(View(bytes), "pcx");
    QCOMPARE(MaxChannelDifference(back.Image, image), 0);
    QCOMPARE(back.Params.DpiX, 300);
    QCOMPARE(back.Params.DpiY, 150);
  }

  // A 24-bit picture of many colours written where 8 bits are asked: a palette when the
  // colour reduction is available, else 24-bit; Pillow reads what we read either way.
  void manyColoursWithEightBitsAsked() {
    Picture picture;
    picture.Image = MakeTestPicture(64, 48);
    picture.Params.BitsPerSample = 8;
    picture.Params.SamplesPerPixel = 1;
    const QByteArray bytes = EncodePicture(picture, "pcx");
#if __has_include("imaging/ColorReduce.h")
    QCOMPARE(int(uchar(bytes[65])), 1);
#else
    QCOMPARE(int(uchar(bytes[65])), 3);
#endif
    const QString path = Path("many.pcx");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    const Picture back = ReadPictureFromMemory(View(bytes), "pcx");
    QCOMPARE(MaxChannelDifference(DecodeWithPillow(path), back.Image), 0);
    QVERIFY(MaxChannelDifference(back.Image, picture.Image) < 64);
  }

  void signature_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("matches");
    QTest::newRow("8-bit rle") << Header(8, 1, 10, 10, 10) << true;
    QTest::newRow("24-bit rle") << Header(8, 3, 10, 10, 10) << true;
    QTest::newRow("EGA") << Header(1, 4, 10, 10, 2) << true;
    QTest::newRow("uncompressed") << Header(8, 1, 10, 10, 10, 0) << true;
    QByteArray version1 = Header(8, 1, 10, 10, 10);
    version1[1] = 1;
    QTest::newRow("version 1") << version1 << false;
    QTest::newRow("encoding 2") << Header(8, 1, 10, 10, 10, 2) << false;
    QTest::newRow("3 bits") << Header(3, 1, 10, 10, 10) << false;
    QTest::newRow("no planes") << Header(8, 0, 10, 10, 10) << false;
    QTest::newRow("5 planes") << Header(8, 5, 10, 10, 10) << false;
    QTest::newRow("first 64 bytes") << Header(8, 3, 10, 10, 10).left(64) << true;
    QTest::newRow("short") << Header(8, 1, 10, 10, 10).left(11) << false;
    QByteArray inverted = Header(8, 1, 10, 10, 10);
    inverted[6] = 20;  // ymin beyond ymax
    QTest::newRow("empty window") << inverted << false;
    QByteArray other = Header(8, 1, 10, 10, 10);
    other[0] = 0x0B;
    QTest::newRow("other manufacturer") << other << false;
  }
  void signature() {
    QFETCH(QByteArray, head);
    QFETCH(bool, matches);
    const Codec* codec = CodecRegistry::Instance().ForFileType(PictureFileType::Pcx);
    QCOMPARE(codec->MatchesSignature(View(head)), matches);
  }

  // Damaged and hostile files give PictureError, never a crash.
  void hostile_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("ext");

    // A valid 24-bit file of 37 x 23 pixels: 3 planes of 38 bytes per line.
    QByteArray good = Header(8, 3, 37, 23, 38);
    for (int y = 0; y < 23; ++y) {
      for (int p = 0; p < 3; ++p) {
        good.append(char(0xC0 | 38));
        good.append(char(y * 10 + p));
      }
    }
    {
      // The base must itself be good, or the truncations prove nothing.
      const Picture ok = ReadPictureFromMemory(View(good), "pcx");
      QCOMPARE(ok.Image.size(), QSize(37, 23));
    }
    QTest::newRow("zero length") << QByteArray() << "pcx";
    for (int cut : {1, 4, 64, 127, 128, 129, 200, int(good.size()) - 1})
      QTest::newRow(qPrintable(QString("truncated at %1").arg(cut))) << good.left(cut) << "pcx";

    QByteArray huge = Header(8, 1, 1, 1, 2);
    huge[8] = huge[9] = huge[10] = huge[11] = char(0xFF);  // 65536 x 65536
    huge.append(QByteArray(4000, char(0xFF)));
    QTest::newRow("absurd dimensions") << huge << "pcx";
    QByteArray tall = Header(8, 1, 30000, 30000, 30000);
    tall.append(QByteArray(1000, char(0xFF)));
    QTest::newRow("too few bytes for the picture") << tall << "pcx";
    QByteArray inverted = Header(8, 1, 10, 10, 10);
    inverted[4] = 20;  // xmin beyond xmax
    QTest::newRow("empty window") << inverted + QByteArray(300, 1) << "pcx";
    QTest::newRow("scan line too short") << Header(8, 1, 37, 2, 10) + QByteArray(300, 1) << "pcx";
    QTest::newRow("run past the picture")
        << Header(8, 1, 2, 1, 2) + QByteArray("\xFF\x07", 2) << "pcx";
    QTest::newRow("run count as last byte")
        << Header(8, 1, 4, 1, 4) + QByteArray("\x01\x02\xC2", 3) << "pcx";
    QTest::newRow("3 bits per pixel") << Header(3, 1, 8, 8, 4) + QByteArray(300, 1) << "pcx";
    QTest::newRow("8 bits x 2 planes") << Header(8, 2, 8, 8, 8) + QByteArray(300, 1) << "pcx";
    QTest::newRow("4 bits x 4 planes") << Header(4, 4, 8, 8, 4) + QByteArray(300, 1) << "pcx";
    QTest::newRow("encoding 2") << Header(8, 1, 8, 8, 8, 2) + QByteArray(300, 1) << "pcx";
    QByteArray notPcx(400, '\x11');
    notPcx[2] = 2;  // starts like an uncompressed TGA
    QTest::newRow("wrong extension") << notPcx << "pcx";
    QTest::newRow("8-bit palette only")
        << Header(8, 1, 16, 16, 16) + QByteArray(769, '\x0C') << "pcx";
  }
  void hostile() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, ext);
    QVERIFY_THROWS_EXCEPTION(PictureError, ReadPictureFromMemory(View(bytes), ext));
  }
};

QTEST_GUILESS_MAIN(TestPcx)
#include "tst_Pcx.moc"
