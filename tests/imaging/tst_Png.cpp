// The PNG codec. Files of every colour type and bit depth come from a small PNG writer in
// Python (zlib and struct only), which also gives the exact 8-bit pixels expected; Pillow
// cross-checks the 8-bit files and everything we write.

#include <zlib.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <cstdio>
#include <functional>

#include "common/TestSupport.h"
#include "imaging/CodecRegistry.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"

namespace {

// Writes a PNG of colour type ct and bit depth depth with deterministic samples, and the
// 8-bit blue-green-red-alpha pixels a reader must give for it. argv: png path, expected path,
// options as JSON (ct, depth, w, h, interlace, trns, palette, ppm, unit).
const char kMakePng[] = R"(
import sys, json, zlib, struct
path, expected_path, o = sys.argv[1], sys.argv[2], json.loads(sys.argv[3])
ct, depth = o['ct'], o['depth']
w, h, interlace = o.get('w', 13), o.get('h', 7), o.get('interlace', 0)
channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ct]
maxv = (1 << depth) - 1
n = o.get('palette', 1 << depth) if ct == 3 else 0
def sample(x, y, c):
    return ((x * 37 + y * 91 + c * 53 + x * y * 7 + 11) * 2654435761 >> 7) % (maxv + 1)
pixels = [[[sample(x, y, c) % (n if ct == 3 else maxv + 1) for c in range(channels)]
           for x in range(w)] for y in range(h)]
palette = [((i * 67) % 256, (i * 151) % 256, (i * 29 + 5) % 256) for i in range(n)]
trns = o.get('trns', 0)
key = tuple(pixels[0][0])
alphas = [(i * 50) % 256 for i in range(min(n, trns))] if ct == 3 else []
def pack(row):
    vals = [v for px in row for v in px]
    if depth == 16:
        return b''.join(struct.pack('>H', v) for v in vals)
    if depth == 8:
        return bytes(vals)
    per, out = 8 // depth, bytearray()
    for i in range(0, len(vals), per):
        b = 0
        for j in range(per):
            if i + j < len(vals):
                b |= vals[i + j] << (8 - depth * (j + 1))
        out.append(b)
    return bytes(out)
raw = b''
if interlace:
    for x0, y0, dx, dy in [(0,0,8,8), (4,0,8,8), (0,4,4,8), (2,0,4,4), (0,2,2,4), (1,0,2,2), (0,1,1,2)]:
        xs, ys = range(x0, w, dx), range(y0, h, dy)
        if len(xs) and len(ys):
            for y in ys:
                raw += b'\0' + pack([pixels[y][x] for x in xs])
else:
    for y in range(h):
        raw += b'\0' + pack(pixels[y])
def chunk(t, d):
    return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, depth, ct, 0, 0, interlace))
if 'ppm' in o:
    png += chunk(b'pHYs', struct.pack('>IIB', o['ppm'], o['ppm'], o.get('unit', 1)))
if ct == 3:
    png += chunk(b'PLTE', b''.join(bytes(p) for p in palette))
if trns:
    if ct == 0:
        png += chunk(b'tRNS', struct.pack('>H', key[0]))
    elif ct == 2:
        png += chunk(b'tRNS', struct.pack('>HHH', *key))
    else:
        png += chunk(b'tRNS', bytes(alphas))
png += chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b'')
open(path, 'wb').write(png)
def to8(v):
    return v >> 8 if depth == 16 else v * 255 // maxv
out = bytearray()
for y in range(h):
    for x in range(w):
        px = pixels[y][x]
        if ct == 3:
            r, g, b = palette[px[0]]
            a = alphas[px[0]] if px[0] < len(alphas) else 255
        elif ct in (0, 4):
            r = g = b = to8(px[0])
            a = to8(px[1]) if ct == 4 else (0 if trns and tuple(px) == key else 255)
        else:
            r, g, b = (to8(v) for v in px[:3])
            a = to8(px[3]) if ct == 6 else (0 if trns and tuple(px) == key else 255)
        out += bytes([b, g, r, a])
open(expected_path, 'wb').write(bytes(out))
)";

// Pillow's reading of a PNG: mode, size, RGBA pixels, metadata; JSON line then the pixels.
const char kInspectPng[] = R"(
import sys, json, hashlib
from PIL import Image
im = Image.open(sys.argv[1])
im.load()
r = {'mode': im.mode, 'w': im.size[0], 'h': im.size[1]}
r['make'] = str(im.getexif().get(0x010F, ''))
icc = im.info.get('icc_profile')
r['icc_md5'] = hashlib.md5(icc).hexdigest() if icc else ''
r['comment'] = str(im.info.get('Comment', ''))
r['dpi'] = [round(v) for v in im.info.get('dpi', (0, 0))]
rgba = im.convert('RGBA')
sys.stdout.buffer.write(json.dumps(r).encode() + b'\n' + rgba.tobytes())
)";

// A PNG written by Pillow with EXIF (Make), an sRGB profile and a Comment text chunk.
const char kPillowMetadataPng[] = R"(
import sys
from PIL import Image, ImageCms, PngImagePlugin
im = Image.new('RGB', (8, 6), (10, 200, 30))
e = Image.Exif()
e[0x010F] = 'Quillo Camera'
info = PngImagePlugin.PngInfo()
info.add_text('Comment', 'from Pillow')
icc = ImageCms.ImageCmsProfile(ImageCms.createProfile('sRGB')).tobytes()
im.save(sys.argv[1], 'PNG', exif=e.tobytes(), icc_profile=icc, pnginfo=info)
sys.stdout.buffer.write(icc)
)";

// A PNG carrying EXIF the ImageMagick way: a zTXt "Raw profile type exif" in hexadecimal.
// Prints the EXIF block without its "Exif\0\0" prefix.
const char kRawProfilePng[] = R"(
import sys
from PIL import Image, PngImagePlugin
e = Image.Exif()
e[0x010F] = 'Quillo Camera'
b = e.tobytes()
hx = b.hex()
text = '\nexif\n%8d\n%s\n' % (len(b), '\n'.join(hx[i:i + 72] for i in range(0, len(hx), 72)))
info = PngImagePlugin.PngInfo()
info.add_text('Raw profile type exif', text, zip=True)
info.add_text('Raw profile type 8bim', '\n8bim\n       2\nabcd\n')
info.add_text('Comment', 'kept')
Image.new('RGB', (4, 4)).save(sys.argv[1], 'PNG', pnginfo=info)
sys.stdout.buffer.write(b[6:] if b.startswith(b'Exif') else b)
)";

const Codec& PngCodec() {
  const Codec* codec = CodecRegistry::Instance().ForExtension(QStringLiteral("png"));
  if (!codec) qFatal("no PNG codec registered");
  return *codec;
}

struct PillowView {
  QJsonObject Facts;
  QByteArray Rgba;
};

PillowView InspectWithPillow(const QString& path) {
  const ProcessResult r = RunPython(QString::fromLatin1(kInspectPng), {path});
  if (r.ExitCode != 0) {
    qWarning() << r.Err;
    return {};
  }
  const int eol = int(r.Out.indexOf('\n'));
  return {QJsonDocument::fromJson(r.Out.left(eol)).object(), r.Out.mid(eol + 1)};
}

// The picture as RGBA bytes (alpha 255 without an alpha plane), as Pillow's tobytes() gives.
QByteArray RgbaBytes(const Picture& picture) {
  const QImage rgb = picture.Image.convertToFormat(QImage::Format_RGB888);
  QByteArray out;
  for (int y = 0; y < rgb.height(); ++y) {
    const uchar* p = rgb.constScanLine(y);
    const uchar* a = picture.HasAlpha() ? picture.Alpha.constScanLine(y) : nullptr;
    for (int x = 0; x < rgb.width(); ++x) {
      out.append(char(p[3 * x])).append(char(p[3 * x + 1])).append(char(p[3 * x + 2]));
      out.append(char(a ? a[x] : 255));
    }
  }
  return out;
}

// The picture as blue-green-red-alpha bytes.
QByteArray BgraBytes(const Picture& picture) {
  QByteArray out;
  for (int y = 0; y < picture.Height(); ++y) {
    const uchar* p = picture.Image.constScanLine(y);
    const uchar* a = picture.HasAlpha() ? picture.Alpha.constScanLine(y) : nullptr;
    for (int x = 0; x < picture.Width(); ++x) {
      out.append(reinterpret_cast<const char*>(p + 3 * x), 3);
      out.append(char(a ? a[x] : 255));
    }
  }
  return out;
}

// Rewrites the CRC of the chunk whose type starts at typePos.
void FixCrc(QByteArray& png, int typePos) {
  const quint32 length = qFromBigEndian<quint32>(png.constData() + typePos - 4);
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.constData() + typePos), length + 4);
  qToBigEndian<quint32>(quint32(crc), png.data() + typePos + 4 + length);
}

QImage Palette16(int width, int height) {
  QImage image(width, height, QImage::Format_Indexed8);
  QList<QRgb> colours;
  for (int i = 0; i < 16; ++i) colours << qRgb(i * 16, 255 - i * 13, (i * 97) % 256);
  image.setColorTable(colours);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.scanLine(y)[x] = uchar((x + 3 * y) % 16);
  return image;
}

}  // namespace

class TestPng : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir Dir;

 private slots:
  void initTestCase() { QVERIFY(Dir.isValid()); }

  void registration() {
    const Codec& codec = PngCodec();
    QCOMPARE(codec.FileType(), PictureFileType::Png);
    QCOMPARE(CodecRegistry::Instance().ForExtension(QStringLiteral("PNG")), &codec);
    QCOMPARE(CodecRegistry::Instance().ForContent(View(QByteArray("\x89PNG\r\n\x1A\n\0\0", 10))),
             &codec);
    QVERIFY(!codec.MatchesSignature(View(QByteArray("\x89PNG\r\n", 6))));
  }

  // Every colour type and bit depth, with and without tRNS and interlacing: exact pixels.
  void decodesEveryLayout_data() {
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("samples");
    QTest::addColumn<bool>("alpha");
    QTest::newRow("grey 1") << R"({"ct":0,"depth":1})" << 1 << false;
    QTest::newRow("grey 2") << R"({"ct":0,"depth":2})" << 1 << false;
    QTest::newRow("grey 4") << R"({"ct":0,"depth":4})" << 1 << false;
    QTest::newRow("grey 8") << R"({"ct":0,"depth":8})" << 1 << false;
    QTest::newRow("grey 16") << R"({"ct":0,"depth":16})" << 1 << false;
    QTest::newRow("grey 2 tRNS") << R"({"ct":0,"depth":2,"trns":1})" << 1 << true;
    QTest::newRow("grey 8 tRNS") << R"({"ct":0,"depth":8,"trns":1})" << 1 << true;
    QTest::newRow("grey 16 tRNS") << R"({"ct":0,"depth":16,"trns":1})" << 1 << true;
    QTest::newRow("grey+alpha 8") << R"({"ct":4,"depth":8})" << 2 << true;
    QTest::newRow("grey+alpha 16") << R"({"ct":4,"depth":16})" << 2 << true;
    QTest::newRow("rgb 8") << R"({"ct":2,"depth":8})" << 3 << false;
    QTest::newRow("rgb 16") << R"({"ct":2,"depth":16})" << 3 << false;
    QTest::newRow("rgb 8 tRNS") << R"({"ct":2,"depth":8,"trns":1})" << 3 << true;
    QTest::newRow("rgb 16 tRNS") << R"({"ct":2,"depth":16,"trns":1})" << 3 << true;
    QTest::newRow("rgba 8") << R"({"ct":6,"depth":8})" << 4 << true;
    QTest::newRow("rgba 16") << R"({"ct":6,"depth":16})" << 4 << true;
    QTest::newRow("palette 1") << R"({"ct":3,"depth":1})" << 1 << false;
    QTest::newRow("palette 2") << R"({"ct":3,"depth":2})" << 1 << false;
    QTest::newRow("palette 4, 11 entries") << R"({"ct":3,"depth":4,"palette":11})" << 1 << false;
    QTest::newRow("palette 8") << R"({"ct":3,"depth":8})" << 1 << false;
    QTest::newRow("palette 4 tRNS") << R"({"ct":3,"depth":4,"trns":16})" << 1 << true;
    QTest::newRow("palette 8 partial tRNS") << R"({"ct":3,"depth":8,"trns":100})" << 1 << true;
    QTest::newRow("interlaced grey 1")
        << R"({"ct":0,"depth":1,"interlace":1,"w":17,"h":11})" << 1 << false;
    QTest::newRow("interlaced palette 2")
        << R"({"ct":3,"depth":2,"interlace":1,"w":17,"h":11})" << 1 << false;
    QTest::newRow("interlaced rgb 8")
        << R"({"ct":2,"depth":8,"interlace":1,"w":17,"h":11})" << 3 << false;
    QTest::newRow("interlaced rgba 16")
        << R"({"ct":6,"depth":16,"interlace":1,"w":17,"h":11})" << 4 << true;
    QTest::newRow("interlaced palette tRNS")
        << R"({"ct":3,"depth":8,"trns":50,"interlace":1,"w":9,"h":9})" << 1 << true;
    QTest::newRow("one pixel") << R"({"ct":2,"depth":8,"w":1,"h":1})" << 3 << false;
  }
  void decodesEveryLayout() {
    QFETCH(QString, options);
    QFETCH(int, samples);
    QFETCH(bool, alpha);
    const QJsonObject o = QJsonDocument::fromJson(options.toUtf8()).object();
    const QString path = Dir.filePath(QStringLiteral("layout.png"));
    const QString expectedPath = Dir.filePath(QStringLiteral("layout.bgra"));
    const ProcessResult made =
        RunPython(QString::fromLatin1(kMakePng), {path, expectedPath, options});
    QVERIFY2(made.ExitCode == 0, made.Err.constData());

    const Picture picture = ReadPicture(path);
    QCOMPARE(picture.Image.format(), QImage::Format_BGR888);
    QCOMPARE(picture.Width(), o["w"].toInt(o["interlace"].toInt() ? 17 : 13));
    QCOMPARE(picture.HasAlpha(), alpha);
    if (alpha) QCOMPARE(picture.Alpha.format(), QImage::Format_Grayscale8);
    QCOMPARE(picture.Params.BitsPerSample, o["depth"].toInt());
    QCOMPARE(picture.Params.SamplesPerPixel, samples);
    QCOMPARE(picture.Params.FileType, PictureFileType::Png);
    QCOMPARE(picture.Params.DpiX, kDefaultDpi);
    QCOMPARE(BgraBytes(picture), ReadAll(expectedPath));

    // Pillow agrees on the colours (its 16-bit grey is not comparable as RGB).
    if (o["depth"].toInt() <= 8) {
      QString error;
      const QImage pillow = DecodeWithPillow(path, &error);
      QVERIFY2(!pillow.isNull(), qPrintable(error));
      QCOMPARE(MaxChannelDifference(picture.Image, pillow), 0);
    }

    const HeaderFacts facts = ReadHeaderFacts(path);
    QCOMPARE(facts.FileType, PictureFileType::Png);
    QCOMPARE(facts.Width, picture.Width());
    QCOMPARE(facts.Height, picture.Height());
    QCOMPARE(facts.BitsPerSample, o["depth"].toInt());
    QCOMPARE(facts.SamplesPerPixel, samples);
  }

  void dpi_data() {
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("dpi");
    QTest::newRow("96") << R"({"ct":2,"depth":8,"ppm":3780})" << 96;
    QTest::newRow("300") << R"({"ct":2,"depth":8,"ppm":11811})" << 300;
    QTest::newRow("72") << R"({"ct":2,"depth":8,"ppm":2835})" << 72;
    QTest::newRow("unit unknown") << R"({"ct":2,"depth":8,"ppm":5000,"unit":0})" << kDefaultDpi;
    QTest::newRow("no pHYs") << R"({"ct":2,"depth":8})" << kDefaultDpi;
  }
  void dpi() {
    QFETCH(QString, options);
    QFETCH(int, dpi);
    const QString path = Dir.filePath(QStringLiteral("dpi.png"));
    const ProcessResult made = RunPython(QString::fromLatin1(kMakePng),
                                         {path, Dir.filePath(QStringLiteral("dpi.bgra")), options});
    QVERIFY2(made.ExitCode == 0, made.Err.constData());
    QCOMPARE(ReadHeaderFacts(path).DpiX, dpi);
    const Picture picture = ReadPicture(path);
    QCOMPARE(picture.Params.DpiX, dpi);
    QCOMPARE(picture.Params.DpiY, dpi);
  }

  // What we write: the layout chosen for each kind of picture, read by Pillow and by us to
  // exactly the pixels we wrote.
  void writesLayouts_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("colorType");
    QTest::addColumn<int>("bitDepth");
    QTest::addColumn<QString>("pillowMode");
    QTest::newRow("colour") << "rgb" << 2 << 8 << "RGB";
    QTest::newRow("grey, one sample") << "grey" << 0 << 8 << "L";
    QTest::newRow("grey picture, three samples") << "grey3" << 2 << 8 << "RGB";
    QTest::newRow("grey, two samples, alpha gone") << "grey2" << 0 << 8 << "L";
    QTest::newRow("colour with alpha") << "rgba" << 6 << 8 << "RGBA";
    QTest::newRow("grey with alpha, two samples") << "greyalpha" << 4 << 8 << "LA";
    QTest::newRow("16 colours, 4 bits asked") << "pal4" << 3 << 4 << "P";
    QTest::newRow("16 colours, 2 bits asked") << "pal2" << 3 << 4 << "P";
    QTest::newRow("16 colours, 8 bits asked") << "pal8" << 3 << 8 << "P";
    QTest::newRow("palette with a transparent entry") << "paltrans" << 3 << 4 << "P";
    QTest::newRow("palette, alpha plane by entry") << "palplane" << 3 << 4 << "P";
    QTest::newRow("palette, alpha plane across entries") << "palmixed" << 6 << 8 << "RGBA";
    QTest::newRow("black and white") << "mono" << 3 << 1 << "P";
    // Pictures read from low-depth files come as 24-bit pixels with their depth in the params.
    QTest::newRow("16 colours as 24-bit pixels, 4 bits asked") << "bgrpal4" << 3 << 4 << "P";
    QTest::newRow("black and white as 24-bit pixels") << "bgrmono" << 3 << 1 << "P";
    QTest::newRow("many colours, 4 bits asked") << "bgrmany" << 2 << 8 << "RGB";
  }
  void writesLayouts() {
    QFETCH(QString, kind);
    QFETCH(int, colorType);
    QFETCH(int, bitDepth);
    QFETCH(QString, pillowMode);
    const int w = 23, h = 9;
    Picture picture;
    picture.Image = MakeTestPicture(w, h);
    QImage alpha(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) alpha.scanLine(y)[x] = uchar((x * 11 + y * 29) % 256);

    if (kind.startsWith(QLatin1String("grey"))) {
      picture.Image = picture.Image.convertToFormat(QImage::Format_Grayscale8)
                          .convertToFormat(QImage::Format_BGR888);
      picture.Params.SamplesPerPixel =
          kind == QLatin1String("grey")                                            ? 1
          : (kind == QLatin1String("greyalpha") || kind == QLatin1String("grey2")) ? 2
                                                                                   : 3;
      if (kind == QLatin1String("greyalpha")) picture.Alpha = alpha;
    } else if (kind == QLatin1String("rgba")) {
      picture.Alpha = alpha;
    } else if (kind.startsWith(QLatin1String("pal"))) {
      picture.Image = Palette16(w, h);
      picture.Params.BitsPerSample = kind == QLatin1String("pal2")   ? 2
                                     : kind == QLatin1String("pal8") ? 8
                                                                     : 4;
      picture.Params.SamplesPerPixel = 1;
      if (kind == QLatin1String("paltrans")) picture.Image.setColor(3, qRgba(10, 20, 30, 0));
      if (kind == QLatin1String("palplane") || kind == QLatin1String("palmixed")) {
        picture.Alpha = QImage(w, h, QImage::Format_Grayscale8);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x)
            picture.Alpha.scanLine(y)[x] = picture.Image.scanLine(y)[x] == 5 ? 0 : 255;
        if (kind == QLatin1String("palmixed")) picture.Alpha.scanLine(0)[0] = 77;
      }
    } else if (kind == QLatin1String("mono")) {
      picture.Image = picture.Image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
      picture.Params.BitsPerSample = 1;
      picture.Params.SamplesPerPixel = 1;
    } else if (kind.startsWith(QLatin1String("bgr"))) {
      if (kind == QLatin1String("bgrpal4")) picture.Image = Palette16(w, h);
      if (kind == QLatin1String("bgrmono"))
        picture.Image = picture.Image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
      picture.Image = picture.Image.convertToFormat(QImage::Format_BGR888);
      picture.Params.BitsPerSample = kind == QLatin1String("bgrmono") ? 1 : 4;
      picture.Params.SamplesPerPixel = 1;
    }

    const QString path = Dir.filePath(QStringLiteral("written.png"));
    WritePicture(picture, path);
    const QByteArray file = ReadAll(path);
    QCOMPARE(int(uchar(file[24])), bitDepth);
    QCOMPARE(int(uchar(file[25])), colorType);

    // Expected: the source's colours, with the alpha plane or the palette's alpha.
    Picture expected = picture;
    if (kind == QLatin1String("paltrans")) {
      expected.Alpha = QImage(w, h, QImage::Format_Grayscale8);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          expected.Alpha.scanLine(y)[x] = picture.Image.scanLine(y)[x] == 3 ? 0 : 255;
    }
    const PillowView pillow = InspectWithPillow(path);
    QCOMPARE(pillow.Facts["mode"].toString(), pillowMode);
    QCOMPARE(pillow.Rgba, RgbaBytes(expected));

    const Picture ours = ReadPicture(path);
    QCOMPARE(RgbaBytes(ours), RgbaBytes(expected));
    QCOMPARE(ours.Params.BitsPerSample, bitDepth);
  }

  void compressionLevel() {
    Picture picture;
    picture.Image = MakeTestPicture(120, 80);
    picture.Params.PngLevel = 0;
    const QByteArray stored = EncodePicture(picture, QStringLiteral("png"));
    picture.Params.PngLevel = 9;
    const QByteArray best = EncodePicture(picture, QStringLiteral("png"));
    QVERIFY(stored.size() > 120 * 80 * 3);
    QVERIFY(best.size() < stored.size());
    const Picture a = PngCodec().Read(View(stored), {});
    const Picture b = PngCodec().Read(View(best), {});
    QCOMPARE(MaxChannelDifference(a.Image, picture.Image), 0);
    QCOMPARE(MaxChannelDifference(b.Image, picture.Image), 0);
    QCOMPARE(a.Params.PngLevel, PictureParams{}.PngLevel);  // the file does not store it
  }

  void dpiWritten() {
    Picture picture;
    picture.Image = MakeTestPicture(10, 10);
    picture.Params.DpiX = 300;
    picture.Params.DpiY = 150;
    const QString path = Dir.filePath(QStringLiteral("dpi-written.png"));
    WritePicture(picture, path);
    const PillowView pillow = InspectWithPillow(path);
    QCOMPARE(pillow.Facts["dpi"].toArray()[0].toInt(), 300);
    QCOMPARE(pillow.Facts["dpi"].toArray()[1].toInt(), 150);
    const Picture ours = ReadPicture(path);
    QCOMPARE(ours.Params.DpiX, 300);
    QCOMPARE(ours.Params.DpiY, 150);
  }

  // EXIF, ICC profile and text from Pillow's file survive our read and write.
  void metadataSurvives() {
    const QString path = Dir.filePath(QStringLiteral("meta.png"));
    const ProcessResult made = RunPython(QString::fromLatin1(kPillowMetadataPng), {path});
    QVERIFY2(made.ExitCode == 0, made.Err.constData());
    const QByteArray icc = made.Out;

    const Picture picture = ReadPicture(path);
    QVERIFY(picture.Params.Exif.startsWith("II*") || picture.Params.Exif.startsWith("MM\0*"));
    QCOMPARE(picture.Params.IccProfile, icc);
    QCOMPARE(picture.Params.Comments, QStringList{QStringLiteral("from Pillow")});

    const QString out = Dir.filePath(QStringLiteral("meta-ours.png"));
    WritePicture(picture, out);
    const PillowView pillow = InspectWithPillow(out);
    QCOMPARE(pillow.Facts["make"].toString(), QStringLiteral("Quillo Camera"));
    QCOMPARE(pillow.Facts["icc_md5"].toString(),
             QString::fromLatin1(QCryptographicHash::hash(icc, QCryptographicHash::Md5).toHex()));
    QCOMPARE(pillow.Facts["comment"].toString(), QStringLiteral("from Pillow"));

    const Picture again = ReadPicture(out);
    QCOMPARE(again.Params.Exif, picture.Params.Exif);
    QCOMPARE(again.Params.IccProfile, icc);

    // Texts beyond Latin-1 go into iTXt; XMP has its own key.
    Picture more = picture;
    more.Params.Comments = {QStringLiteral("Grüße"), QStringLiteral("日本語")};
    more.Params.Xmp = QByteArray("<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
    const Picture moreAgain = PngCodec().Read(View(EncodePicture(more, QStringLiteral("png"))), {});
    QCOMPARE(moreAgain.Params.Comments, more.Params.Comments);
    QCOMPARE(moreAgain.Params.Xmp, more.Params.Xmp);

    // A block that is not a profile is left out rather than failing the write.
    Picture bad = picture;
    bad.Params.IccProfile = QByteArray(300, 'x');
    const Picture badAgain = PngCodec().Read(View(EncodePicture(bad, QStringLiteral("png"))), {});
    QVERIFY(badAgain.Params.IccProfile.isEmpty());
    QCOMPARE(badAgain.Params.Exif, picture.Params.Exif);
  }

  void rawProfileText() {
    const QString path = Dir.filePath(QStringLiteral("raw-profile.png"));
    const ProcessResult made = RunPython(QString::fromLatin1(kRawProfilePng), {path});
    QVERIFY2(made.ExitCode == 0, made.Err.constData());
    const Picture picture = ReadPicture(path);
    QCOMPARE(picture.Params.Exif, made.Out);
    QCOMPARE(picture.Params.Comments, QStringList{QStringLiteral("kept")});
  }

  void hostileInput_data() {
    QTest::addColumn<QString>("damage");
    QTest::newRow("zero length") << "empty";
    QTest::newRow("signature only") << "signature";
    QTest::newRow("garbage after the signature") << "garbage";
    QTest::newRow("truncated pixel data") << "truncated";
    QTest::newRow("absurd width") << "absurd";
    QTest::newRow("too many pixels") << "megapixels";
    QTest::newRow("zero width") << "zero";
    QTest::newRow("invalid bit depth") << "depth";
    QTest::newRow("broken pixel data") << "idat";
    QTest::newRow("bad IHDR CRC") << "crc";
  }
  void hostileInput() {
    QFETCH(QString, damage);
    const QString path = Dir.filePath(QStringLiteral("hostile.png"));
    const ProcessResult made = RunPython(QString::fromLatin1(kMakePng),
                                         {path, Dir.filePath(QStringLiteral("hostile.bgra")),
                                          QStringLiteral(R"({"ct":6,"depth":8,"w":40,"h":30})")});
    QVERIFY2(made.ExitCode == 0, made.Err.constData());
    QByteArray data = ReadAll(path);
    const int ihdr = 12;  // type of the first chunk
    auto setSize = [&](quint32 w, quint32 h) {
      qToBigEndian(w, data.data() + ihdr + 4);
      qToBigEndian(h, data.data() + ihdr + 8);
      FixCrc(data, ihdr);
    };
    const int idat = int(data.indexOf("IDAT"));
    if (damage == QLatin1String("empty")) data.clear();
    if (damage == QLatin1String("signature")) data = data.left(8);
    if (damage == QLatin1String("garbage")) data = data.left(8) + QByteArray(300, '\x33');
    if (damage == QLatin1String("truncated")) data = data.left(idat + 30);
    if (damage == QLatin1String("absurd")) setSize(40000, 10);
    if (damage == QLatin1String("megapixels")) setSize(30000, 30000);
    if (damage == QLatin1String("zero")) setSize(0, 30);
    if (damage == QLatin1String("depth")) {
      data[ihdr + 12] = 4;  // RGBA cannot have 4 bits
      FixCrc(data, ihdr);
    }
    if (damage == QLatin1String("idat")) {
      for (int i = idat + 6; i < idat + 40; ++i) data[i] = char(data[i] ^ 0x5A);
      FixCrc(data, idat);
    }
    if (damage == QLatin1String("crc")) data[ihdr + 5] = char(data[ihdr + 5] ^ 1);

    bool threw = false;
    const QByteArray printed = StderrOf([&] {
      try {
        PngCodec().Read(View(data), {});
      } catch (const PictureError&) {
        threw = true;
      }
    });
    QVERIFY(threw);
    QVERIFY2(printed.isEmpty(), printed.constData());
    if (damage != QLatin1String("absurd") && damage != QLatin1String("megapixels") &&
        damage != QLatin1String("truncated") && damage != QLatin1String("idat"))
      QCOMPARE(ReadHeaderFactsFromMemory(View(data), QStringLiteral("png")).FileType,
               PictureFileType::Unknown);
  }

  void writeErrors() {
    Picture picture;
    picture.Image = MakeTestPicture(20, 20);
    QBuffer closed;  // not open: every write fails
    QVERIFY_THROWS_EXCEPTION(PictureError, PngCodec().Write(picture, closed));
  }
};

QTEST_GUILESS_MAIN(TestPng)
#include "tst_Png.moc"
