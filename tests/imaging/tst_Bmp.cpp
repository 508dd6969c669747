// The BMP reader against files written by Pillow and GraphicsMagick (and a few packed by
// hand where neither writes the layout), the writer against Pillow's decoder, and hostile
// files.

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "common/TestSupport.h"
#include "imaging/CodecRegistry.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"

namespace {

// Writes the reference files into the folder given as argv[1]. The source picture is 37 x 23
// so that every depth has row padding.
const char kMakeFixtures[] = R"PY(
import os, struct, subprocess, sys
from PIL import Image
d = sys.argv[1]
W, H = 37, 23
rgb = Image.new('RGB', (W, H))
px = rgb.load()
for y in range(H):
    for x in range(W):
        px[x, y] = ((x * 7) % 256, (y * 11) % 256, ((x + y) * 5) % 256)
rgb.save(d + '/src.png')
p200 = rgb.quantize(200); p200.save(d + '/p200.png')
p16 = rgb.quantize(16); p16.save(d + '/p16.png')

rgb.convert('1').save(d + '/bw1.bmp', dpi=(300, 300))
p200.save(d + '/pal8.bmp', dpi=(72, 72))
rgb.save(d + '/rgb24.bmp', dpi=(150, 150))
rgba = rgb.copy()
rgba.putalpha(Image.linear_gradient('L').resize((W, H)))
rgba.save(d + '/rgba32.bmp')
rgba.save(d + '/rgba.png')
open(d + '/rgba32.alpha', 'wb').write(rgba.getchannel('A').tobytes())
zero = rgb.copy(); zero.putalpha(0); zero.save(d + '/zeroalpha32.bmp')

def gm(*args):
    subprocess.run(['gm', 'convert'] + list(args), check=True)
gm(d + '/p16.png', 'BMP3:' + d + '/pal4.bmp')
gm(d + '/p200.png', '-compress', 'RLE', 'BMP3:' + d + '/rle8.bmp')
gm(d + '/src.png', 'BMP2:' + d + '/os2core24.bmp')
gm(d + '/p200.png', 'BMP2:' + d + '/os2core8.bmp')
gm(d + '/rgba.png', 'BMP:' + d + '/v4rgba.bmp')

def bmp(name, header, palette, rows, top_down=False):
    # rows: stored rows, already padded
    pixels = b''.join(rows)
    off = 14 + len(header) + len(palette)
    open(d + '/' + name, 'wb').write(b'BM' + struct.pack('<IHHI', off + len(pixels), 0, 0, off)
                                     + header + palette + pixels)

def info(bits, compression, size_image, colors=0, height=H, hsize=40, ppm=2835):
    return struct.pack('<IiiHHIIiiII', hsize, W, height, 1, bits, compression, size_image,
                       ppm, ppm, colors, 0)

def pad(row):
    return row + b'\0' * ((4 - len(row) % 4) % 4)

# 24-bit top-down: rows stored top first, negative height.
rows = [pad(b''.join(bytes((b, g, r)) for r, g, b in (px[x, y] for x in range(W)))) for y in range(H)]
bmp('topdown24.bmp', info(24, 0, 0, height=-H), b'', rows)

# 16-bit: 5-5-5 without masks, and 5-6-5 with bit-field masks.
rows555 = [pad(b''.join(struct.pack('<H', ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3))
                        for r, g, b in (px[x, y] for x in range(W)))) for y in reversed(range(H))]
bmp('rgb555.bmp', info(16, 0, 0), b'', rows555)
rows565 = [pad(b''.join(struct.pack('<H', ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3))
                        for r, g, b in (px[x, y] for x in range(W)))) for y in reversed(range(H))]
bmp('rgb565.bmp', info(16, 3, 0), struct.pack('<III', 0xF800, 0x07E0, 0x001F), rows565)

# 56-byte (V3) header: bit-field masks inside the header, alpha among them.
rows32 = [b''.join(bytes((b, g, r, (x * 7) % 256)) for x, (r, g, b) in
                   enumerate(px[x, y] for x in range(W))) for y in reversed(range(H))]
bmp('v3bitfields.bmp', info(32, 3, 0, hsize=56) + struct.pack('<IIII', 0xFF0000, 0xFF00, 0xFF,
                                                              0xFF000000), b'', rows32)
# 64-byte OS/2 2.x header, 8-bit with a 50-colour palette.
p50 = rgb.quantize(50)
ip = p50.load()
pal50 = p50.getpalette()[:150]
rows8 = [pad(bytes(ip[x, y] for x in range(W))) for y in reversed(range(H))]
bmp('os2v2.bmp', info(8, 0, 0, colors=50, hsize=64) + bytes(24),
    b''.join(bytes((pal50[3 * i + 2], pal50[3 * i + 1], pal50[3 * i], 0)) for i in range(50)),
    rows8)

# RLE4, encoded the way GraphicsMagick cannot: per row an absolute run of 6 pixels (3 bytes,
# padded), one of 30 (15 bytes, padded) and a 1-pixel encoded run, then end of line.
ipx = p16.load()
pal = b''.join(bytes((b, g, r, 0)) for r, g, b in
               (tuple(p16.getpalette()[3 * i:3 * i + 3]) for i in range(16)))
def nibbles(values):
    values = list(values) + [0] * (len(values) % 2)
    return bytes((values[i] << 4) | values[i + 1] for i in range(0, len(values), 2))
stream = b''
for y in reversed(range(H)):
    row = [ipx[x, y] for x in range(W)]
    for start, count in ((0, 6), (6, 30)):
        data = nibbles(row[start:start + count])
        stream += bytes((0, count)) + data + b'\0' * (len(data) % 2)
    stream += bytes((1, row[36] << 4)) + b'\0\0'
stream += b'\0\1'
bmp('rle4.bmp', info(4, 2, len(stream), colors=16), pal, [stream])
)PY";

void Put32(QByteArray& b, int at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (8 * i)) & 0xFF);
}

// A small 8-bit BMP (40-byte header) around the given palette and raw pixel data.
QByteArray MakeBmp8(int width, int height, const QList<QRgb>& palette, const QByteArray& pixels,
                    std::uint32_t compression = 0) {
  QByteArray b(54, '\0');
  b[0] = 'B';
  b[1] = 'M';
  const int off = 54 + int(palette.size()) * 4;
  Put32(b, 2, std::uint32_t(off + pixels.size()));
  Put32(b, 10, std::uint32_t(off));
  Put32(b, 14, 40);
  Put32(b, 18, std::uint32_t(width));
  Put32(b, 22, std::uint32_t(height));
  b[26] = 1;
  b[28] = 8;
  Put32(b, 30, compression);
  Put32(b, 34, std::uint32_t(pixels.size()));
  Put32(b, 46, std::uint32_t(palette.size()));
  for (QRgb c : palette) {
    const char entry[4] = {char(qBlue(c)), char(qGreen(c)), char(qRed(c)), '\0'};
    b.append(entry, 4);
  }
  return b + pixels;
}

int BitCountOf(const QByteArray& bmp) { return quint8(bmp[28]) | (quint8(bmp[29]) << 8); }

}  // namespace

class TestBmp : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void readsFilesOfOtherWriters_data();
  void readsFilesOfOtherWriters();
  void alphaChannel();
  void rleDeltaAndSkippedPixels();
  void writesDecodableFiles_data();
  void writesDecodableFiles();
  void reducesTrueColourWhenFewBitsAreAsked();
  void hostileFiles_data();
  void hostileFiles();

 private:
  QString Path(const QString& name) const { return Dir.filePath(name); }
  QTemporaryDir Dir;
};

void TestBmp::initTestCase() {
  QVERIFY(Dir.isValid());
  const ProcessResult r = RunPython(QString::fromLatin1(kMakeFixtures), {Dir.path()});
  QVERIFY2(r.ExitCode == 0, r.Err.constData());
}

void TestBmp::readsFilesOfOtherWriters_data() {
  QTest::addColumn<QString>("file");
  QTest::addColumn<int>("bits");
  QTest::addColumn<int>("samples");
  QTest::addColumn<int>("dpi");
  QTest::addColumn<bool>("byPillow");  // else by GraphicsMagick, for what Pillow cannot read

  QTest::newRow("1-bit, Pillow") << "bw1.bmp" << 1 << 1 << 300 << true;
  QTest::newRow("4-bit, GraphicsMagick") << "pal4.bmp" << 4 << 1 << 74 << true;
  QTest::newRow("8-bit, Pillow") << "pal8.bmp" << 8 << 1 << 72 << true;
  QTest::newRow("24-bit, Pillow") << "rgb24.bmp" << 8 << 3 << 150 << true;
  QTest::newRow("32-bit BGRA, Pillow") << "rgba32.bmp" << 8 << 4 << 96 << true;
  QTest::newRow("32-bit, alpha all zero") << "zeroalpha32.bmp" << 8 << 4 << 96 << true;
  QTest::newRow("32-bit V4 bit fields, GraphicsMagick") << "v4rgba.bmp" << 8 << 4 << 74 << true;
  QTest::newRow("RLE8, GraphicsMagick") << "rle8.bmp" << 8 << 1 << 74 << true;
  QTest::newRow("RLE4 with padded absolute runs") << "rle4.bmp" << 4 << 1 << 72 << true;
  QTest::newRow("OS/2 core header 24-bit") << "os2core24.bmp" << 8 << 3 << 96 << true;
  QTest::newRow("OS/2 core header 8-bit") << "os2core8.bmp" << 8 << 1 << 96 << true;
  QTest::newRow("24-bit top-down") << "topdown24.bmp" << 8 << 3 << 72 << true;
  QTest::newRow("16-bit 5-5-5") << "rgb555.bmp" << 16 << 1 << 72 << true;
  QTest::newRow("16-bit 5-6-5 bit fields") << "rgb565.bmp" << 16 << 1 << 72 << true;
  QTest::newRow("OS/2 2.x 64-byte header 8-bit") << "os2v2.bmp" << 8 << 1 << 72 << true;
  QTest::newRow("56-byte header, bit fields with alpha")
      << "v3bitfields.bmp" << 8 << 4 << 72 << false;
}

void TestBmp::readsFilesOfOtherWriters() {
  QFETCH(QString, file);
  QFETCH(int, bits);
  QFETCH(int, samples);
  QFETCH(int, dpi);
  QFETCH(bool, byPillow);
  const QString path = Path(file);

  const HeaderFacts facts = ReadHeaderFacts(path);
  QCOMPARE(facts.FileType, int(PictureFileType::Bmp));
  QCOMPARE(facts.Width, 37);
  QCOMPARE(facts.Height, 23);
  QCOMPARE(facts.BitsPerSample, bits);
  QCOMPARE(facts.SamplesPerPixel, samples);
  QCOMPARE(facts.DpiX, dpi);

  const Picture picture = ReadPicture(path);
  QCOMPARE(picture.Image.format(), QImage::Format_BGR888);
  QCOMPARE(picture.Params.FileType, int(PictureFileType::Bmp));
  QCOMPARE(picture.Params.BitsPerSample, bits);
  QCOMPARE(picture.Params.SamplesPerPixel, samples);
  QCOMPARE(picture.Params.DpiX, dpi);
  QCOMPARE(picture.Params.DpiY, dpi);

  QString error;
  QString decodable = path;
  if (!byPillow) {
    decodable = path + ".gm.png";
    QCOMPARE(RunProgram("gm", {"convert", path, decodable}).ExitCode, 0);
  }
  const QImage reference = DecodeWithPillow(decodable, &error);
  QVERIFY2(!reference.isNull(), qPrintable(error));
  QCOMPARE(MaxChannelDifference(picture.Image, reference), 0);
}

void TestBmp::alphaChannel() {
  // Pillow's BGRA file: the alpha plane is the source's alpha.
  const Picture withAlpha = ReadPicture(Path("rgba32.bmp"));
  QVERIFY(withAlpha.HasAlpha());
  const QByteArray expected = ReadAll(Path("rgba32.alpha"));
  QCOMPARE(expected.size(), 37 * 23);
  for (int y = 0; y < 23; ++y)
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(withAlpha.Alpha.constScanLine(y)), 37),
             expected.mid(y * 37, 37));

  // The same through GraphicsMagick's V4 bit fields.
  const Picture v4 = ReadPicture(Path("v4rgba.bmp"));
  QVERIFY(v4.HasAlpha());
  QCOMPARE(QByteArray(reinterpret_cast<const char*>(v4.Alpha.constScanLine(22)), 37),
           expected.mid(22 * 37, 37));

  // A 32-bit file whose fourth byte is zero everywhere is opaque, not invisible.
  QVERIFY(!ReadPicture(Path("zeroalpha32.bmp")).HasAlpha());
  QVERIFY(!ReadPicture(Path("rgb24.bmp")).HasAlpha());
  QVERIFY(ReadPicture(Path("v3bitfields.bmp")).HasAlpha());
}

void TestBmp::rleDeltaAndSkippedPixels() {
  // 4 x 3 RLE8, rows stored bottom-up. Bottom row: run of 2 x colour 1, end of line. Middle
  // row: delta right 1 and up 1 (to the top row, x = 1); top row: absolute run 2, 1, 2
  // (3 bytes, padded to 4), end of bitmap. Every skipped pixel keeps colour 0.
  const QList<QRgb> palette = {qRgb(10, 20, 30), qRgb(200, 0, 0), qRgb(0, 0, 250)};
  const QByteArray stream = QByteArray::fromHex("0201 0000 0002 0101 0003 020102 00 0001");
  const QByteArray bmp = MakeBmp8(4, 3, palette, stream, 1);
  const Codec* codec = CodecRegistry::Instance().ForExtension("bmp");
  QVERIFY(codec);
  const Picture picture = codec->Read(View(bmp), {});
  const int expected[3][4] = {{0, 2, 1, 2}, {0, 0, 0, 0}, {1, 1, 0, 0}};  // top row first
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) QCOMPARE(picture.Image.pixel(x, y), palette[expected[y][x]]);
}

void TestBmp::writesDecodableFiles_data() {
  QTest::addColumn<int>("kind");  // 1, 4, 8 or 24 bits per pixel
  QTest::newRow("1-bit") << 1;
  QTest::newRow("4-bit") << 4;
  QTest::newRow("8-bit") << 8;
  QTest::newRow("24-bit") << 24;
}

void TestBmp::writesDecodableFiles() {
  QFETCH(int, kind);
  const QImage photo = MakeTestPicture(45, 31);
  Picture picture;
  picture.Params.DpiX = picture.Params.DpiY = 300;
  if (kind == 1) {
    picture.Image = photo.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    picture.Params.BitsPerSample = 1;
    picture.Params.SamplesPerPixel = 1;
  } else if (kind == 4 || kind == 8) {
    picture.Image = photo.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    if (kind == 4) {
      // At most 16 colours: keep the low four bits of each index.
      QList<QRgb> colors;
      for (int i = 0; i < 16; ++i) colors.append(qRgb(i * 16, 255 - i * 12, (i * 73) % 256));
      picture.Image.setColorTable(colors);
      for (int y = 0; y < picture.Image.height(); ++y) {
        uchar* p = picture.Image.scanLine(y);
        for (int x = 0; x < picture.Image.width(); ++x) p[x] = uchar((x + 3 * y) % 16);
      }
    }
    picture.Params.BitsPerSample = kind;
    picture.Params.SamplesPerPixel = 1;
  } else {
    picture.Image = photo;
  }

  const QString path = Path(QStringLiteral("ours%1.bmp").arg(kind));
  WritePicture(picture, path);
  const QByteArray bytes = ReadAll(path);
  QCOMPARE(BitCountOf(bytes), kind);

  QString error;
  const QImage reference = DecodeWithPillow(path, &error);
  QVERIFY2(!reference.isNull(), qPrintable(error));
  QCOMPARE(MaxChannelDifference(picture.Image.convertToFormat(QImage::Format_RGB888), reference),
           0);

  const Picture back = ReadPicture(path);
  QCOMPARE(MaxChannelDifference(back.Image, reference), 0);
  QCOMPARE(back.Params.DpiX, 300);
  QCOMPARE(back.Params.BitsPerSample * back.Params.SamplesPerPixel, kind);
}

void TestBmp::reducesTrueColourWhenFewBitsAreAsked() {
  // A 24-bit picture whose params ask for 1, 4 or 8 bits is reduced by the writer; one that
  // asks for true colour is written as it is.
  const QImage photo = MakeTestPicture(40, 20);
  for (const auto& [bits, written] : {std::pair{1, 1}, {4, 4}, {8, 8}, {24, 24}, {16, 24}}) {
    Picture picture;
    picture.Image = photo;
    picture.Params.BitsPerSample = bits == 24 ? 8 : bits;
    picture.Params.SamplesPerPixel = bits == 24 ? 3 : 1;
    const QString path = Path(QStringLiteral("reduced%1.bmp").arg(bits));
    WritePicture(picture, path);
    QCOMPARE(BitCountOf(ReadAll(path)), written);
    QString error;
    const QImage reference = DecodeWithPillow(path, &error);
    QVERIFY2(!reference.isNull(), qPrintable(error));
    QCOMPARE(MaxChannelDifference(ReadPicture(path).Image, reference), 0);
    if (written == 24) QCOMPARE(MaxChannelDifference(photo, reference), 0);
  }
}

void TestBmp::hostileFiles_data() {
  QTest::addColumn<QByteArray>("bytes");
  const QByteArray good24 = ReadAll(Path("rgb24.bmp"));
  const QByteArray rle8 = ReadAll(Path("rle8.bmp"));
  const QByteArray pal8 = ReadAll(Path("pal8.bmp"));
  QVERIFY(!good24.isEmpty() && !rle8.isEmpty() && !pal8.isEmpty());

  QTest::newRow("zero-length") << QByteArray();
  QTest::newRow("signature only") << QByteArray("BM");
  for (int cut : {10, 20, 40, 60, 200, int(good24.size()) - 5})
    QTest::addRow("24-bit cut at %d", cut) << good24.left(cut);
  QTest::newRow("RLE8 cut in the middle") << rle8.left(rle8.size() / 2);
  QTest::newRow("text named .bmp") << QByteArray("BM this is not a bitmap at all, only text.");

  QByteArray wide = good24;
  Put32(wide, 18, 100000);
  QTest::newRow("width 100000") << wide;
  QByteArray huge = good24;
  Put32(huge, 18, 30000);
  Put32(huge, 22, 30000);
  QTest::newRow("900 megapixels") << huge;
  QByteArray minHeight = good24;
  Put32(minHeight, 22, 0x80000000u);
  QTest::newRow("height -2^31") << minHeight;
  QByteArray negWidth = good24;
  Put32(negWidth, 18, 0xFFFFFFF0u);
  QTest::newRow("negative width") << negWidth;
  QByteArray zeroHeight = good24;
  Put32(zeroHeight, 22, 0);
  QTest::newRow("zero height") << zeroHeight;

  for (std::uint32_t offset : {0xFFFFFFF0u, 0x80000000u, 2u, 20u}) {
    QByteArray bad = good24;
    Put32(bad, 10, offset);
    QTest::addRow("pixel offset %u", offset) << bad;
  }
  // The palette must not be read from beyond the file when the pixel offset points there.
  for (std::uint32_t offset : {0xFFFFFFF0u, 0x10000u}) {
    QByteArray bad = pal8;
    Put32(bad, 10, offset);
    QTest::addRow("8-bit, pixel offset %u", offset) << bad;
  }
  QByteArray headerSize = good24;
  Put32(headerSize, 14, 0x7FFFFFFF);
  QTest::newRow("header size 2^31 - 1") << headerSize;
  QByteArray depth = good24;
  depth[28] = 3;
  QTest::newRow("3 bits per pixel") << depth;
  QByteArray jpeg = good24;
  jpeg[30] = 4;
  QTest::newRow("JPEG compression") << jpeg;

  // Palette index past a two-colour palette.
  QTest::newRow("index past the palette")
      << MakeBmp8(4, 1, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, QByteArray::fromHex("00010500"));
  // RLE: runs beyond the last row, a delta beyond the last row, a run that promises more
  // bytes than there are.
  const QList<QRgb> two = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
  QTest::newRow("RLE run past the last row")
      << MakeBmp8(2, 1, two, QByteArray::fromHex("0201 0000 0201 0001"), 1);
  QTest::newRow("RLE delta past the last row")
      << MakeBmp8(2, 2, two, QByteArray::fromHex("0002 0105 0001"), 1);
  QTest::newRow("RLE absolute run past the data")
      << MakeBmp8(8, 2, two, QByteArray::fromHex("0008 0101"), 1);
  QTest::newRow("RLE ends before the picture is full")
      << MakeBmp8(2, 4, two, QByteArray::fromHex("0201 0000"), 1);
  QTest::newRow("RLE8 with index past the palette")
      << MakeBmp8(2, 1, two, QByteArray::fromHex("0209 0001"), 1);
}

void TestBmp::hostileFiles() {
  QFETCH(QByteArray, bytes);
  const Codec* codec = CodecRegistry::Instance().ForExtension("bmp");
  QVERIFY(codec);
  QVERIFY_THROWS_EXCEPTION(PictureError, codec->Read(View(bytes), {}));

  // Through the file functions: a read error, and header facts with code 0 (a header that
  // is intact may still give its facts).
  const QString path = Path("hostile.bmp");
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
  file.close();
  QVERIFY_THROWS_EXCEPTION(PictureError, ReadPicture(path));
  const HeaderFacts facts = ReadHeaderFacts(path);
  QVERIFY(facts.FileType == 0 || facts.FileType == int(PictureFileType::Bmp));
  if (facts.FileType == 0) QCOMPARE(facts.Width, 0);
}

QTEST_GUILESS_MAIN(TestBmp)
#include "tst_Bmp.moc"
