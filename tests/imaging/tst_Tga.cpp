#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "common/TestSupport.h"
#include "imaging/CodecRegistry.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"

namespace {

// Makes a picture with Pillow and saves it as TGA.
// argv: tga path, Pillow expression turning the RGBA picture `im` into the one to save,
// keyword arguments of save() as a Python dict literal, width, height.
const char kPillowScript[] = R"(
import sys
from PIL import Image
w, h = int(sys.argv[4]), int(sys.argv[5])
im = Image.new('RGBA', (w, h))
im.putdata([((x * 7) % 256, (y * 11) % 256, (x * y + 200) % 256, (x * 40 + y * 3) % 256)
            for y in range(h) for x in range(w)])
eval(sys.argv[2]).save(sys.argv[1], **eval(sys.argv[3]))
)";

// Writes a TGA of the given header fields from a pixel grid, for the layouts no converter
// writes. argv: path, kind. Kinds are listed in the table of craftedFiles.
const char kCraftScript[] = R"(
import sys, struct
out, kind = sys.argv[1], sys.argv[2]
w, h = 11, 5
def tga(typ, depth, desc, data, maptype=0, first=0, maplen=0, entry=0, cmap=b'', ident=b''):
    return struct.pack('<BBBHHBHHHHBB', len(ident), maptype, typ, first, maplen, entry, 0, 0,
                       w, h, depth, desc) + ident + cmap + data
def p16(x, y, attr): return struct.pack('<H', (attr << 15) | ((x * 3) % 32) << 10 | ((y * 7) % 32) << 5 | ((x + y) % 32))
def bgr(x, y): return bytes([(x * 20) % 256, (y * 50) % 256, (x * y * 9) % 256])
def rows(f): return b''.join(f(x, y) for y in range(h) for x in range(w))
def rle_across_lines(pixels, size):
    # runs of 3 equal pixels alternating with raw packets of 3, ignoring scan lines
    out = bytearray(); i = 0; n = len(pixels) // size; run = True
    while i < n:
        k = min(3, n - i)
        if run:
            out.append(0x80 | (k - 1)); out += pixels[i * size:(i + 1) * size]
        else:
            out.append(k - 1); out += pixels[i * size:(i + k) * size]
        i += k; run = not run
    return bytes(out)
if kind == '16-bit':
    data = tga(2, 16, 0x20, rows(lambda x, y: p16(x, y, 1)))
elif kind == '15-bit':
    data = tga(2, 15, 0x00, rows(lambda x, y: p16(x, y, 0)))
elif kind == 'right-to-left':
    data = tga(2, 24, 0x30, rows(bgr))
elif kind == 'bottom-right':
    data = tga(2, 24, 0x10, rows(bgr))
elif kind == 'image id':
    data = tga(2, 24, 0x20, rows(bgr), ident=b'made by a test' * 3)
elif kind == 'map first entry':
    cmap = b''.join(bytes([i * 20, 255 - i * 20, (i * 99) % 256]) for i in range(12))
    data = tga(1, 8, 0x20, rows(lambda x, y: bytes([100 + (x + y) % 12])), 1, 100, 12, 24, cmap)
elif kind == '16-bit map':
    cmap = b''.join(struct.pack('<H', i * 2047) for i in range(16))
    data = tga(1, 8, 0x00, rows(lambda x, y: bytes([(x * y) % 16])), 1, 0, 16, 16, cmap)
elif kind == 'rle across lines':
    data = tga(10, 24, 0x20, rle_across_lines(rows(bgr), 3))
elif kind == 'mapped rle across lines':
    cmap = b''.join(bytes([i * 30, i * 5, 255 - i * 30]) for i in range(8))
    data = tga(9, 8, 0x00, rle_across_lines(rows(lambda x, y: bytes([(x + 2 * y) % 8])), 1), 1, 0, 8, 24, cmap)
open(out, 'wb').write(data)
)";

// The alpha channel as Pillow reads it, as a Format_Grayscale8 picture.
const char kPillowAlphaScript[] = R"(
import sys
from PIL import Image
im = Image.open(sys.argv[1]).convert('RGBA')
sys.stdout.buffer.write(b'%d %d\n' % im.size + im.getchannel('A').tobytes())
)";

QImage AlphaWithPillow(const QString& path) {
  const ProcessResult r = RunPython(QString::fromLatin1(kPillowAlphaScript), {path});
  const int eol = r.Out.indexOf('\n');
  if (r.ExitCode != 0 || eol < 0) return {};
  const QList<QByteArray> size = r.Out.left(eol).split(' ');
  const int w = size.value(0).toInt(), h = size.value(1).toInt();
  if (r.Out.size() - eol - 1 != qsizetype(w) * h) return {};
  QImage alpha(w, h, QImage::Format_Grayscale8);
  for (int y = 0; y < h; ++y) memcpy(alpha.scanLine(y), r.Out.constData() + eol + 1 + y * w, w);
  return alpha;
}

// Decodes with GraphicsMagick (through a PNG that Pillow reads back).
QImage DecodeWithGm(const QString& path, const QString& scratchPng) {
  const ProcessResult r =
      RunProgram(QStringLiteral("gm"), {QStringLiteral("convert"), path, scratchPng});
  if (r.ExitCode != 0) return {};
  return DecodeWithPillow(scratchPng);
}

// An 18-byte TGA header, for hostile inputs.
QByteArray Header(int type, int depth, int width, int height, int mapType = 0, int mapFirst = 0,
                  int mapLength = 0, int mapBits = 0, int descriptor = 0x20) {
  QByteArray h(18, '\0');
  auto put16 = [&](int at, int v) {
    h[at] = char(v & 0xFF);
    h[at + 1] = char((v >> 8) & 0xFF);
  };
  h[1] = char(mapType);
  h[2] = char(type);
  put16(3, mapFirst);
  put16(5, mapLength);
  h[7] = char(mapBits);
  put16(12, width);
  put16(14, height);
  h[16] = char(depth);
  h[17] = char(descriptor);
  return h;
}

QImage MakeAlpha(int width, int height) {
  QImage alpha(width, height, QImage::Format_Grayscale8);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      alpha.scanLine(y)[x] = uchar(x < 5 ? 255 : (x * 9 + y * 31) % 256);
  return alpha;
}

}  // namespace

class TestTga : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir Dir;
  QString Path(const QString& name) const { return Dir.filePath(name); }
  static QString Tag() { return QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_'); }

  // Checks a decoded picture against the independent decoder's pixels (and alpha, when given).
  static void CheckPicture(const Picture& picture, const QImage& expected, const QImage& alpha) {
    QCOMPARE(picture.Image.format(), QImage::Format_BGR888);
    QCOMPARE(picture.Image.size(), expected.size());
    QCOMPARE(MaxChannelDifference(picture.Image, expected), 0);
    QCOMPARE(picture.HasAlpha(), !alpha.isNull());
    if (!alpha.isNull()) {
      QCOMPARE(picture.Alpha.format(), QImage::Format_Grayscale8);
      QCOMPARE(picture.Alpha, alpha);
    }
  }

 private slots:
  void initTestCase() {
    QVERIFY(Dir.isValid());
    QVERIFY2(CodecRegistry::Instance().ForFileType(PictureFileType::Tga), "TGA codec missing");
  }

  // Files written by Pillow and GraphicsMagick: dimensions, exact pixels and alpha against
  // Pillow, header facts.
  void readsFilesOfOtherPrograms_data() {
    QTest::addColumn<QString>("maker");
    QTest::addColumn<QString>("expression");  // Pillow: the picture; gm: its options
    QTest::addColumn<QString>("options");     // Pillow: save() keywords
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("samples");
    QTest::addColumn<bool>("alpha");
    const QSize s(37, 23);
    const QString rle = "{'compression': 'tga_rle'}";
    const QString raw = "{}";
    const QString top = "{'orientation': 1}";
    QTest::newRow("24-bit raw") << "pillow"
                                << "im.convert('RGB')" << raw << s << 8 << 3 << false;
    QTest::newRow("24-bit rle") << "pillow"
                                << "im.convert('RGB')" << rle << s << 8 << 3 << false;
    QTest::newRow("24-bit top-left") << "pillow"
                                     << "im.convert('RGB')" << top << s << 8 << 3 << false;
    QTest::newRow("32-bit raw") << "pillow"
                                << "im" << raw << s << 8 << 4 << true;
    QTest::newRow("32-bit rle") << "pillow"
                                << "im" << rle << s << 8 << 4 << true;
    QTest::newRow("mapped raw") << "pillow"
                                << "im.convert('RGB').quantize(200)" << raw << s << 8 << 1 << false;
    QTest::newRow("mapped rle") << "pillow"
                                << "im.convert('RGB').quantize(200)" << rle << s << 8 << 1 << false;
    QTest::newRow("grey raw") << "pillow"
                              << "im.convert('L')" << raw << s << 8 << 1 << false;
    QTest::newRow("grey rle") << "pillow"
                              << "im.convert('L')" << rle << s << 8 << 1 << false;
    QTest::newRow("grey and alpha") << "pillow"
                                    << "im.convert('LA')" << raw << s << 8 << 2 << true;
    QTest::newRow("grey and alpha rle") << "pillow"
                                        << "im.convert('LA')" << rle << s << 8 << 2 << true;
    QTest::newRow("1-bit") << "pillow"
                           << "im.convert('1')" << raw << s << 1 << 1 << false;
    QTest::newRow("wide rle") << "pillow"
                              << "im.convert('RGB').resize((300, 2))" << rle << QSize(300, 2) << 8
                              << 3 << false;
    QTest::newRow("gm 24-bit") << "gm"
                               << ""
                               << "" << s << 8 << 3 << false;
    QTest::newRow("gm 16 colours") << "gm"
                                   << "-colors 16"
                                   << "" << s << 8 << 1 << false;
    QTest::newRow("gm grey") << "gm"
                             << "-type Grayscale"
                             << "" << s << 8 << 1 << false;
    QTest::newRow("gm monochrome") << "gm"
                                   << "-monochrome"
                                   << "" << s << 1 << 1 << false;
    QTest::newRow("gm with alpha") << "gm"
                                   << ""
                                   << "rgba" << s << 8 << 4 << true;
  }
  void readsFilesOfOtherPrograms() {
    QFETCH(QString, maker);
    QFETCH(QString, expression);
    QFETCH(QString, options);
    QFETCH(QSize, size);
    QFETCH(int, bits);
    QFETCH(int, samples);
    QFETCH(bool, alpha);
    const QString tga = Path(Tag() + ".tga");
    const QString w = QString::number(size.width()), h = QString::number(size.height());
    ProcessResult made;
    if (maker == "pillow") {
      made = RunPython(kPillowScript, {tga, expression, options, w, h});
    } else {
      // GraphicsMagick converts a PNG made by Pillow (with alpha when asked).
      const QString png = Path(Tag() + ".png");
      made = RunPython(kPillowScript,
                       {png, options == "rgba" ? "im" : "im.convert('RGB')", "{}", w, h});
      if (made.ExitCode == 0)
        made = RunProgram("gm", QStringList{"convert", png} +
                                    expression.split(' ', Qt::SkipEmptyParts) + QStringList{tga});
    }
    QVERIFY2(made.ExitCode == 0, made.Err.constData());
    QString error;
    const QImage expected = DecodeWithPillow(tga, &error);
    QVERIFY2(!expected.isNull(), qPrintable(error));

    const Picture picture = ReadPicture(tga);
    CheckPicture(picture, expected, alpha ? AlphaWithPillow(tga) : QImage());
    QCOMPARE(picture.Params.FileType, PictureFileType::Tga);
    QCOMPARE(picture.Params.BitsPerSample, bits);
    QCOMPARE(picture.Params.SamplesPerPixel, samples);

    const HeaderFacts facts = ReadHeaderFacts(tga);
    QCOMPARE(facts.FileType, PictureFileType::Tga);
    QVERIFY(!facts.FormatDescription.isEmpty());
    QCOMPARE(QSize(facts.Width, facts.Height), size);
    QCOMPARE(facts.BitsPerSample, bits);
    QCOMPARE(facts.SamplesPerPixel, samples);
    QCOMPARE(facts.DpiX, kDefaultDpi);
  }

  // Layouts written byte by byte, checked against Pillow or GraphicsMagick (whichever reads
  // the layout: Pillow does not follow packets across scan lines, GraphicsMagick ignores the
  // map's first index).
  void craftedFiles_data() {
    QTest::addColumn<QString>("reference");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("samples");
    QTest::newRow("16-bit") << "pillow" << 5 << 3;
    // Pillow refuses depth 15; the same bytes marked 16-bit (attribute bits clear) stand in.
    QTest::newRow("15-bit") << "pillow as 16-bit" << 5 << 3;
    QTest::newRow("right-to-left") << "pillow" << 8 << 3;
    QTest::newRow("bottom-right") << "pillow" << 8 << 3;
    QTest::newRow("image id") << "pillow" << 8 << 3;
    QTest::newRow("map first entry") << "pillow" << 8 << 1;
    QTest::newRow("16-bit map") << "pillow" << 8 << 1;
    QTest::newRow("rle across lines") << "gm" << 8 << 3;
    QTest::newRow("mapped rle across lines") << "gm" << 8 << 1;
  }
  void craftedFiles() {
    QFETCH(QString, reference);
    QFETCH(int, bits);
    QFETCH(int, samples);
    const QString tga = Path(Tag() + ".tga");
    const ProcessResult made =
        RunPython(kCraftScript, {tga, QString::fromLatin1(QTest::currentDataTag())});
    QVERIFY2(made.ExitCode == 0, made.Err.constData());
    QString error;
    QImage expected;
    if (reference == "gm") {
      expected = DecodeWithGm(tga, Path(Tag() + "_ref.png"));
    } else if (reference == "pillow as 16-bit") {
      QByteArray bytes = ReadAll(tga);
      bytes[16] = 16;
      QVERIFY(WriteFile(Path(Tag() + "_16.tga"), bytes));
      expected = DecodeWithPillow(Path(Tag() + "_16.tga"), &error);
    } else {
      expected = DecodeWithPillow(tga, &error);
    }
    QVERIFY2(!expected.isNull(), qPrintable(error));
    const Picture picture = ReadPicture(tga);
    // The 16-bit file declares no alpha bits: its attribute bits are not alpha.
    CheckPicture(picture, expected, QImage());
    QCOMPARE(picture.Params.BitsPerSample, bits);
    QCOMPARE(picture.Params.SamplesPerPixel, samples);
  }

  // Where alpha comes from: 32-bit pixels, and a 16-bit attribute bit when declared; an
  // all-zero fourth byte that nothing declares is no alpha at all.
  void alphaRules_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<int>>("alpha");     // expected alpha of the two pixels; empty: none
    QTest::addColumn<QList<uint>>("colours");  // expected colours; empty: as Pillow reads them
    const QByteArray two32 = QByteArray("\x10\x20\x30\x00\x40\x50\x60\x00", 8);
    QTest::newRow("32-bit, alpha zero, undeclared")
        << Header(2, 32, 2, 1, 0, 0, 0, 0, 0x20) + two32 << QList<int>{} << QList<uint>{};
    QTest::newRow("32-bit, alpha zero, declared")
        << Header(2, 32, 2, 1, 0, 0, 0, 0, 0x28) + two32 << QList<int>{0, 0} << QList<uint>{};
    QTest::newRow("32-bit, alpha set, undeclared")
        << Header(2, 32, 2, 1, 0, 0, 0, 0, 0x20) + QByteArray("\x10\x20\x30\x00\x40\x50\x60\x80", 8)
        << QList<int>{0, 128} << QList<uint>{};
    QTest::newRow("16-bit, attribute declared")
        << Header(2, 16, 2, 1, 0, 0, 0, 0, 0x21) + QByteArray("\x1F\x80\xE0\x03", 4)
        << QList<int>{255, 0} << QList<uint>{};
    QTest::newRow("16-bit, attribute undeclared")
        << Header(2, 16, 2, 1, 0, 0, 0, 0, 0x20) + QByteArray("\x1F\x80\xE0\x03", 4) << QList<int>{}
        << QList<uint>{};
    QTest::newRow("16-bit, attribute declared but all clear")
        << Header(2, 16, 2, 1, 0, 0, 0, 0, 0x21) + QByteArray("\x1F\x00\xE0\x03", 4) << QList<int>{}
        << QList<uint>{};
    QTest::newRow("32-bit map entries")
        << Header(1, 8, 2, 1, 1, 0, 2, 32, 0x28) +
               QByteArray("\x01\x02\x03\x40\x04\x05\x06\xFF", 8) + QByteArray("\x01\x00", 2)
        << QList<int>{255, 64} << QList<uint>{qRgb(6, 5, 4), qRgb(3, 2, 1)};  // Pillow cannot
  }
  void alphaRules() {
    QFETCH(QByteArray, bytes);
    QFETCH(QList<int>, alpha);
    QFETCH(QList<uint>, colours);
    const Picture picture = ReadPictureFromMemory(View(bytes), "tga");
    QCOMPARE(picture.Image.size(), QSize(2, 1));
    QCOMPARE(picture.HasAlpha(), !alpha.isEmpty());
    for (int x = 0; x < alpha.size(); ++x)
      QCOMPARE(int(picture.Alpha.constScanLine(0)[x]), alpha[x]);
    if (!colours.isEmpty()) {
      for (int x = 0; x < colours.size(); ++x) QCOMPARE(picture.Image.pixel(x, 0), colours[x]);
      return;
    }
    const QString path = Path(Tag() + ".tga");
    QVERIFY(WriteFile(path, bytes));
    QCOMPARE(MaxChannelDifference(picture.Image, DecodeWithPillow(path)), 0);
  }

  // Our files decode in Pillow to our pixels and alpha.
  void writesFilesPillowReads_data() {
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QImage>("alpha");
    QTest::addColumn<int>("askBits");
    QTest::addColumn<int>("type");  // expected image type and bits per pixel in the header
    QTest::addColumn<int>("depth");
    const QList<QRgb> five = {qRgb(255, 0, 0), qRgb(0, 0, 0), qRgb(250, 200, 192), qRgb(1, 2, 3),
                              qRgb(255, 255, 255)};
    QImage mono(29, 7, QImage::Format_Mono);
    mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < mono.height(); ++y)
      for (int x = 0; x < mono.width(); ++x) mono.setPixel(x, y, (x * y) % 3 == 0);
    QTest::newRow("24-bit photo") << MakeTestPicture(41, 17) << QImage() << 24 << 10 << 24;
    QTest::newRow("24-bit long runs")
        << MakeFewColours(300, 3, {qRgb(9, 8, 7)}) << QImage() << 24 << 10 << 24;
    QTest::newRow("32-bit with alpha")
        << MakeTestPicture(41, 17) << MakeAlpha(41, 17) << 24 << 10 << 32;
    QTest::newRow("indexed 256 colours") << MakeIndexed(45, 19, 256) << QImage() << 8 << 9 << 8;
    QTest::newRow("indexed 3 colours") << MakeIndexed(45, 19, 3) << QImage() << 24 << 9 << 8;
    QTest::newRow("mono") << mono << QImage() << 1 << 9 << 8;
    QTest::newRow("24-bit, 5 colours, 8 bits asked")
        << MakeFewColours(33, 8, five) << QImage() << 8 << 9 << 8;
    QTest::newRow("indexed with alpha")
        << MakeIndexed(41, 17, 40) << MakeAlpha(41, 17) << 8 << 10 << 32;
  }
  void writesFilesPillowReads() {
    QFETCH(QImage, image);
    QFETCH(QImage, alpha);
    QFETCH(int, askBits);
    QFETCH(int, type);
    QFETCH(int, depth);
    Picture picture;
    picture.Image = image;
    picture.Alpha = alpha;
    picture.Params.BitsPerSample = askBits == 24 ? 8 : askBits;
    picture.Params.SamplesPerPixel = askBits == 24 ? 3 : 1;
    const QByteArray bytes = EncodePicture(picture, "tga");
    QVERIFY(bytes.size() > 18);
    QCOMPARE(int(uchar(bytes[2])), type);
    QCOMPARE(int(uchar(bytes[16])), depth);
    QCOMPARE(int(uchar(bytes[17])), 0x20 | (alpha.isNull() ? 0 : 8));  // top-left origin
    QVERIFY(bytes.endsWith(QByteArray("TRUEVISION-XFILE.\0", 18)));

    const QString path = Path(Tag() + ".tga");
    QVERIFY(WriteFile(path, bytes));
    QString error;
    const QImage pillow = DecodeWithPillow(path, &error);
    QVERIFY2(!pillow.isNull(), qPrintable(error));
    QCOMPARE(MaxChannelDifference(pillow, image), 0);
    if (!alpha.isNull()) QCOMPARE(AlphaWithPillow(path), alpha);

    const Picture back = ReadPictureFromMemory(View(bytes), "tga");
    CheckPicture(back, image.convertToFormat(QImage::Format_RGB888), alpha);
  }

  // A 24-bit picture of many colours written where 8 bits are asked: mapped when the colour
  // reduction is available, else 24-bit; Pillow reads what we read either way.
  void manyColoursWithEightBitsAsked() {
    Picture picture;
    picture.Image = MakeTestPicture(64, 48);
    picture.Params.BitsPerSample = 8;
    picture.Params.SamplesPerPixel = 1;
    const QByteArray bytes = EncodePicture(picture, "tga");
#if __has_include("imaging/ColorReduce.h")
    QCOMPARE(int(uchar(bytes[2])), 9);
#else
    QCOMPARE(int(uchar(bytes[2])), 10);
#endif
    const QString path = Path("many.tga");
    QVERIFY(WriteFile(path, bytes));
    const Picture back = ReadPictureFromMemory(View(bytes), "tga");
    QCOMPARE(MaxChannelDifference(DecodeWithPillow(path), back.Image), 0);
    QVERIFY(MaxChannelDifference(back.Image, picture.Image) < 64);
  }

  // TGA has no signature: it is found by its extension only.
  void noSignature() {
    const Codec* codec = CodecRegistry::Instance().ForFileType(PictureFileType::Tga);
    const QByteArray bytes = Header(2, 24, 1, 1) + QByteArray("\x01\x02\x03", 3);
    QVERIFY(!codec->MatchesSignature(View(bytes)));
    QCOMPARE(ReadPictureFromMemory(View(bytes), "TGA").Image.pixel(0, 0), qRgb(3, 2, 1));
    QVERIFY(CanReadExtension("x.vda"));
  }

  // Damaged and hostile files give PictureError, never a crash.
  void hostile_data() {
    QTest::addColumn<QByteArray>("bytes");

    // A valid mapped file: 16-entry 24-bit map, 37 x 23 raw indexes.
    QByteArray good = Header(1, 8, 37, 23, 1, 0, 16, 24);
    for (int i = 0; i < 16 * 3; ++i) good.append(char(i * 5));
    for (int i = 0; i < 37 * 23; ++i) good.append(char(i % 16));
    {
      const Picture ok = ReadPictureFromMemory(View(good), "tga");
      QCOMPARE(ok.Image.size(), QSize(37, 23));
    }
    QTest::newRow("zero length") << QByteArray();
    for (int cut : {1, 10, 17, 18, 40, 66, 67, 500, int(good.size()) - 1})
      QTest::newRow(qPrintable(QString("truncated at %1").arg(cut))) << good.left(cut);

    QByteArray rle = Header(10, 24, 4, 4);
    for (int i = 0; i < 3; ++i) rle.append("\x84\x01\x02\x03", 4);  // 15 of 16 pixels
    QTest::newRow("rle ends early") << rle;
    QTest::newRow("rle packet past the picture") << rle + QByteArray("\x81\x01\x02\x03", 4);
    QTest::newRow("rle raw packet past the picture")
        << rle + QByteArray("\x01\x01\x02\x03\x04\x05\x06", 7);
    QTest::newRow("rle packet without its pixel")
        << Header(10, 24, 4, 4) + QByteArray("\x8F\x01", 2);
    QByteArray pastMap = good;
    pastMap[18 + 48 + 100] = char(16);
    QTest::newRow("colour-map index past the map") << pastMap;
    QByteArray belowMap =
        Header(1, 8, 2, 1, 1, 10, 2, 24) + QByteArray(6, '\x7F') + QByteArray("\x0A\x09", 2);
    QTest::newRow("colour-map index below the first entry") << belowMap;
    QTest::newRow("zero width") << Header(2, 24, 0, 5) + QByteArray(100, 1);
    QTest::newRow("absurd dimensions") << Header(2, 24, 65535, 65535) + QByteArray(100, 1);
    QTest::newRow("too few bytes for the picture")
        << Header(10, 32, 20000, 20000) + QByteArray(1000, 1);
    QTest::newRow("no image") << Header(0, 24, 4, 4) + QByteArray(100, 1);
    QTest::newRow("unknown type 4") << Header(4, 24, 4, 4) + QByteArray(100, 1);
    QTest::newRow("true colour of 8 bits") << Header(2, 8, 4, 4) + QByteArray(100, 1);
    QTest::newRow("mapped without a map") << Header(1, 8, 4, 4) + QByteArray(100, 1);
    QTest::newRow("map of 12-bit entries") << Header(1, 8, 4, 4, 1, 0, 4, 12) + QByteArray(100, 1);
    QTest::newRow("map type 2") << Header(2, 24, 4, 4, 2) + QByteArray(100, 1);
    QTest::newRow("map longer than the file")
        << Header(1, 8, 4, 4, 1, 0, 60000, 32) + QByteArray(100, 1);
    QTest::newRow("1-bit rle") << Header(11, 1, 4, 4) + QByteArray(100, 1);
    QTest::newRow("wrong extension") << QByteArray("\x89PNG\r\n\x1A\n", 8) + QByteArray(100, 7);
  }
  void hostile() {
    QFETCH(QByteArray, bytes);
    const Codec* codec = CodecRegistry::Instance().ForFileType(PictureFileType::Tga);
    QVERIFY_THROWS_EXCEPTION(PictureError, codec->Read(View(bytes), {}));
  }
};

QTEST_GUILESS_MAIN(TestTga)
#include "tst_Tga.moc"
