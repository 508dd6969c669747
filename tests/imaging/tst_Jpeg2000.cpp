// The JPEG 2000 reader against files written by Pillow (through its own OpenJPEG binding):
// pixels compared with Pillow's decode, header facts, detection by content, the resolution
// box, and damaged or hostile files.
#include <openjpeg.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>

#include "common/TestSupport.h"
#include "imaging/CodecRegistry.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"

namespace {

// Writes a JPEG 2000 file with Pillow: argv = path, mode, width, height, save options (JSON).
// Beside it: <path>.source (the source picture as RGB bytes), <path>.alpha (the alpha samples
// as Pillow reads them back, for modes with alpha) and <path>.grey8 (for 16-bit grey, each
// sample scaled to 8 bits, rounded).
const char kMakeScript[] = R"(
import sys, json, random
from PIL import Image
path, mode, w, h = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
opts = {k: tuple(v) if isinstance(v, list) else v for k, v in json.loads(sys.argv[5]).items()}
rnd = random.Random(w * 7919 + h)
def sample(x, y, c, top):
    # smooth ramps with some noise, so that lossy coding stays close
    base = (x * 255 // max(1, w - 1) + y * 97 + c * 60) % 256
    return min(top, max(0, base * (top // 255) + rnd.randrange(-8, 9)))
if mode == 'I;16':
    im = Image.new('I;16', (w, h))
    im.putdata([sample(x, y, 0, 65535) for y in range(h) for x in range(w)])
else:
    n = len(Image.new(mode, (1, 1)).getbands())
    im = Image.frombytes(mode, (w, h), bytes(sample(x, y, c, 255)
                         for y in range(h) for x in range(w) for c in range(n)))
im.save(path, 'JPEG2000', **opts)
back = Image.open(path)
back.load()
if mode != 'I;16':
    open(path + '.source', 'wb').write(im.convert('RGB').tobytes())
if 'A' in mode:
    open(path + '.alpha', 'wb').write(back.getchannel('A').tobytes())
if mode == 'I;16':
    open(path + '.grey8', 'wb').write(bytes((v * 255 + 32767) // 65535 for v in back.getdata()))
)";

// Puts a "res " box with a capture resolution into the header box of a JP2 file:
// argv = path, vertical and horizontal dots per inch.
const char kAddResolutionScript[] = R"(
import sys, struct
path, vdpi, hdpi = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
data = open(path, 'rb').read()
pos = 0
while pos < len(data):
    length, kind = struct.unpack('>I4s', data[pos:pos + 8])
    if kind == b'jp2h':
        break
    pos += length
else:
    sys.exit('no jp2h box')
ppm = lambda dpi: int(round(dpi / 0.0254))
resc = struct.pack('>I4sHHHHbb', 18, b'resc', ppm(vdpi), 1, ppm(hdpi), 1, 0, 0)
res = struct.pack('>I4s', 8 + len(resc), b'res ') + resc
head = data[pos:pos + length] + res
head = struct.pack('>I', len(head)) + head[4:]
open(path, 'wb').write(data[:pos] + head + data[pos + length:])
)";

// Largest difference between a Grayscale8 plane and raw 8-bit samples; -1 on a size mismatch.
int MaxPlaneDifference(const QImage& plane, const QByteArray& samples) {
  if (plane.format() != QImage::Format_Grayscale8 ||
      samples.size() != qsizetype(plane.width()) * plane.height())
    return -1;
  int worst = 0;
  for (int y = 0; y < plane.height(); ++y)
    for (int x = 0; x < plane.width(); ++x)
      worst = std::max(worst, std::abs(plane.constScanLine(y)[x] -
                                       std::uint8_t(samples[qsizetype(y) * plane.width() + x])));
  return worst;
}

// A YCbCr picture whose chroma planes have half the resolution in both directions, placed at
// (x0, y0) on the reference grid. Pillow cannot write one, so OpenJPEG's own encoder makes it
// (lossless, no colour transform). Luma is a ramp; chroma is neutral (128) except for the
// chroma samples listed in tinted, which carry Cb 90, Cr 200 (a strong red).
struct SubsampledYcc {
  int Width = 0, Height = 0, X0 = 0, Y0 = 0;
  QList<QPoint> Tinted;  // chroma sample positions (u, v), counted from the plane's origin

  static int Luma(int gridX, int gridY) { return 40 + (gridX * 5 + gridY * 3) % 180; }
  static OPJ_UINT32 CeilDiv(OPJ_UINT32 a, OPJ_UINT32 b) { return (a + b - 1) / b; }

  bool Write(const QString& path, bool container) const {
    opj_image_cmptparm_t parms[3] = {};
    for (int c = 0; c < 3; ++c) {
      const OPJ_UINT32 d = c == 0 ? 1 : 2;
      parms[c].dx = parms[c].dy = d;
      parms[c].x0 = CeilDiv(X0, d);
      parms[c].y0 = CeilDiv(Y0, d);
      parms[c].w = CeilDiv(X0 + Width, d) - parms[c].x0;
      parms[c].h = CeilDiv(Y0 + Height, d) - parms[c].y0;
      parms[c].prec = 8;
      parms[c].sgnd = 0;
    }
    opj_image_t* image = opj_image_create(3, parms, OPJ_CLRSPC_SYCC);
    if (!image) return false;
    image->x0 = X0;
    image->y0 = Y0;
    image->x1 = X0 + Width;
    image->y1 = Y0 + Height;
    for (OPJ_UINT32 v = 0; v < parms[0].h; ++v)
      for (OPJ_UINT32 u = 0; u < parms[0].w; ++u)
        image->comps[0].data[v * parms[0].w + u] = Luma(X0 + u, Y0 + v);
    for (int c = 1; c < 3; ++c)
      for (OPJ_UINT32 v = 0; v < parms[c].h; ++v)
        for (OPJ_UINT32 u = 0; u < parms[c].w; ++u)
          image->comps[c].data[v * parms[c].w + u] =
              Tinted.contains(QPoint(u, v)) ? (c == 1 ? 90 : 200) : 128;

    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    params.tcp_mct = 0;
    params.numresolution = 2;
    params.tcp_numlayers = 1;
    params.tcp_rates[0] = 0;  // lossless
    params.cp_disto_alloc = 1;
    opj_codec_t* codec = opj_create_compress(container ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    const auto quiet = [](const char*, void*) {};
    opj_set_error_handler(codec, quiet, nullptr);
    opj_set_warning_handler(codec, quiet, nullptr);
    opj_set_info_handler(codec, quiet, nullptr);
    bool ok = opj_setup_encoder(codec, &params, image);
    opj_stream_t* stream =
        ok ? opj_stream_create_default_file_stream(QFile::encodeName(path).constData(), OPJ_FALSE)
           : nullptr;
    ok = stream && opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
         opj_end_compress(codec, stream);
    if (stream) opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    return ok;
  }
};

}  // namespace

class TestJpeg2000 : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir Dir;

  // A file made by Pillow; fails the test when Pillow cannot make it.
  QString Make(const QString& name, const QString& mode, int w, int h, const QString& opts) {
    const QString path = Dir.filePath(name);
    const ProcessResult r = RunPython(QString::fromLatin1(kMakeScript),
                                      {path, mode, QString::number(w), QString::number(h), opts});
    if (r.ExitCode != 0) {
      qWarning("Pillow: %s", r.Err.constData());
      return {};
    }
    return path;
  }

 private slots:
  void initTestCase() { QVERIFY(Dir.isValid()); }

  void readsPillowFiles_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QString>("opts");
    // Pillow writes a code stream for ".j2k" only, a JP2 container for any other name.
    QTest::addColumn<int>("tolerance");  // against Pillow's decode of the same file
    QTest::addColumn<int>("fileType");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("samples");

    const QString lossless = QStringLiteral(R"({"irreversible": false})");
    QTest::newRow("rgb jp2") << "rgb.jp2"
                             << "RGB" << 37 << 25 << lossless << 0 << 13 << 8 << 3;
    QTest::newRow("rgb j2k") << "rgb.j2k"
                             << "RGB" << 37 << 25 << lossless << 0 << 14 << 8 << 3;
    QTest::newRow("grey jp2") << "grey.jp2"
                              << "L" << 20 << 11 << lossless << 0 << 13 << 8 << 1;
    QTest::newRow("grey j2k") << "grey.j2k"
                              << "L" << 20 << 11 << lossless << 0 << 14 << 8 << 1;
    QTest::newRow("rgba jp2") << "rgba.jp2"
                              << "RGBA" << 19 << 13 << lossless << 0 << 13 << 8 << 4;
    QTest::newRow("grey alpha jp2") << "la.jp2"
                                    << "LA" << 15 << 9 << lossless << 0 << 13 << 8 << 2;
    QTest::newRow("one pixel") << "one.jp2"
                               << "RGB" << 1 << 1 << lossless << 0 << 13 << 8 << 3;
    QTest::newRow("one column odd") << "col.j2k"
                                    << "RGB" << 1 << 33 << lossless << 0 << 14 << 8 << 3;
    QTest::newRow("odd wide") << "wide.jp2"
                              << "RGB" << 61 << 3 << lossless << 0 << 13 << 8 << 3;
    QTest::newRow("16-bit grey") << "g16.j2k"
                                 << "I;16" << 9 << 7 << lossless << 0 << 14 << 16 << 1;
    QTest::newRow("offset image")
        << "offset.j2k"
        << "RGB" << 37 << 25
        << R"({"irreversible": false, "offset": [3, 2], "tile_size": [16, 16]})" << 0 << 14 << 8
        << 3;
    // Tiles placed on the reference grid with an offset of their own. (Pillow 9.4 writes a wrong
    // last tile column when that column is only a few pixels wide and the tiles are offset; 45
    // pixels from x = 3 leave a 13-pixel column, which it writes right.)
    QTest::newRow("offset tiles")
        << "tiles.jp2"
        << "RGB" << 45 << 25 << R"({"irreversible": false, "offset": [3, 2], "tile_offset": [3, 2],
               "tile_size": [16, 16]})"
        << 0 << 13 << 8 << 3;
    QTest::newRow("lossy rgb") << "lossy.jp2"
                               << "RGB" << 40 << 30
                               << R"({"irreversible": true, "quality_layers": [20]})" << 1 << 13
                               << 8 << 3;
  }

  void readsPillowFiles() {
    QFETCH(QString, name);
    QFETCH(QString, mode);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QString, opts);
    QFETCH(int, tolerance);
    QFETCH(int, fileType);
    QFETCH(int, bits);
    QFETCH(int, samples);

    const QString path = Make(name, mode, width, height, opts);
    QVERIFY(!path.isEmpty());

    const HeaderFacts facts = ReadHeaderFacts(path);
    QCOMPARE(facts.FileType, fileType);
    QCOMPARE(facts.Width, width);
    QCOMPARE(facts.Height, height);
    QCOMPARE(facts.BitsPerSample, bits);
    QCOMPARE(facts.SamplesPerPixel, samples);
    QCOMPARE(facts.DpiX, kDefaultDpi);
    QVERIFY(!facts.FormatDescription.isEmpty());

    const Picture picture = ReadPicture(path);
    QCOMPARE(picture.Image.format(), QImage::Format_BGR888);
    QCOMPARE(picture.Width(), width);
    QCOMPARE(picture.Height(), height);
    QCOMPARE(picture.Params.FileType, fileType);
    QCOMPARE(picture.Params.Width, width);
    QCOMPARE(picture.Params.Height, height);
    QCOMPARE(picture.Params.BitsPerSample, bits);
    QCOMPARE(picture.Params.SamplesPerPixel, samples);
    QCOMPARE(picture.Params.DpiX, kDefaultDpi);

    if (mode == QLatin1String("I;16")) {
      // Pillow clips 16-bit samples when it makes RGB; compare with the scaled samples.
      const QImage grey = picture.Image.convertToFormat(QImage::Format_Grayscale8);
      QCOMPARE(MaxPlaneDifference(grey, ReadAll(path + QStringLiteral(".grey8"))), 0);
      QCOMPARE(MaxChannelDifference(picture.Image, grey.convertToFormat(QImage::Format_BGR888)), 0);
    } else {
      QString error;
      const QImage expected = DecodeWithPillow(path, &error);
      QVERIFY2(!expected.isNull(), qPrintable(error));
      const int difference = MaxChannelDifference(picture.Image, expected);
      QVERIFY2(difference >= 0 && difference <= tolerance, qPrintable(QString::number(difference)));
      if (!opts.contains(QLatin1String(R"("irreversible": true)"))) {
        // Lossless: exactly the picture Pillow was given.
        const QByteArray source = ReadAll(path + QStringLiteral(".source"));
        QCOMPARE(source.size(), qsizetype(width) * height * 3);
        const QImage sourceImage(reinterpret_cast<const uchar*>(source.constData()), width, height,
                                 width * 3, QImage::Format_RGB888);
        QCOMPARE(MaxChannelDifference(picture.Image, sourceImage), 0);
      }
    }

    QCOMPARE(picture.HasAlpha(), mode.contains(QLatin1Char('A')));
    if (picture.HasAlpha()) {
      QCOMPARE(picture.Alpha.size(), picture.Image.size());
      QCOMPARE(MaxPlaneDifference(picture.Alpha, ReadAll(path + QStringLiteral(".alpha"))), 0);
    }
  }

  // The content decides the format: a container renamed to a code-stream extension is still a
  // JP2 file (13), a code stream renamed .jp2 still a J2K one (14).
  void detectsByContent_data() {
    QTest::addColumn<QString>("madeAs");
    QTest::addColumn<QString>("renamedTo");
    QTest::addColumn<int>("fileType");
    QTest::newRow("jp2 as j2k") << "c1.jp2"
                                << "c1.j2k" << 13;
    QTest::newRow("jp2 as jpc") << "c2.jp2"
                                << "c2.jpc" << 13;
    QTest::newRow("j2k as jp2") << "c3.j2k"
                                << "c3.jp2" << 14;
    QTest::newRow("j2k as j2c") << "c4.j2k"
                                << "c4.j2c" << 14;
    QTest::newRow("j2k as png") << "c5.j2k"
                                << "c5.png" << 14;
  }

  void detectsByContent() {
    QFETCH(QString, madeAs);
    QFETCH(QString, renamedTo);
    QFETCH(int, fileType);
    const QString made = Make(madeAs, QStringLiteral("RGB"), 12, 8, QStringLiteral("{}"));
    QVERIFY(!made.isEmpty());
    const QString renamed = Dir.filePath(renamedTo);
    QVERIFY(QFile::rename(made, renamed));

    QCOMPARE(ReadHeaderFacts(renamed).FileType, fileType);
    const Picture picture = ReadPicture(renamed);
    QCOMPARE(picture.Params.FileType, fileType);
    QCOMPARE(picture.Width(), 12);
    QCOMPARE(picture.Height(), 8);
    QCOMPARE(MaxChannelDifference(picture.Image, DecodeWithPillow(renamed)), 0);
  }

  void readsResolutionBox_data() {
    QTest::addColumn<double>("vertical");
    QTest::addColumn<double>("horizontal");
    QTest::newRow("300 dpi") << 300.0 << 300.0;
    QTest::newRow("72 x 150 dpi") << 72.0 << 150.0;
  }

  void readsResolutionBox() {
    QFETCH(double, vertical);
    QFETCH(double, horizontal);
    const QString path = Make(QStringLiteral("res%1.jp2").arg(QTest::currentDataTag()).remove(' '),
                              QStringLiteral("RGB"), 10, 6, QStringLiteral("{}"));
    QVERIFY(!path.isEmpty());
    const ProcessResult r =
        RunPython(QString::fromLatin1(kAddResolutionScript),
                  {path, QString::number(vertical), QString::number(horizontal)});
    QVERIFY2(r.ExitCode == 0, r.Err.constData());

    const HeaderFacts facts = ReadHeaderFacts(path);
    QCOMPARE(facts.DpiX, qRound(horizontal));
    QCOMPARE(facts.DpiY, qRound(vertical));
    const Picture picture = ReadPicture(path);
    QCOMPARE(picture.Params.DpiX, qRound(horizontal));
    QCOMPARE(picture.Params.DpiY, qRound(vertical));
    QCOMPARE(MaxChannelDifference(picture.Image, DecodeWithPillow(path)), 0);
  }

  // Chroma at half resolution is spread over the 2 x 2 luma pixels it covers on the
  // reference grid, also when the image starts at an odd grid position.
  void upsamplesSubsampledChroma_data() {
    QTest::addColumn<bool>("container");
    QTest::addColumn<int>("x0");
    QTest::addColumn<int>("y0");
    QTest::newRow("jp2 at origin") << true << 0 << 0;
    QTest::newRow("jp2 at odd offset") << true << 3 << 5;
    QTest::newRow("j2k at even offset") << false << 4 << 2;
    QTest::newRow("j2k at odd offset") << false << 1 << 1;
  }

  void upsamplesSubsampledChroma() {
    QFETCH(bool, container);
    QFETCH(int, x0);
    QFETCH(int, y0);
    SubsampledYcc ycc;
    ycc.Width = 23;
    ycc.Height = 17;
    ycc.X0 = x0;
    ycc.Y0 = y0;
    ycc.Tinted = {QPoint(0, 0), QPoint(3, 2), QPoint(5, 7)};
    const QString path = Dir.filePath(QStringLiteral("ycc-%1-%2-%3.%4")
                                          .arg(int(container))
                                          .arg(x0)
                                          .arg(y0)
                                          .arg(container ? "jp2" : "j2k"));
    QVERIFY(ycc.Write(path, container));

    const HeaderFacts facts = ReadHeaderFacts(path);
    QCOMPARE(facts.FileType, container ? 13 : 14);
    QCOMPARE(facts.Width, 23);
    QCOMPARE(facts.Height, 17);
    const Picture picture = ReadPicture(path);
    QCOMPARE(picture.Width(), 23);
    QCOMPARE(picture.Height(), 17);

    // Grid position X belongs to chroma sample floor(X / 2) - ceil(x0 / 2); a first pixel at
    // an odd position, which lies before the first chroma sample, takes that sample.
    const int u0 = (x0 + 1) / 2, v0 = (y0 + 1) / 2;
    int tintedPixels = 0;
    for (int y = 0; y < 17; ++y)
      for (int x = 0; x < 23; ++x) {
        const QPoint sample(std::max(0, (x0 + x) / 2 - u0), std::max(0, (y0 + y) / 2 - v0));
        const QColor c = picture.Image.pixelColor(x, y);
        const int luma = SubsampledYcc::Luma(x0 + x, y0 + y);
        if (ycc.Tinted.contains(sample)) {
          ++tintedPixels;
          QVERIFY2(c.red() >= std::min(255, luma + 80) && c.green() < luma && c.blue() < luma,
                   qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
        } else {
          QVERIFY2(c.red() == luma && c.green() == luma && c.blue() == luma,
                   qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
        }
      }
    QVERIFY(tintedPixels >= 6);

    // Halved: the size follows the reduced reference grid.
    ReadOptions half;
    half.ScaleDenominator = 2;
    const Picture reduced = ReadPicture(path, half);
    QCOMPARE(reduced.Image.size(),
             QSize((x0 + 23 + 1) / 2 - (x0 + 1) / 2, (y0 + 17 + 1) / 2 - (y0 + 1) / 2));
  }

  // A scale denominator decodes fewer resolution levels: the picture is 1/2^n of the image
  // area, rounded up on the reference grid, while the params keep the stored size.
  void readsReduced_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QString>("opts");
    QTest::addColumn<int>("denominator");
    QTest::addColumn<QSize>("expected");
    QTest::addColumn<int>("pillowReduce");  // Pillow's reduce giving the same picture, or -1
    const QString lossless = QStringLiteral(R"({"irreversible": false})");
    QTest::newRow("1/1") << "r1.jp2" << 40 << 32 << lossless << 1 << QSize(40, 32) << 0;
    QTest::newRow("1/2") << "r2.jp2" << 40 << 32 << lossless << 2 << QSize(20, 16) << 1;
    QTest::newRow("1/4") << "r4.j2k" << 40 << 32 << lossless << 4 << QSize(10, 8) << 2;
    QTest::newRow("1/8") << "r8.jp2" << 40 << 32 << lossless << 8 << QSize(5, 4) << 3;
    QTest::newRow("1/8 odd size") << "r8odd.jp2" << 41 << 33 << lossless << 8 << QSize(6, 5) << -1;
    // Grid 3..40 x 2..27 halved: ceil(40/2) - ceil(3/2) = 18, ceil(27/2) - ceil(2/2) = 13.
    QTest::newRow("1/2 offset")
        << "r2off.j2k" << 37 << 25
        << R"({"irreversible": false, "offset": [3, 2], "tile_size": [16, 16]})" << 2
        << QSize(18, 13) << -1;
    // Two resolution levels allow one halving only.
    QTest::newRow("1/8 with two levels")
        << "rlevels.jp2" << 40 << 32 << R"({"irreversible": false, "num_resolutions": 2})" << 8
        << QSize(20, 16) << 1;
  }

  void readsReduced() {
    QFETCH(QString, name);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QString, opts);
    QFETCH(int, denominator);
    QFETCH(QSize, expected);
    QFETCH(int, pillowReduce);
    const QString path = Make(name, QStringLiteral("RGB"), width, height, opts);
    QVERIFY(!path.isEmpty());

    ReadOptions options;
    options.ScaleDenominator = denominator;
    const Picture picture = ReadPicture(path, options);
    QCOMPARE(picture.Image.size(), expected);
    QCOMPARE(picture.Params.Width, width);
    QCOMPARE(picture.Params.Height, height);
    if (pillowReduce < 0) return;

    const ProcessResult r = RunPython(
        QStringLiteral("import sys\nfrom PIL import Image\n"
                       "im = Image.open(sys.argv[1])\nim.reduce = int(sys.argv[2])\nim.load()\n"
                       "sys.stdout.buffer.write(im.convert('RGB').tobytes())"),
        {path, QString::number(pillowReduce)});
    QVERIFY2(r.ExitCode == 0, r.Err.constData());
    QCOMPARE(r.Out.size(), qsizetype(expected.width()) * expected.height() * 3);
    const QImage pillow(reinterpret_cast<const uchar*>(r.Out.constData()), expected.width(),
                        expected.height(), expected.width() * 3, QImage::Format_RGB888);
    QCOMPARE(MaxChannelDifference(picture.Image, pillow), 0);
  }

  void registryKnowsTheExtensions() {
    for (const char* ext : {"jp2", "j2k", "jpc", "j2c", "JP2"})
      QVERIFY2(CanReadExtension(QString::fromLatin1(ext)), ext);
    const CodecRegistry& registry = CodecRegistry::Instance();
    QCOMPARE(registry.ForExtension(QStringLiteral("jp2"))->FileType(), 13);
    QCOMPARE(registry.ForExtension(QStringLiteral("j2c"))->FileType(), 14);
    QVERIFY(!registry.ForExtension(QStringLiteral("jp2"))->CanWrite());
  }

  // Damaged and hostile files give PictureError from a read and file type 0 from a header
  // read; nothing crashes or prints.
  void refusesHostileFiles_data() {
    QTest::addColumn<QString>("source");  // file made by Pillow to start from
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("headerReadable");  // whether the header alone still reads

    QTest::newRow("empty jp2") << "h.jp2"
                               << "empty" << false;
    QTest::newRow("signature only jp2") << "h.jp2"
                                        << "signature" << false;
    QTest::newRow("signature only j2k") << "h.j2k"
                                        << "signature" << false;
    QTest::newRow("garbage after jp2 signature") << "h.jp2"
                                                 << "garbage" << false;
    QTest::newRow("garbage after j2k signature") << "h.j2k"
                                                 << "garbage" << false;
    QTest::newRow("truncated jp2") << "h.jp2"
                                   << "half" << true;
    QTest::newRow("truncated j2k") << "h.j2k"
                                   << "half" << true;
    QTest::newRow("40000 x 40000") << "h.j2k"
                                   << "huge" << false;
    QTest::newRow("30000 x 30000") << "h.j2k"
                                   << "toomany" << false;
    QTest::newRow("zero width") << "h.j2k"
                                << "empty area" << false;
    QTest::newRow("no components") << "h.j2k"
                                   << "no components" << false;
  }

  void refusesHostileFiles() {
    QFETCH(QString, source);
    QFETCH(QString, damage);
    QFETCH(bool, headerReadable);
    const QString made = Make(QStringLiteral("hostile-") + source, QStringLiteral("RGB"), 64, 48,
                              QStringLiteral(R"({"irreversible": false})"));
    QVERIFY(!made.isEmpty());
    const QByteArray good = ReadAll(made);
    const bool container = source.endsWith(QLatin1String("jp2"));
    const int signatureLength = container ? 12 : 4;
    const int siz = 4;  // offset of Lsiz in a code stream

    QByteArray bad;
    // Rewrites a 32-bit big-endian field of the code stream's SIZ marker.
    const auto setSiz = [&](int offset, quint32 value) {
      for (int i = 0; i < 4; ++i) bad[siz + offset + i] = char(value >> (24 - 8 * i));
    };
    if (damage == QLatin1String("empty")) {
    } else if (damage == QLatin1String("signature")) {
      bad = good.left(signatureLength);
    } else if (damage == QLatin1String("garbage")) {
      bad = good.left(signatureLength);
      quint32 seed = 12345;
      while (bad.size() < 4096) {
        seed = seed * 1103515245 + 12345;
        bad.append(char(seed >> 16));
      }
    } else if (damage == QLatin1String("half")) {
      bad = good.left(good.size() / 2);
    } else if (damage == QLatin1String("huge") || damage == QLatin1String("toomany")) {
      const quint32 side = damage == QLatin1String("huge") ? 40000 : 30000;
      bad = good;
      setSiz(4, side);   // Xsiz
      setSiz(8, side);   // Ysiz
      setSiz(20, side);  // XTsiz: one tile, so that the header itself stays small
      setSiz(24, side);  // YTsiz
    } else if (damage == QLatin1String("empty area")) {
      bad = good;
      setSiz(12, 64);  // XOsiz = Xsiz
    } else if (damage == QLatin1String("no components")) {
      bad = good;
      bad[siz + 36] = 0;  // Csiz
      bad[siz + 37] = 0;
    }

    const QString ext = source.section(QLatin1Char('.'), -1);
    const QString path = Dir.filePath(
        QStringLiteral("bad-%1.%2").arg(QString::number(qHash(QTest::currentDataTag())), ext));
    QVERIFY(WriteFile(path, bad));

    HeaderFacts facts;
    bool readThrew = false, memoryThrew = false;
    const QByteArray printed = StderrOf([&] {
      facts = ReadHeaderFacts(path);
      try {
        ReadPicture(path);
      } catch (const PictureError&) {
        readThrew = true;
      }
      try {
        ReadPictureFromMemory(View(bad), ext);
      } catch (const PictureError&) {
        memoryThrew = true;
      }
    });
    QVERIFY2(printed.isEmpty(), printed.constData());
    QVERIFY(readThrew);
    QVERIFY(memoryThrew);
    if (headerReadable) {
      QCOMPARE(facts.FileType, container ? 13 : 14);
      QCOMPARE(facts.Width, 64);
    } else {
      QCOMPARE(facts.FileType, 0);
    }
    // The codec itself refuses too, whatever content detection would pick.
    const Codec* codec = CodecRegistry::Instance().ForExtension(ext);
    QVERIFY(codec);
    QVERIFY_THROWS_EXCEPTION(PictureError, codec->Read(View(bad), {}));
  }

  // Copies of valid files cut short or with bytes overwritten at random: each read gives a
  // picture or PictureError, never anything else.
  void survivesDamagedCopies_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("jp2") << "fuzz.jp2";
    QTest::newRow("j2k") << "fuzz.j2k";
  }

  void survivesDamagedCopies() {
    QFETCH(QString, name);
    const QString made = Make(name, QStringLiteral("RGBA"), 40, 30,
                              QStringLiteral(R"({"irreversible": false, "tile_size": [16, 16]})"));
    QVERIFY(!made.isEmpty());
    const QByteArray good = ReadAll(made);
    const Codec* codec = CodecRegistry::Instance().ForExtension(name.section(QLatin1Char('.'), -1));
    QVERIFY(codec);
    quint32 seed = 7;
    const auto next = [&](quint32 n) {
      seed = seed * 1664525 + 1013904223;
      return (seed >> 8) % n;
    };
    int pictures = 0, refusals = 0;
    for (int round = 0; round < 150; ++round) {
      QByteArray bad = good;
      if (round % 3 == 0) {
        bad.truncate(next(quint32(good.size())));
      } else {
        for (int k = 1 + next(8); k > 0; --k) bad[next(quint32(bad.size()))] = char(next(256));
      }
      try {
        codec->ReadHeader(View(bad));
      } catch (const PictureError&) {
      }
      try {
        const Picture picture = codec->Read(View(bad), {});
        QCOMPARE(picture.Image.format(), QImage::Format_BGR888);
        QVERIFY(!picture.HasAlpha() || picture.Alpha.size() == picture.Image.size());
        ++pictures;
      } catch (const PictureError&) {
        ++refusals;
      }
    }
    QVERIFY(refusals > 0);
  }
};

QTEST_GUILESS_MAIN(TestJpeg2000)
#include "tst_Jpeg2000.moc"
