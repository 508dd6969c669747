// The TIFF codec against files of other writers (Pillow, GraphicsMagick) and its output against
// Pillow's reader.

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "common/TestSupport.h"
#include "imaging/CodecRegistry.h"
#include "imaging/ColorReduce.h"
#include "imaging/Dither.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"
#include "util/uFunction.h"

namespace {

// Writes a deterministic 70 x 50 colour picture as PNG with Pillow, the source of the fixtures
// made by GraphicsMagick and Pillow below.
const char kMakeSource[] =
    "import sys\n"
    "from PIL import Image\n"
    "im = Image.new('RGB', (70, 50))\n"
    "im.putdata([((x * 5 + y * 3) % 256, (x * y) % 256, ((x ^ y) * 4) % 256)\n"
    "            for y in range(50) for x in range(70)])\n"
    "im.save(sys.argv[1])\n";

// Pillow's view of a TIFF: mode, compression name, bits per sample and photometric tag.
const char kDescribe[] =
    "import sys\n"
    "from PIL import Image\n"
    "im = Image.open(sys.argv[1])\n"
    "t = im.tag_v2\n"
    "bits = t.get(258)\n"
    "bits = bits[0] if isinstance(bits, tuple) else bits\n"
    "print(im.mode, im.info.get('compression'), bits, t.get(262))\n";

}  // namespace

class TestTiff : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir Dir;
  QString SourcePng;

  QString PathOf(const QString& name) const { return Dir.filePath(name); }

  void MakeWithGm(const QStringList& args, const QString& out) {
    const ProcessResult r = RunProgram(
        QStringLiteral("gm"), QStringList{QStringLiteral("convert")} << SourcePng << args << out);
    QVERIFY2(r.ExitCode == 0, r.Err.constData());
  }

  void MakeWithPillow(const QString& body, const QString& out) {
    const QString script = QStringLiteral(
                               "import sys\nfrom PIL import Image\n"
                               "im = Image.open(sys.argv[1]); im.load()\nout = sys.argv[2]\n") +
                           body;
    const ProcessResult r = RunPython(script, {SourcePng, out});
    QVERIFY2(r.ExitCode == 0, r.Err.constData());
  }

  QStringList Describe(const QString& path) {
    const ProcessResult r = RunPython(QString::fromLatin1(kDescribe), {path});
    return QString::fromUtf8(r.Out).trimmed().split(QLatin1Char(' '));
  }

  // The source picture, read by Qt's own PNG reader so that these tests do not depend on ours.
  Picture Source() {
    Picture picture;
    picture.Image = QImage(SourcePng).convertToFormat(QImage::Format_BGR888);
    return picture;
  }

 private slots:
  void initTestCase() {
    QVERIFY(Dir.isValid());
    SourcePng = PathOf(QStringLiteral("source.png"));
    const ProcessResult r = RunPython(QString::fromLatin1(kMakeSource), {SourcePng});
    QVERIFY2(r.ExitCode == 0, r.Err.constData());
  }

  void signatureAndExtensions() {
    const Codec* codec = CodecRegistry::Instance().ForFileType(PictureFileType::Tiff);
    QVERIFY(codec);
    QVERIFY(CanReadExtension(QStringLiteral("x.TIF")));
    QVERIFY(CanReadExtension(QStringLiteral("tiff")));
    for (const char* head : {"II*\0", "MM\0*", "II+\0", "MM\0+"})
      QVERIFY(codec->MatchesSignature(ByteView(reinterpret_cast<const std::uint8_t*>(head), 4)));
    QVERIFY(!codec->MatchesSignature(ByteView(reinterpret_cast<const std::uint8_t*>("II*"), 3)));
    QVERIFY(!codec->MatchesSignature(ByteView(reinterpret_cast<const std::uint8_t*>("MM*\0"), 4)));
  }

  // Files of other writers: facts, compression kind and pixels against Pillow's decoding (or
  // against the 8-bit source where Pillow cannot be the reference).
  void readsOtherWriters_data() {
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("recipe");  // gm arguments, or Pillow code saving `im` to `out`
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("samples");
    QTest::addColumn<QString>("colors");
    QTest::addColumn<int>("dpi");
    QTest::addColumn<QString>("reference");  // "pillow", "source" or "none"
    QTest::addColumn<int>("tolerance");

    QTest::newRow("rgb none") << "pil"
                              << "im.save(out, compression=None)" << 0 << 8 << 3 << "16 M"
                              << kDefaultDpi << "pillow" << 0;
    QTest::newRow("rgb lzw") << "pil"
                             << "im.save(out, compression='tiff_lzw')" << 5 << 8 << 3 << "16 M"
                             << kDefaultDpi << "pillow" << 0;
    QTest::newRow("rgb packbits") << "pil"
                                  << "im.save(out, compression='packbits')" << 8 << 8 << 3 << "16 M"
                                  << kDefaultDpi << "pillow" << 0;
    QTest::newRow("rgb deflate") << "pil"
                                 << "im.save(out, compression='tiff_adobe_deflate')" << 9 << 8 << 3
                                 << "16 M" << kDefaultDpi << "pillow" << 0;
    QTest::newRow("rgb tiled") << "gm"
                               << "-define tiff:tile-geometry=32x32 -compress LZW" << 5 << 8 << 3
                               << "16 M" << kDefaultDpi << "pillow" << 0;
    QTest::newRow("rgb planes") << "gm"
                                << "-interlace plane -compress None" << 0 << 8 << 3 << "16 M"
                                << kDefaultDpi << "pillow" << 0;
    QTest::newRow("rgb jpeg ycbcr")
        << "gm"
        << "-compress JPEG -quality 90" << 7 << 8 << 3 << "16 M" << kDefaultDpi << "pillow" << 3;
    QTest::newRow("rgb 48-bit") << "gm"
                                << "-depth 16 -compress None" << 0 << 16 << 3 << "Unknown"
                                << kDefaultDpi << "source" << 0;
    QTest::newRow("grey 16-bit") << "gm"
                                 << "-colorspace gray -depth 16 -compress LZW" << 5 << 16 << 1
                                 << "65,536" << kDefaultDpi << "none" << 0;
    QTest::newRow("rgba") << "pil"
                          << "im.putalpha(im.getchannel('G')); im.save(out)" << 0 << 8 << 4
                          << "32 M" << kDefaultDpi << "pillow" << 0;
    QTest::newRow("palette") << "pil"
                             << "im.quantize(200).save(out)" << 0 << 8 << 1 << "256" << kDefaultDpi
                             << "pillow" << 0;
    QTest::newRow("grey") << "pil"
                          << "im.convert('L').save(out, compression='tiff_lzw')" << 5 << 8 << 1
                          << "256" << kDefaultDpi << "pillow" << 0;
    QTest::newRow("bilevel g3 1-d") << "pil"
                                    << "im.convert('1').save(out, compression='group3')" << 2 << 1
                                    << 1 << "2" << kDefaultDpi << "pillow" << 0;
    QTest::newRow("bilevel g3 2-d")
        << "gm"
        << "-monochrome -compress Fax -define tiff:group-three-options=1" << 3 << 1 << 1 << "2"
        << kDefaultDpi << "pillow" << 0;
    QTest::newRow("bilevel g4") << "pil"
                                << "im.convert('1').save(out, compression='group4')" << 4 << 1 << 1
                                << "2" << kDefaultDpi << "pillow" << 0;
    QTest::newRow("bilevel ccitt rle") << "pil"
                                       << "im.convert('1').save(out, compression='tiff_ccitt')" << 1
                                       << 1 << 1 << "2" << kDefaultDpi << "pillow" << 0;
    QTest::newRow("two pages") << "pil"
                               << "im.save(out, save_all=True, append_images=[im.convert('L')])"
                               << 0 << 8 << 3 << "16 M" << kDefaultDpi << "pillow" << 0;
    QTest::newRow("cmyk") << "pil"
                          << "im.convert('CMYK').save(out, compression='tiff_lzw')" << 5 << 8 << 4
                          << "32 M" << kDefaultDpi << "source" << 0;
    QTest::newRow("dpi 300") << "pil"
                             << "im.save(out, dpi=(300, 300))" << 0 << 8 << 3 << "16 M" << 300
                             << "pillow" << 0;
    QTest::newRow("dpi cm") << "gm"
                            << "-units PixelsPerCentimeter -density 118.11 -compress None" << 0 << 8
                            << 3 << "16 M" << 300 << "pillow" << 0;
  }

  void readsOtherWriters() {
    QFETCH(QString, tool);
    QFETCH(QString, recipe);
    QFETCH(int, kind);
    QFETCH(int, bits);
    QFETCH(int, samples);
    QFETCH(QString, colors);
    QFETCH(int, dpi);
    QFETCH(QString, reference);
    QFETCH(int, tolerance);

    const QString path = PathOf(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_') +
                                QStringLiteral(".tif"));
    if (tool == QLatin1String("gm"))
      MakeWithGm(recipe.split(QLatin1Char(' ')), path);
    else
      MakeWithPillow(recipe, path);

    const HeaderFacts facts = ReadHeaderFacts(path);
    QCOMPARE(facts.FileType, PictureFileType::Tiff);
    QCOMPARE(facts.Width, 70);
    QCOMPARE(facts.Height, 50);
    QCOMPARE(facts.BitsPerSample, bits);
    QCOMPARE(facts.SamplesPerPixel, samples);
    QCOMPARE(ColorCountText(facts.BitsPerSample * facts.SamplesPerPixel), colors);
    QCOMPARE(facts.DpiX, dpi);

    const Picture picture = ReadPicture(path);
    QCOMPARE(picture.Image.format(), QImage::Format_BGR888);
    QCOMPARE(picture.Image.size(), QSize(70, 50));
    QCOMPARE(picture.Params.FileType, PictureFileType::Tiff);
    QCOMPARE(picture.Params.TiffCompressionKind, kind);
    QCOMPARE(picture.Params.BitsPerSample, bits);
    QCOMPARE(picture.Params.SamplesPerPixel, samples);
    QCOMPARE(picture.Params.DpiX, dpi);
    QCOMPARE(picture.Params.DpiY, dpi);

    if (reference == QLatin1String("pillow")) {
      QString error;
      const QImage expected = DecodeWithPillow(path, &error);
      QVERIFY2(!expected.isNull(), qPrintable(error));
      const int difference = MaxChannelDifference(picture.Image, expected);
      QVERIFY2(difference >= 0 && difference <= tolerance, qPrintable(QString::number(difference)));
    } else if (reference == QLatin1String("source")) {
      QCOMPARE(MaxChannelDifference(picture.Image, Source().Image), tolerance);
    }
    if (recipe.contains(QLatin1String("putalpha"))) {  // the alpha plane is the green channel
      QVERIFY(picture.HasAlpha());
      for (int y = 0; y < 50; y += 7)
        for (int x = 0; x < 70; x += 5)
          QCOMPARE(int(picture.Alpha.constScanLine(y)[x]),
                   int(picture.Image.constScanLine(y)[3 * x + 1]));
    } else {
      QVERIFY(!picture.HasAlpha());
    }
  }

  // 16-bit grey with known values: each is scaled to 8 bits with rounding.
  void reads16BitGreyValues() {
    const QString path = PathOf(QStringLiteral("grey16_values.tif"));
    const ProcessResult r = RunPython(
        QStringLiteral(
            "import sys\nfrom PIL import Image\n"
            "im = Image.new('I;16', (64, 4))\n"
            "im.putdata([(x * 1031 + y * 7) % 65536 for y in range(4) for x in range(64)])\n"
            "im.save(sys.argv[1])\n"),
        {path});
    QVERIFY2(r.ExitCode == 0, r.Err.constData());
    const Picture picture = ReadPicture(path);
    QCOMPARE(picture.Params.BitsPerSample, 16);
    QCOMPARE(picture.Params.SamplesPerPixel, 1);
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 64; ++x) {
        const int value = (x * 1031 + y * 7) % 65536;
        const int expected = (value * 255 + 32767) / 65535;
        const uchar* p = picture.Image.constScanLine(y) + 3 * x;
        QCOMPARE(int(p[0]), expected);
        QCOMPARE(int(p[1]), expected);
        QCOMPARE(int(p[2]), expected);
      }
    }
  }

  // Our output for each compression kind: Pillow names the compression and decodes our pixels.
  void writesEachCompression_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("pillowName");
    QTest::newRow("none") << 0 << "raw";
    QTest::newRow("ccitt 1d") << 1 << "tiff_ccitt";
    QTest::newRow("g3 1d") << 2 << "group3";
    QTest::newRow("g3 2d") << 3 << "group3";
    QTest::newRow("g4") << 4 << "group4";
    QTest::newRow("lzw") << 5 << "tiff_lzw";
    QTest::newRow("packbits") << 8 << "packbits";
  }

  void writesEachCompression() {
    QFETCH(int, kind);
    QFETCH(QString, pillowName);
    Picture picture = Source();
    picture.Params.TiffCompressionKind = kind;
    picture.Params.DpiX = picture.Params.DpiY = 200;
    const QString path = PathOf(QStringLiteral("out_%1.tif").arg(kind));
    WritePicture(picture, path);

    const bool fax = kind >= 1 && kind <= 4;
    const QStringList described = Describe(path);
    QCOMPARE(described.value(0), fax ? QStringLiteral("1") : QStringLiteral("RGB"));
    QCOMPARE(described.value(1), pillowName);

    // The fax kinds hold the dithered black-and-white picture.
    const QImage expected = fax ? MonoToBgr(DitherToBlackAndWhite(picture.Image)) : picture.Image;
    QString error;
    const QImage decoded = DecodeWithPillow(path, &error);
    QVERIFY2(!decoded.isNull(), qPrintable(error));
    QCOMPARE(MaxChannelDifference(decoded, expected), 0);

    const Picture back = ReadPicture(path);
    QCOMPARE(back.Params.TiffCompressionKind, kind);
    QCOMPARE(back.Params.BitsPerSample, fax ? 1 : 8);
    QCOMPARE(back.Params.DpiX, 200);
    QCOMPARE(MaxChannelDifference(back.Image, expected), 0);
    if (kind == 3 || kind == 2) {
      const ProcessResult r =
          RunPython(QStringLiteral("import sys\nfrom PIL import Image\n"
                                   "print(Image.open(sys.argv[1]).tag_v2.get(292, 0) & 1)\n"),
                    {path});
      QCOMPARE(r.Out.trimmed(), kind == 3 ? QByteArray("1") : QByteArray("0"));
    }
  }

  // The forms other than 24-bit colour: palette with the requested depth, 1-bit, grey, alpha.
  void writesOtherForms_data() {
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("pillowMode");
    QTest::addColumn<int>("fileBits");
    QTest::newRow("palette 16 colours 4 bits") << "palette4"
                                               << "P" << 4;
    QTest::newRow("palette 200 colours") << "palette8"
                                         << "P" << 8;
    QTest::newRow("1-bit") << "mono"
                           << "1" << 1;
    QTest::newRow("grey") << "grey"
                          << "L" << 8;
    QTest::newRow("rgba") << "alpha"
                          << "RGBA" << 8;
  }

  void writesOtherForms() {
    QFETCH(QString, form);
    QFETCH(QString, pillowMode);
    QFETCH(int, fileBits);
    Picture picture = Source();
    picture.Params.TiffCompressionKind = TiffCompression::Lzw;
    if (form == QLatin1String("palette4")) {
      picture.Image = ReduceColors(picture.Image, 16);
      picture.Params.BitsPerSample = 4;
      picture.Params.SamplesPerPixel = 1;
    } else if (form == QLatin1String("palette8")) {
      picture.Image = ReduceColors(picture.Image, 200);
    } else if (form == QLatin1String("mono")) {
      picture.Image = DitherToBlackAndWhite(picture.Image);
    } else if (form == QLatin1String("grey")) {
      picture.Image = picture.Image.convertToFormat(QImage::Format_Grayscale8)
                          .convertToFormat(QImage::Format_BGR888);
      picture.Params.SamplesPerPixel = 1;
    } else {
      picture.Alpha = QImage(70, 50, QImage::Format_Grayscale8);
      for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 70; ++x) picture.Alpha.scanLine(y)[x] = uchar((x * 3 + y * 5) % 256);
    }
    const QString path = PathOf(QStringLiteral("form_%1.tif").arg(form));
    WritePicture(picture, path);
    const QStringList described = Describe(path);
    QCOMPARE(described.value(0), pillowMode);
    QCOMPARE(described.value(2).toInt(), fileBits);

    const QImage expected = picture.Image.convertToFormat(QImage::Format_RGB888);
    QCOMPARE(MaxChannelDifference(DecodeWithPillow(path), expected), 0);
    const Picture back = ReadPicture(path);
    QCOMPARE(MaxChannelDifference(back.Image, expected), 0);
    QCOMPARE(back.HasAlpha(), picture.HasAlpha());
    if (picture.HasAlpha()) QCOMPARE(back.Alpha, picture.Alpha);
  }

  // EXIF, ICC profile and comment survive a write and a read, and Pillow finds them in our file.
  void keepsMetadata() {
    const ProcessResult made = RunPython(QStringLiteral(
        "import sys\nfrom PIL import Image\nfrom PIL.TiffImagePlugin import IFDRational\n"
        "e = Image.Exif()\n"
        "e[0x8298] = 'Copyright Quillomar'\ne[0x010F] = 'Maker'\ne[0x0110] = 'Model 7'\n"
        "e[0x8769] = {0x9003: '2021:02:03 04:05:06', 0x829D: IFDRational(28, 10),\n"
        "             0x829A: IFDRational(1, 250), 0x9202: IFDRational(297, 100),\n"
        "             0x9201: IFDRational(-3, 2), 0x8827: 400}\n"
        "e[0x8825] = {1: 'N', 2: (IFDRational(52, 1), IFDRational(30, 1), IFDRational(31, 2))}\n"
        "sys.stdout.buffer.write(e.tobytes()[6:])\n"));
    QVERIFY2(made.ExitCode == 0, made.Err.constData());
    QVERIFY(made.Out.startsWith("MM\0*") || made.Out.startsWith("II*\0"));

    Picture picture = Source();
    picture.Params.Exif = made.Out;
    picture.Params.IccProfile = QByteArray("not a real profile, but kept byte for byte");
    picture.Params.Comments = QStringList{QStringLiteral("A description")};
    const QString path = PathOf(QStringLiteral("metadata.tif"));
    WritePicture(picture, path);

    // Pillow reads the tags from our file, and from the block our reader gives back.
    const char kCheck[] =
        "import sys\nfrom PIL import Image\n"
        "def show(e):\n"
        "    x = e.get_ifd(0x8769)\n"
        "    g = e.get_ifd(0x8825)\n"
        "    r = lambda v: round(float(v), 6)  # rationals pass through single precision\n"
        "    print(e.get(0x8298), '|', e.get(0x010F), '|', x.get(0x9003), '|', r(x.get(0x829D)),\n"
        "          '|', r(x.get(0x829A)), '|', r(x.get(0x9202)), '|', r(x.get(0x9201)),\n"
        "          '|', x.get(0x8827), '|', g.get(1), [r(v) for v in g.get(2)])\n"
        "if sys.argv[1] == 'file':\n"
        "    im = Image.open(sys.argv[2])\n"
        "    show(im.getexif())\n"
        "    print(im.info.get('icc_profile'), im.tag_v2.get(270))\n"
        "else:\n"
        "    e = Image.Exif()\n"
        "    e.load(b'Exif\\x00\\x00' + open(sys.argv[2], 'rb').read())\n"
        "    show(e)\n";
    const QByteArray expectedTags =
        "Copyright Quillomar | Maker | 2021:02:03 04:05:06 | 2.8 | 0.004 | 2.97 | -1.5 | 400 | N "
        "[52.0, 30.0, 15.5]";
    const ProcessResult fromFile =
        RunPython(QString::fromLatin1(kCheck), {QStringLiteral("file"), path});
    QVERIFY2(fromFile.ExitCode == 0, fromFile.Err.constData());
    const QList<QByteArray> lines = fromFile.Out.trimmed().split('\n');
    QCOMPARE(lines.value(0).trimmed(), expectedTags);
    QCOMPARE(lines.value(1).trimmed(),
             QByteArray("b'not a real profile, but kept byte for byte' A description"));

    const Picture back = ReadPicture(path);
    QCOMPARE(back.Params.IccProfile, picture.Params.IccProfile);
    QCOMPARE(back.Params.Comments, picture.Params.Comments);
    QVERIFY(back.Params.Exif.startsWith("MM\0*") || back.Params.Exif.startsWith("II*\0"));
    const QString blockPath = PathOf(QStringLiteral("block.exif"));
    QFile block(blockPath);
    QVERIFY(block.open(QIODevice::WriteOnly));
    block.write(back.Params.Exif);
    block.close();
    const ProcessResult fromBlock =
        RunPython(QString::fromLatin1(kCheck), {QStringLiteral("block"), blockPath});
    QVERIFY2(fromBlock.ExitCode == 0, fromBlock.Err.constData());
    QCOMPARE(fromBlock.Out.trimmed(), expectedTags);
  }

  // A camera-like JPEG's EXIF goes through our JPEG reader and TIFF writer: Pillow finds the
  // exposure tags and the copyright in the TIFF, and our TIFF reader gives them back.
  void keepsExifFromJpeg() {
    const QString jpeg = PathOf(QStringLiteral("camera.jpg"));
    const ProcessResult made = RunPython(
        QStringLiteral(
            "import sys\nfrom PIL import Image\nfrom PIL.TiffImagePlugin import IFDRational\n"
            "im = Image.open(sys.argv[1])\ne = Image.Exif()\n"
            "e[0x8298] = 'Photographer 2021'\ne[0x0110] = 'Camera X'\n"
            "e[0x8769] = {0x9003: '2021:05:06 07:08:09', 0x829D: IFDRational(56, 10),\n"
            "             0x829A: IFDRational(1, 60), 0x9202: IFDRational(497, 100),\n"
            "             0x9201: IFDRational(59, 10)}\n"
            "im.save(sys.argv[2], quality=90, exif=e.tobytes())\n"),
        {SourcePng, jpeg});
    QVERIFY2(made.ExitCode == 0, made.Err.constData());
    Picture picture = ReadPicture(jpeg);
    QVERIFY(!picture.Params.Exif.isEmpty());
    picture.Params.TiffCompressionKind = TiffCompression::Lzw;
    const QString tiff = PathOf(QStringLiteral("camera.tif"));
    WritePicture(picture, tiff);

    const char kShow[] =
        "import sys\nfrom PIL import Image\n"
        "e = Image.Exif()\n"
        "if sys.argv[1] == 'file':\n"
        "    e = Image.open(sys.argv[2]).getexif()\n"
        "else:\n"
        "    e.load(b'Exif\\x00\\x00' + open(sys.argv[2], 'rb').read())\n"
        "x = e.get_ifd(0x8769)\n"
        "r = lambda v: round(float(v), 6)\n"
        "print(e.get(0x8298), '|', e.get(0x0110), '|', x.get(0x9003), '|', r(x[0x829D]), '|',\n"
        "      r(x[0x829A]), '|', r(x[0x9202]), '|', r(x[0x9201]))\n";
    const QByteArray expected =
        "Photographer 2021 | Camera X | 2021:05:06 07:08:09 | 5.6 | 0.016667 | 4.97 | 5.9";
    const ProcessResult fromFile =
        RunPython(QString::fromLatin1(kShow), {QStringLiteral("file"), tiff});
    QVERIFY2(fromFile.ExitCode == 0, fromFile.Err.constData());
    QCOMPARE(fromFile.Out.trimmed(), expected);

    const Picture back = ReadPicture(tiff);
    const QString blockPath = PathOf(QStringLiteral("camera.exif"));
    QFile block(blockPath);
    QVERIFY(block.open(QIODevice::WriteOnly));
    block.write(back.Params.Exif);
    block.close();
    const ProcessResult fromBlock =
        RunPython(QString::fromLatin1(kShow), {QStringLiteral("block"), blockPath});
    QVERIFY2(fromBlock.ExitCode == 0, fromBlock.Err.constData());
    QCOMPARE(fromBlock.Out.trimmed(), expected);
  }

  // Damaged and hostile files give PictureError (or header facts of code 0), never a crash.
  void refusesHostileFiles_data() {
    QTest::addColumn<QByteArray>("data");
    QByteArray valid = ReadAll(PathOf(QStringLiteral("rgb_lzw.tif")));
    if (valid.isEmpty()) {
      Picture picture = Source();
      picture.Params.TiffCompressionKind = TiffCompression::Lzw;
      valid = EncodePicture(picture, QStringLiteral("tif"));
    }
    QTest::newRow("zero length") << QByteArray();
    QTest::newRow("signature only") << QByteArray("II*\0", 4);
    QTest::newRow("truncated half") << valid.left(valid.size() / 2);
    QTest::newRow("truncated header") << valid.left(12);
    QByteArray garbage("II*\0", 4);
    for (int i = 0; i < 500; ++i) garbage += char((i * 73 + 11) % 256);
    QTest::newRow("garbage") << garbage;
    // A single-strip 8-bit grey header claiming 100000 x 100000 pixels.
    QByteArray absurd("II*\0\x08\0\0\0", 8);
    auto entry = [&](quint16 tag, quint16 type, quint32 count, quint32 value) {
      absurd += char(tag & 255), absurd += char(tag >> 8), absurd += char(type), absurd += '\0';
      for (int i = 0; i < 4; ++i) absurd += char((count >> (8 * i)) & 255);
      for (int i = 0; i < 4; ++i) absurd += char((value >> (8 * i)) & 255);
    };
    absurd += char(6), absurd += '\0';
    entry(256, 4, 1, 100000);
    entry(257, 4, 1, 100000);
    entry(258, 3, 1, 8);
    entry(262, 3, 1, 1);
    entry(273, 4, 1, 200);
    entry(279, 4, 1, 10);
    absurd += QByteArray(4, '\0') + QByteArray(300, '\x55');
    QTest::newRow("absurd dimensions") << absurd;
  }

  void refusesHostileFiles() {
    QFETCH(QByteArray, data);
    QVERIFY_THROWS_EXCEPTION(PictureError,
                             ReadPictureFromMemory(View(data), QStringLiteral("tif")));
    const HeaderFacts facts = ReadHeaderFactsFromMemory(View(data), QStringLiteral("tif"));
    QVERIFY(facts.FileType == PictureFileType::Unknown || facts.FileType == PictureFileType::Tiff);
  }
  // Files with damaged bytes or cut short anywhere: each read gives a picture or PictureError.
  // Run under AddressSanitizer, this finds reads outside the data.
  void survivesDamagedBytes_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("rgb lzw") << "rgb_lzw.tif";
    QTest::newRow("rgb tiled") << "rgb_tiled.tif";
    QTest::newRow("palette") << "palette.tif";
    QTest::newRow("bilevel g4") << "bilevel_g4.tif";
    QTest::newRow("rgb jpeg") << "rgb_jpeg_ycbcr.tif";
    QTest::newRow("with exif") << "metadata.tif";
  }

  void survivesDamagedBytes() {
    QFETCH(QString, file);
    const QByteArray valid = ReadAll(PathOf(file));
    if (valid.isEmpty()) QSKIP("the file is made by an earlier test of this run");
    QRandomGenerator random(1234);
    for (int round = 0; round < 150; ++round) {
      QByteArray damaged = valid;
      if (round % 3 == 2) {
        damaged.truncate(8 + random.bounded(int(valid.size()) - 8));
      } else {
        for (int i = random.bounded(1, 9); i > 0; --i)
          damaged[4 + random.bounded(int(damaged.size()) - 4)] = char(random.bounded(256));
      }
      try {
        const Picture picture = ReadPictureFromMemory(View(damaged), QStringLiteral("tif"));
        QVERIFY(!picture.IsNull());
      } catch (const PictureError&) {
      }
      ReadHeaderFactsFromMemory(View(damaged), QStringLiteral("tif"));
    }
  }
};

QTEST_GUILESS_MAIN(TestTiff)
#include "tst_Tiff.moc"
