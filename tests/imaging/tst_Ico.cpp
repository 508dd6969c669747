// The icon and cursor reader against files written by Pillow (and DIB icons with AND masks
// packed around Pillow's DIBs), and hostile files.

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "common/TestSupport.h"
#include "imaging/CodecRegistry.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"

namespace {

// Writes the icons, a PNG of the picture each one should give (reference colours) and the
// expected alpha plane as raw bytes ("<name>.alpha"; absent when the icon is opaque).
const char kMakeFixtures[] = R"PY(
import struct, sys
from io import BytesIO
from PIL import Image
d = sys.argv[1]

def pattern(w, h):
    im = Image.new('RGB', (w, h))
    px = im.load()
    for y in range(h):
        for x in range(w):
            px[x, y] = ((x * 9 + y) % 256, (y * 13) % 256, (x * y + 40) % 256)
    return im

def expect(name, rgb, alpha=None):
    rgb.convert('RGB').save(d + '/' + name + '.png')
    if alpha is not None:
        open(d + '/' + name + '.alpha', 'wb').write(alpha.tobytes())

# Pillow's own icons: PNG pictures (its default), and 32-bit DIBs with alpha.
rgba48 = pattern(48, 48)
rgba48.putalpha(Image.linear_gradient('L').resize((48, 48)))
rgba48.save(d + '/png_sizes.ico', sizes=[(16, 16), (32, 32), (48, 48)])
expect('png_sizes', rgba48, rgba48.getchannel('A'))
rgba48.save(d + '/dib32_sizes.ico', bitmap_format='bmp', sizes=[(16, 16), (32, 32), (48, 48)])
expect('dib32_sizes', rgba48, rgba48.getchannel('A'))

# One size in two depths, the 8-bit one first: the 32-bit one must win.
rgba32 = pattern(32, 32)
rgba32.putalpha(200)
pal = pattern(32, 32).quantize(64)
pal.save(d + '/depths.ico', bitmap_format='bmp', sizes=[(32, 32)], append_images=[rgba32])
expect('depths', rgba32, rgba32.getchannel('A'))

# An 8-bit palette icon with an empty AND mask (opaque).
pal.save(d + '/pal8.ico', bitmap_format='bmp', sizes=[(32, 32)])
expect('pal8', pal)

# DIB entries packed by hand around Pillow's DIBs, with a patterned AND mask.
def dib_entry(im, masked=None):
    bio = BytesIO()
    im.save(bio, 'dib')
    dib = bytearray(bio.getvalue())
    w, h = im.size
    struct.pack_into('<i', dib, 8, 2 * h)
    row = (w + 31) // 32 * 4
    mask = bytearray(row * h)
    alpha = Image.new('L', (w, h), 255)
    for y in range(h):
        for x in range(w):
            if masked and masked(x, y):
                mask[(h - 1 - y) * row + x // 8] |= 0x80 >> (x % 8)
                alpha.putpixel((x, y), 0)
    return (w, h, im.mode, bytes(dib) + bytes(mask)), alpha

def pack(entries, kind=1, hotspots=None):
    out = struct.pack('<HHH', 0, kind, len(entries))
    offset = 6 + 16 * len(entries)
    body = b''
    for i, (w, h, mode, data) in enumerate(entries):
        bits = {'RGB': 24, 'P': 8, '1': 1, 'RGBA': 32}[mode]
        a, b = (1, bits) if kind == 1 else hotspots[i]
        out += struct.pack('<BBBBHHII', w % 256, h % 256, 0, 0, a, b, len(data), offset + len(body))
        body += data
    return out + body

corner = lambda x, y: x * x + y * y < 120 or (x + 2 * y) % 7 == 0
rgb40 = pattern(40, 40)
small, _ = dib_entry(pattern(16, 16))
big, alpha40 = dib_entry(rgb40, corner)
open(d + '/mask24.ico', 'wb').write(pack([small, big]))
expect('mask24', rgb40, alpha40)

mono = pattern(32, 32).convert('1')
entry, alpha_mono = dib_entry(mono, lambda x, y: y < 4)
open(d + '/mono.ico', 'wb').write(pack([entry]))
expect('mono', mono, alpha_mono)

# A cursor: the directory holds hot spots where an icon holds planes and depth.
open(d + '/two.cur', 'wb').write(pack([big, small], kind=2, hotspots=[(5, 7), (3, 9)]))
expect('two', rgb40, alpha40)
)PY";

void Put16(QByteArray& b, int at, std::uint16_t v) {
  b[at] = char(v & 0xFF);
  b[at + 1] = char(v >> 8);
}

void Put32(QByteArray& b, int at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (8 * i)) & 0xFF);
}

QByteArray AlphaBytes(const QImage& alpha) {
  QByteArray bytes;
  for (int y = 0; y < alpha.height(); ++y)
    bytes.append(reinterpret_cast<const char*>(alpha.constScanLine(y)), alpha.width());
  return bytes;
}

}  // namespace

class TestIco : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void readsLargestPicture_data();
  void readsLargestPicture();
  void foundByContentWhateverTheExtension();
  void hostileFiles_data();
  void hostileFiles();

 private:
  QString Path(const QString& name) const { return Dir.filePath(name); }
  QTemporaryDir Dir;
};

void TestIco::initTestCase() {
  QVERIFY(Dir.isValid());
  const ProcessResult r = RunPython(QString::fromLatin1(kMakeFixtures), {Dir.path()});
  QVERIFY2(r.ExitCode == 0, r.Err.constData());
}

void TestIco::readsLargestPicture_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("ext");
  QTest::addColumn<int>("type");
  QTest::addColumn<int>("size");
  QTest::addColumn<int>("bits");
  QTest::addColumn<int>("samples");
  QTest::addColumn<bool>("pillowPicksTheSame");

  const int ico = PictureFileType::Ico;
  QTest::newRow("PNG pictures, three sizes") << "png_sizes"
                                             << "ico" << ico << 48 << 8 << 4 << true;
  QTest::newRow("32-bit DIBs with alpha, three sizes") << "dib32_sizes"
                                                       << "ico" << ico << 48 << 8 << 4 << true;
  QTest::newRow("one size in 8 and 32 bits") << "depths"
                                             << "ico" << ico << 32 << 8 << 4 << false;
  QTest::newRow("8-bit palette, empty mask") << "pal8"
                                             << "ico" << ico << 32 << 8 << 1 << true;
  QTest::newRow("24-bit with AND mask") << "mask24"
                                        << "ico" << ico << 40 << 8 << 3 << true;
  QTest::newRow("1-bit with AND mask") << "mono"
                                       << "ico" << ico << 32 << 1 << 1 << true;
  QTest::newRow("cursor with hot spots")
      << "two"
      << "cur" << int(PictureFileType::Cur) << 40 << 8 << 3 << true;
}

void TestIco::readsLargestPicture() {
  QFETCH(QString, name);
  QFETCH(QString, ext);
  QFETCH(int, type);
  QFETCH(int, size);
  QFETCH(int, bits);
  QFETCH(int, samples);
  QFETCH(bool, pillowPicksTheSame);
  const QString path = Path(name + "." + ext);

  const HeaderFacts facts = ReadHeaderFacts(path);
  QCOMPARE(facts.FileType, type);
  QCOMPARE(facts.Width, size);
  QCOMPARE(facts.Height, size);
  QCOMPARE(facts.BitsPerSample, bits);
  QCOMPARE(facts.SamplesPerPixel, samples);
  QCOMPARE(facts.DpiX, kDefaultDpi);

  const Picture picture = ReadPicture(path);
  QCOMPARE(picture.Image.format(), QImage::Format_BGR888);
  QCOMPARE(picture.Params.FileType, type);
  QCOMPARE(picture.Width(), size);
  QCOMPARE(picture.Height(), size);
  QCOMPARE(picture.Params.BitsPerSample, bits);
  QCOMPARE(picture.Params.SamplesPerPixel, samples);

  QString error;
  const QImage expected = DecodeWithPillow(Path(name + ".png"), &error);
  QVERIFY2(!expected.isNull(), qPrintable(error));
  QCOMPARE(MaxChannelDifference(picture.Image, expected), 0);
  if (pillowPicksTheSame) {
    const QImage pillow = DecodeWithPillow(path, &error);
    QVERIFY2(!pillow.isNull(), qPrintable(error));
    QCOMPARE(MaxChannelDifference(picture.Image, pillow), 0);
  }

  const QString alphaPath = Path(name + ".alpha");
  if (QFile::exists(alphaPath)) {
    QVERIFY(picture.HasAlpha());
    QCOMPARE(AlphaBytes(picture.Alpha), ReadAll(alphaPath));
  } else {
    QVERIFY(!picture.HasAlpha());
  }
}

void TestIco::foundByContentWhateverTheExtension() {
  // An icon named .cur (and a cursor named .ico) is read as what its content says.
  QVERIFY(QFile::copy(Path("mask24.ico"), Path("renamed.cur")));
  QCOMPARE(ReadPicture(Path("renamed.cur")).Params.FileType, int(PictureFileType::Ico));
  QVERIFY(QFile::copy(Path("two.cur"), Path("renamed.ico")));
  QCOMPARE(ReadHeaderFacts(Path("renamed.ico")).FileType, int(PictureFileType::Cur));
}

void TestIco::hostileFiles_data() {
  QTest::addColumn<QString>("ext");
  QTest::addColumn<QByteArray>("bytes");
  const QByteArray mask24 = ReadAll(Path("mask24.ico"));
  const QByteArray png = ReadAll(Path("png_sizes.ico"));
  QVERIFY(!mask24.isEmpty() && !png.isEmpty());
  // The second entry of mask24.ico is the 40 x 40 one; its fields begin at 22.
  const int entry = 22;
  const int dibOffset = quint8(mask24[entry + 12]) | (quint8(mask24[entry + 13]) << 8);

  QTest::newRow("zero-length") << "ico" << QByteArray();
  QTest::newRow("header only") << "ico" << mask24.left(6);
  QTest::newRow("directory cut") << "ico" << mask24.left(30);
  // Cut inside the small picture's header (nothing readable is left), inside the large
  // picture's pixels, and inside its mask.
  for (int cut : {50, dibOffset + 100, int(mask24.size()) - 10})
    QTest::addRow("cut at %d", cut) << "ico" << mask24.left(cut);
  QByteArray none = mask24;
  Put16(none, 4, 0);
  QTest::newRow("no pictures") << "ico" << none;
  QByteArray cursor = mask24;
  Put16(cursor, 2, 2);
  QTest::newRow("cursor read as icon") << "ico" << cursor;
  QTest::newRow("icon read as cursor") << "cur" << mask24;

  QByteArray farOffsets = mask24;
  Put32(farOffsets, 6 + 12, 0xFFFFFFFFu);
  Put32(farOffsets, entry + 12, 0x7FFFFFF0u);
  QTest::newRow("offsets past the end") << "ico" << farOffsets;
  QByteArray intoDirectory = mask24;
  Put32(intoDirectory, 6 + 12, 0);
  Put32(intoDirectory, entry + 12, 6);
  QTest::newRow("offsets into the directory") << "ico" << intoDirectory;
  QByteArray hugeDib = mask24;
  Put32(hugeDib, dibOffset + 4, 40000);
  Put32(hugeDib, dibOffset + 8, 80000);
  Put32(hugeDib, 6 + 12, 0xFFFFFFFFu);
  QTest::newRow("DIB of 40000 x 40000") << "ico" << hugeDib;
  QByteArray noMask = mask24;
  Put32(noMask, 6 + 12, 0xFFFFFFFFu);
  noMask.chop(40 * 8);  // the AND mask of the 40 x 40 picture is 40 rows of 8 bytes
  QTest::newRow("24-bit picture without its mask") << "ico" << noMask;

  // A PNG entry whose data is damaged after its header: the PNG reader refuses it.
  QByteArray badPng = png;
  const int last = 6 + 2 * 16;
  const int pngOffset = quint8(badPng[last + 12]) | (quint8(badPng[last + 13]) << 8);
  for (int i = pngOffset + 40; i < badPng.size(); ++i) badPng[i] = char(0xA5);
  QTest::newRow("damaged PNG picture") << "ico" << badPng;
}

void TestIco::hostileFiles() {
  QFETCH(QString, ext);
  QFETCH(QByteArray, bytes);
  const Codec* codec = CodecRegistry::Instance().ForExtension(ext);
  QVERIFY(codec);
  QVERIFY_THROWS_EXCEPTION(PictureError, codec->Read(View(bytes), {}));
}

QTEST_GUILESS_MAIN(TestIco)
#include "tst_Ico.moc"
