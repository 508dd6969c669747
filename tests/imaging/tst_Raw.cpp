// The camera RAW reader. No program on this system writes camera RAW files, so the test
// writes a minimal DNG (a TIFF holding a 16-bit Bayer mosaic with the DNG tags LibRaw needs)
// with libtiff, gives it a RAW extension, and checks what LibRaw develops from it: the
// dimensions, the colours of known patches, and the EXIF block built from the shot's facts.
#include <libexif/exif-data.h>
#include <tiffio.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "common/TestSupport.h"
#include "imaging/CodecRegistry.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"

namespace {

constexpr int kWidth = 64;  // LibRaw ignores mosaics smaller than 22 pixels
constexpr int kHeight = 48;
const char kDateTime[] = "2024:05:06 07:08:09";

// A mosaic of four 32 x 24 patches on an RGGB pattern, 16-bit linear samples:
//   top left: grey 8000      top right: grey 24000
//   bottom left: red only    bottom right: grey 16000
// redScale scales the samples of the red sites (to pair with an as-shot neutral).
std::vector<std::uint16_t> Mosaic(double redScale = 1.0) {
  std::vector<std::uint16_t> cfa(std::size_t(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const bool redSite = y % 2 == 0 && x % 2 == 0;
      double v;
      if (y < kHeight / 2)
        v = x < kWidth / 2 ? 8000 : 24000;
      else
        v = x < kWidth / 2 ? (redSite ? 24000 : 1000) : 16000;
      if (redSite) v *= redScale;
      cfa[std::size_t(y) * kWidth + x] = std::uint16_t(std::lround(v));
    }
  return cfa;
}

struct DngOptions {
  int Orientation = ORIENTATION_TOPLEFT;
  float RedNeutral = 1.0f;  // AsShotNeutral of the red channel
  bool Exif = true;
};

// Writes the mosaic as a DNG whose camera space is linear sRGB (ColorMatrix1 is the
// XYZ -> linear sRGB matrix), so that a neutral mosaic develops to neutral grey.
bool WriteDng(const QString& path, const std::vector<std::uint16_t>& cfa, const DngOptions& o) {
  TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
  if (!tif) return false;
  bool ok = true;
  ok &= TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0) == 1;
  ok &= TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth) == 1;
  ok &= TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight) == 1;
  ok &= TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16) == 1;
  ok &= TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) == 1;
  ok &= TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE) == 1;
  ok &= TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, 32803) == 1;  // colour filter array
  ok &= TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1;
  ok &= TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kHeight) == 1;
  ok &= TIFFSetField(tif, TIFFTAG_ORIENTATION, o.Orientation) == 1;
  ok &= TIFFSetField(tif, TIFFTAG_MAKE, "Quillomar") == 1;
  ok &= TIFFSetField(tif, TIFFTAG_MODEL, "Test Camera") == 1;
  ok &= TIFFSetField(tif, TIFFTAG_ARTIST, "Ada Lovelace") == 1;
  ok &= TIFFSetField(tif, TIFFTAG_COPYRIGHT, "(c) Quillomar tests") == 1;
  ok &= TIFFSetField(tif, TIFFTAG_DATETIME, kDateTime) == 1;
  ok &= TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, "Quillomar Test Camera") == 1;
  const std::uint8_t version[4] = {1, 4, 0, 0};
  ok &= TIFFSetField(tif, TIFFTAG_DNGVERSION, version) == 1;
  ok &= TIFFSetField(tif, TIFFTAG_DNGBACKWARDVERSION, version) == 1;
  const std::uint16_t repeat[2] = {2, 2};
  ok &= TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, repeat) == 1;
  const std::uint8_t rggb[4] = {0, 1, 1, 2};
  ok &= TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, rggb) == 1;
  const float xyzToSrgb[9] = {3.2404542f, -1.5371385f, -0.4985314f, -0.9692660f, 1.8760108f,
                              0.0415560f, 0.0556434f,  -0.2040259f, 1.0572252f};
  ok &= TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, xyzToSrgb) == 1;
  ok &= TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, 21) == 1;  // D65
  const float neutral[3] = {o.RedNeutral, 1.0f, 1.0f};
  ok &= TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, neutral) == 1;
  const std::uint32_t white = 65535;
  ok &= TIFFSetField(tif, TIFFTAG_WHITELEVEL, 1, &white) == 1;
  if (o.Exif) ok &= TIFFSetField(tif, TIFFTAG_EXIFIFD, std::uint64_t(0)) == 1;
  for (int y = 0; ok && y < kHeight; ++y)
    ok = TIFFWriteScanline(tif, const_cast<std::uint16_t*>(cfa.data() + std::size_t(y) * kWidth), y,
                           0) >= 0;
  ok = ok && TIFFWriteDirectory(tif);
  if (ok && o.Exif) {
    // The EXIF directory goes after the main one; the main one is then rewritten with its
    // offset.
    ok = TIFFCreateEXIFDirectory(tif) == 0;
    ok = ok && TIFFSetField(tif, EXIFTAG_EXPOSURETIME, 1.0 / 125);
    ok = ok && TIFFSetField(tif, EXIFTAG_FNUMBER, 5.6);
    const std::uint16_t iso[1] = {200};
    ok = ok && TIFFSetField(tif, EXIFTAG_ISOSPEEDRATINGS, 1, iso);
    ok = ok && TIFFSetField(tif, EXIFTAG_DATETIMEORIGINAL, kDateTime);
    ok = ok && TIFFSetField(tif, EXIFTAG_FOCALLENGTH, 35.0);
    std::uint64_t exifOffset = 0;
    ok = ok && TIFFWriteCustomDirectory(tif, &exifOffset);
    ok = ok && TIFFSetDirectory(tif, 0);
    ok = ok && TIFFSetField(tif, TIFFTAG_EXIFIFD, exifOffset);
    ok = ok && TIFFRewriteDirectory(tif);
  }
  TIFFClose(tif);
  return ok;
}

// Mean colour (r, g, b) of an 8 x 8 block centred on (cx, cy) of a BGR888 picture.
std::array<double, 3> MeanRgb(const QImage& image, int cx, int cy) {
  std::array<double, 3> sum{0, 0, 0};
  for (int y = cy - 4; y < cy + 4; ++y)
    for (int x = cx - 4; x < cx + 4; ++x) {
      const uchar* p = image.constScanLine(y) + 3 * x;
      sum[0] += p[2];
      sum[1] += p[1];
      sum[2] += p[0];
    }
  for (double& s : sum) s /= 64;
  return sum;
}

bool IsNeutral(const std::array<double, 3>& c, double tolerance) {
  return std::abs(c[0] - c[1]) <= tolerance && std::abs(c[1] - c[2]) <= tolerance;
}

QString Describe(const std::array<double, 3>& c) {
  return QStringLiteral("(%1, %2, %3)").arg(c[0]).arg(c[1]).arg(c[2]);
}

// The libexif view of our EXIF block, which carries no "Exif\0\0" header of its own.
struct ParsedExif {
  explicit ParsedExif(const QByteArray& block) {
    const QByteArray withHeader = QByteArrayLiteral("Exif\0\0") + block;
    Data = exif_data_new_from_data(reinterpret_cast<const unsigned char*>(withHeader.constData()),
                                   static_cast<unsigned int>(withHeader.size()));
  }
  ~ParsedExif() {
    if (Data) exif_data_unref(Data);
  }
  ExifEntry* Entry(ExifIfd ifd, ExifTag tag) const {
    return Data ? exif_content_get_entry(Data->ifd[ifd], tag) : nullptr;
  }
  QByteArray Text(ExifIfd ifd, ExifTag tag) const {
    ExifEntry* e = Entry(ifd, tag);
    if (!e || e->format != EXIF_FORMAT_ASCII || !e->data) return {};
    return QByteArray(reinterpret_cast<const char*>(e->data),
                      qsizetype(qstrnlen(reinterpret_cast<const char*>(e->data), e->size)));
  }
  double Number(ExifIfd ifd, ExifTag tag) const {
    ExifEntry* e = Entry(ifd, tag);
    if (!e || !e->data || e->components != 1) return -1;
    const ExifByteOrder order = exif_data_get_byte_order(Data);
    switch (e->format) {
      case EXIF_FORMAT_RATIONAL: {
        const ExifRational r = exif_get_rational(e->data, order);
        return r.denominator ? double(r.numerator) / r.denominator : -1;
      }
      case EXIF_FORMAT_SRATIONAL: {
        const ExifSRational r = exif_get_srational(e->data, order);
        return r.denominator ? double(r.numerator) / r.denominator : -1;
      }
      case EXIF_FORMAT_SHORT:
        return exif_get_short(e->data, order);
      default:
        return -1;
    }
  }
  ExifData* Data = nullptr;
};

}  // namespace

class TestRaw : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir Dir;

 private slots:
  void initTestCase() {
    QVERIFY(Dir.isValid());
    // The test's own libtiff writes must not print either.
    TIFFSetWarningHandler(nullptr);
  }

  // The synthetic DNG under RAW extensions: read by the RAW codec, not the TIFF one, at full
  // size, with the patches developed to the expected colours.
  void developsSyntheticDng_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<double>("redNeutral");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("nef") << "shot.nef" << ORIENTATION_TOPLEFT << 1.0 << kWidth << kHeight;
    QTest::newRow("raw, upper case")
        << "SHOT.RAW" << ORIENTATION_TOPLEFT << 1.0 << kWidth << kHeight;
    QTest::newRow("pef") << "shot.pef" << ORIENTATION_TOPLEFT << 1.0 << kWidth << kHeight;
    // The camera's white balance: red sites record half, and the as-shot neutral says so.
    QTest::newRow("camera white balance")
        << "wb.nef" << ORIENTATION_TOPLEFT << 0.5 << kWidth << kHeight;
    // Shot with the camera turned: the developed picture is upright, so its sides swap.
    QTest::newRow("rotated 90 cw")
        << "turned.nef" << ORIENTATION_RIGHTTOP << 1.0 << kHeight << kWidth;
  }

  void developsSyntheticDng() {
    QFETCH(QString, name);
    QFETCH(int, orientation);
    QFETCH(double, redNeutral);
    QFETCH(int, width);
    QFETCH(int, height);
    const QString path = Dir.filePath(name);
    DngOptions options;
    options.Orientation = orientation;
    options.RedNeutral = float(redNeutral);
    QVERIFY(WriteDng(path, Mosaic(redNeutral), options));

    HeaderFacts facts;
    Picture picture;
    const QByteArray printed = StderrOf([&] {
      facts = ReadHeaderFacts(path);
      picture = ReadPicture(path);
    });
    QVERIFY2(printed.isEmpty(), printed.constData());

    QCOMPARE(facts.FileType, int(PictureFileType::CameraRaw));
    QCOMPARE(facts.Width, width);
    QCOMPARE(facts.Height, height);
    QCOMPARE(facts.BitsPerSample * facts.SamplesPerPixel, 24);
    QCOMPARE(facts.DpiX, kDefaultDpi);
    QVERIFY(!facts.FormatDescription.isEmpty());

    QVERIFY(!picture.IsNull());
    QCOMPARE(picture.Image.format(), QImage::Format_BGR888);
    QCOMPARE(picture.Params.FileType, int(PictureFileType::CameraRaw));
    QCOMPARE(picture.Width(), width);
    QCOMPARE(picture.Height(), height);
    QCOMPARE(picture.Params.Width, width);
    QCOMPARE(picture.Params.Height, height);
    QCOMPARE(picture.Params.BitsPerSample, 8);
    QCOMPARE(picture.Params.SamplesPerPixel, 3);
    QCOMPARE(picture.Params.DpiX, kDefaultDpi);
    QVERIFY(!picture.HasAlpha());

    // Bring the picture back to the mosaic's orientation to find the patches.
    QImage upright = picture.Image;
    if (orientation == ORIENTATION_RIGHTTOP)
      upright = picture.Image.transformed(QTransform().rotate(-90));
    QCOMPARE(upright.size(), QSize(kWidth, kHeight));
    const auto dark = MeanRgb(upright, 16, 12);
    const auto bright = MeanRgb(upright, 48, 12);
    const auto red = MeanRgb(upright, 16, 36);
    const auto middle = MeanRgb(upright, 48, 36);
    QVERIFY2(IsNeutral(dark, 6), qPrintable(Describe(dark)));
    QVERIFY2(IsNeutral(bright, 6), qPrintable(Describe(bright)));
    QVERIFY2(IsNeutral(middle, 6), qPrintable(Describe(middle)));
    // Darker mosaic values develop darker; the brightest patch is near white.
    QVERIFY2(dark[1] + 30 < middle[1] && middle[1] + 10 < bright[1],
             qPrintable(Describe(dark) + Describe(middle) + Describe(bright)));
    QVERIFY2(dark[1] > 40, qPrintable(Describe(dark)));
    QVERIFY2(red[0] > red[1] + 100 && red[0] > red[2] + 100, qPrintable(Describe(red)));
  }

  // The shot's facts become a TIFF-structured EXIF block with the values the file held.
  void keepsShotFactsAsExif() {
    const QString path = Dir.filePath(QStringLiteral("exif.nef"));
    QVERIFY(WriteDng(path, Mosaic(), {}));
    const Picture picture = ReadPicture(path);
    const QByteArray& exif = picture.Params.Exif;
    QVERIFY2(exif.startsWith(QByteArrayLiteral("II*\0")) || exif.startsWith("MM\0*"),
             exif.left(8).toHex().constData());

    const ParsedExif parsed(exif);
    QVERIFY(parsed.Data);
    QCOMPARE(parsed.Text(EXIF_IFD_0, EXIF_TAG_MAKE), QByteArray("Quillomar"));
    QCOMPARE(parsed.Text(EXIF_IFD_0, EXIF_TAG_MODEL), QByteArray("Test Camera"));
    QCOMPARE(parsed.Text(EXIF_IFD_0, EXIF_TAG_ARTIST), QByteArray("Ada Lovelace"));
    QCOMPARE(parsed.Text(EXIF_IFD_0, EXIF_TAG_COPYRIGHT), QByteArray("(c) Quillomar tests"));
    QCOMPARE(parsed.Text(EXIF_IFD_0, EXIF_TAG_DATE_TIME), QByteArray(kDateTime));
    QCOMPARE(parsed.Text(EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL), QByteArray(kDateTime));
    QCOMPARE(parsed.Number(EXIF_IFD_EXIF, EXIF_TAG_FNUMBER), 5.6);
    QCOMPARE(parsed.Number(EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_TIME), 1.0 / 125);
    // APEX values: Av = 2 log2(N), Tv = -log2(t).
    QVERIFY(std::abs(parsed.Number(EXIF_IFD_EXIF, EXIF_TAG_APERTURE_VALUE) - 2 * std::log2(5.6)) <
            1e-5);
    QVERIFY(std::abs(parsed.Number(EXIF_IFD_EXIF, EXIF_TAG_SHUTTER_SPEED_VALUE) -
                     std::log2(125.0)) < 1e-5);
    QCOMPARE(parsed.Number(EXIF_IFD_EXIF, EXIF_TAG_ISO_SPEED_RATINGS), 200.0);
    QCOMPARE(parsed.Number(EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH), 35.0);
  }

  // A shot without exposure facts gives no aperture or shutter entries rather than zeros.
  void leavesOutUnknownExposure() {
    const QString path = Dir.filePath(QStringLiteral("plain.nef"));
    DngOptions options;
    options.Exif = false;
    QVERIFY(WriteDng(path, Mosaic(), options));
    const ParsedExif parsed(ReadPicture(path).Params.Exif);
    QVERIFY(parsed.Data);
    QCOMPARE(parsed.Text(EXIF_IFD_0, EXIF_TAG_MAKE), QByteArray("Quillomar"));
    QVERIFY(!parsed.Entry(EXIF_IFD_EXIF, EXIF_TAG_FNUMBER));
    QVERIFY(!parsed.Entry(EXIF_IFD_EXIF, EXIF_TAG_APERTURE_VALUE));
    QVERIFY(!parsed.Entry(EXIF_IFD_EXIF, EXIF_TAG_SHUTTER_SPEED_VALUE));
  }

  void claimsOnlyRawSignatures_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("raw");
    QTest::newRow("crw") << QByteArray("II\x1a\0\0\0HEAPCCDR", 14) << true;
    QTest::newRow("cr2") << QByteArray("II*\0\x10\0\0\0CR\x02\0", 12) << true;
    QTest::newRow("raf") << QByteArray("FUJIFILMCCD-RAW 0201") << true;
    QTest::newRow("orf IIRO") << QByteArray("IIRO\x08\0\0\0", 8) << true;
    QTest::newRow("orf IIRS") << QByteArray("IIRS\x08\0\0\0", 8) << true;
    QTest::newRow("orf MMOR") << QByteArray("MMOR\0\0\0\x08", 8) << true;
    QTest::newRow("mrw") << QByteArray("\0MRM\0\0\0\x10", 8) << true;
    QTest::newRow("x3f") << QByteArray("FOVb\0\0\x02\0", 8) << true;
    QTest::newRow("plain tiff le") << QByteArray("II*\0\x08\0\0\0\0\0\0\0", 12) << false;
    QTest::newRow("plain tiff be") << QByteArray("MM\0*\0\0\0\x08", 8) << false;
    QTest::newRow("jpeg") << QByteArray("\xff\xd8\xff\xe0\0\x10JFIF", 10) << false;
    QTest::newRow("short crw") << QByteArray("II\x1a\0\0\0HEAP", 10) << false;
    QTest::newRow("empty") << QByteArray() << false;
  }

  void claimsOnlyRawSignatures() {
    QFETCH(QByteArray, head);
    QFETCH(bool, raw);
    const Codec* codec = CodecRegistry::Instance().ForFileType(PictureFileType::CameraRaw);
    QVERIFY(codec);
    QCOMPARE(codec->MatchesSignature(View(head)), raw);
  }

  // A picture of another format under a RAW extension is read by the codec of its content.
  void readsOtherFormatsUnderRawExtensions_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("fileType");
    QTest::newRow("jpeg as raw") << "photo.raw"
                                 << "JPEG" << int(PictureFileType::Jpeg);
    QTest::newRow("png as nef") << "photo.nef"
                                << "PNG" << int(PictureFileType::Png);
  }

  // A TIFF LibRaw cannot read stays refused: under a RAW extension it is a RAW file, and
  // the TIFF reader would give only its embedded preview.
  void refusesPlainTiffUnderRawExtension() {
    const QString path = Dir.filePath(QStringLiteral("plain-tiff.nef"));
    const ProcessResult r = RunPython(
        QStringLiteral("import sys\nfrom PIL import Image\n"
                       "Image.new('RGB', (30, 20), (200, 40, 10)).save(sys.argv[1], 'TIFF')"),
        {path});
    QVERIFY2(r.ExitCode == 0, r.Err.constData());
    QVERIFY_THROWS_EXCEPTION(PictureError, ReadPicture(path));
    QCOMPARE(ReadHeaderFacts(path).FileType, 0);
  }

  void readsOtherFormatsUnderRawExtensions() {
    QFETCH(QString, name);
    QFETCH(QString, format);
    QFETCH(int, fileType);
    if (!CodecRegistry::Instance().ForFileType(fileType))
      QSKIP("this build has no reader for the format");
    const QString path = Dir.filePath(name);
    const ProcessResult r = RunPython(
        QStringLiteral("import sys\nfrom PIL import Image\n"
                       "Image.new('RGB', (30, 20), (200, 40, 10)).save(sys.argv[1], sys.argv[2])"),
        {path, format});
    QVERIFY2(r.ExitCode == 0, r.Err.constData());

    const HeaderFacts facts = ReadHeaderFacts(path);
    QCOMPARE(facts.FileType, fileType);
    QCOMPARE(facts.Width, 30);
    const Picture picture = ReadPicture(path);
    QCOMPARE(picture.Params.FileType, fileType);
    QCOMPARE(picture.Width(), 30);
    QCOMPARE(picture.Height(), 20);
    QVERIFY(MaxChannelDifference(picture.Image, DecodeWithPillow(path)) <= 2);
  }

  void registryKnowsTheExtensions() {
    for (const char* ext :
         {"crw", "cr2", "nef", "raw", "pef", "raf", "x3f", "bay", "orf", "srf", "mrw", "dcr"}) {
      const Codec* codec = CodecRegistry::Instance().ForExtension(QString::fromLatin1(ext));
      QVERIFY2(codec && codec->FileType() == PictureFileType::CameraRaw, ext);
      QVERIFY(!codec->CanWrite());
    }
  }

  // Damaged and hostile files: a read throws PictureError, a header read gives type 0 (or the
  // facts, when only the pixel data is damaged); nothing is printed, nothing crashes.
  void refusesHostileFiles_data() {
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("headerReadable");
    QTest::newRow("empty") << "nef"
                           << "empty" << false;
    QTest::newRow("pixels missing") << "nef"
                                    << "short pixels" << true;
    QTest::newRow("truncated header") << "nef"
                                      << "cut header" << false;
    QTest::newRow("crw signature, garbage") << "crw"
                                            << "crw garbage" << false;
    QTest::newRow("raf signature, garbage") << "raf"
                                            << "raf garbage" << false;
    QTest::newRow("orf signature, garbage") << "orf"
                                            << "orf garbage" << false;
    QTest::newRow("cr2 signature, garbage") << "cr2"
                                            << "cr2 garbage" << false;
    QTest::newRow("x3f signature, garbage") << "x3f"
                                            << "x3f garbage" << false;
    QTest::newRow("mrw signature, garbage") << "mrw"
                                            << "mrw garbage" << false;
    QTest::newRow("60000 x 60000") << "nef"
                                   << "huge" << false;
    QTest::newRow("plain garbage") << "dcr"
                                   << "garbage" << false;
  }

  void refusesHostileFiles() {
    QFETCH(QString, ext);
    QFETCH(QString, damage);
    QFETCH(bool, headerReadable);

    const QString goodPath = Dir.filePath(QStringLiteral("good-for-damage.dng"));
    DngOptions noExif;
    noExif.Exif = false;  // keeps the main directory at the end of the file
    QVERIFY(WriteDng(goodPath, Mosaic(), noExif));
    const QByteArray good = ReadAll(goodPath);
    QVERIFY(good.size() > kWidth * kHeight * 2);

    QByteArray garbage;
    quint32 seed = 2024;
    while (garbage.size() < 8192) {
      seed = seed * 1103515245 + 12345;
      garbage.append(char(seed >> 16));
    }

    QByteArray bad;
    const qsizetype pixelsEnd = 8 + qsizetype(kWidth) * kHeight * 2;  // libtiff writes them first
    // Rewrites the width and height entries of the main directory.
    const auto setSize = [&](quint32 width, quint32 height) {
      const quint32 ifd = qFromLittleEndian<quint32>(bad.constData() + 4);
      const int count = qFromLittleEndian<quint16>(bad.constData() + ifd);
      int patched = 0;
      for (int i = 0; i < count; ++i) {
        char* entry = bad.data() + ifd + 2 + 12 * i;
        const quint16 tag = qFromLittleEndian<quint16>(entry);
        if (tag != TIFFTAG_IMAGEWIDTH && tag != TIFFTAG_IMAGELENGTH) continue;
        const quint32 value = tag == TIFFTAG_IMAGEWIDTH ? width : height;
        if (qFromLittleEndian<quint16>(entry + 2) == TIFF_SHORT)
          qToLittleEndian<quint16>(quint16(value), entry + 8);
        else
          qToLittleEndian<quint32>(value, entry + 8);
        ++patched;
      }
      return patched == 2;
    };
    if (damage == QLatin1String("short pixels")) {
      // The header promises far more pixels than the file holds.
      bad = good;
      QVERIFY(setSize(2000, 1500));
    } else if (damage == QLatin1String("huge")) {
      bad = good;
      QVERIFY(setSize(60000, 60000));
    } else if (damage == QLatin1String("cut header")) {
      bad = good.left(pixelsEnd - 100);
    } else if (damage == QLatin1String("crw garbage")) {
      bad = QByteArray("II\x1a\0\0\0HEAPCCDR", 14) + garbage;
    } else if (damage == QLatin1String("raf garbage")) {
      bad = QByteArray("FUJIFILMCCD-RAW 0201") + garbage;
    } else if (damage == QLatin1String("orf garbage")) {
      bad = QByteArray("IIRO\x08\0\0\0", 8) + garbage;
    } else if (damage == QLatin1String("cr2 garbage")) {
      bad = QByteArray("II*\0\x10\0\0\0CR\x02\0", 12) + garbage;
    } else if (damage == QLatin1String("x3f garbage")) {
      bad = QByteArray("FOVb\0\0\x02\0", 8) + garbage;
    } else if (damage == QLatin1String("mrw garbage")) {
      bad = QByteArray("\0MRM\0\0\0\x10", 8) + garbage;
    } else if (damage == QLatin1String("garbage")) {
      bad = garbage;
    }
    const QString path = Dir.filePath(
        QStringLiteral("bad-%1.%2").arg(QString::number(qHash(QTest::currentDataTag())), ext));
    QVERIFY(WriteFile(path, bad));

    HeaderFacts facts;
    bool readThrew = false, memoryThrew = false, codecThrew = false;
    const Codec* codec = CodecRegistry::Instance().ForExtension(ext);
    QVERIFY(codec);
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
      try {
        codec->Read(View(bad), {});
      } catch (const PictureError&) {
        codecThrew = true;
      }
    });
    QVERIFY2(printed.isEmpty(), printed.constData());
    QVERIFY(readThrew);
    QVERIFY(memoryThrew);
    QVERIFY(codecThrew);
    if (headerReadable) {
      QCOMPARE(facts.FileType, int(PictureFileType::CameraRaw));
      QCOMPARE(facts.Width, 2000);
    } else {
      QCOMPARE(facts.FileType, 0);
    }
  }

  // Copies of the DNG cut short or with bytes overwritten at random: each read gives a picture
  // or PictureError, prints nothing, and never crashes.
  void survivesDamagedCopies() {
    const QString goodPath = Dir.filePath(QStringLiteral("good-for-fuzz.nef"));
    QVERIFY(WriteDng(goodPath, Mosaic(), {}));
    const QByteArray good = ReadAll(goodPath);
    const Codec* codec = CodecRegistry::Instance().ForExtension(QStringLiteral("nef"));
    QVERIFY(codec);
    quint32 seed = 11;
    const auto next = [&](quint32 n) {
      seed = seed * 1664525 + 1013904223;
      return (seed >> 8) % n;
    };
    int refusals = 0;
    QString problem;
    const QByteArray printed = StderrOf([&] {
      for (int round = 0; round < 150 && problem.isEmpty(); ++round) {
        QByteArray bad = good;
        if (round % 3 == 0) {
          bad.truncate(next(quint32(good.size())));
        } else {
          // Mostly the header and directories, where damage matters most.
          for (int k = 1 + next(8); k > 0; --k) {
            const quint32 at = next(2) ? next(quint32(bad.size())) : next(64);
            bad[std::min<qsizetype>(at, bad.size() - 1)] = char(next(256));
          }
        }
        try {
          codec->ReadHeader(View(bad));
        } catch (const PictureError&) {
        }
        try {
          const Picture picture = codec->Read(View(bad), {});
          if (picture.Image.format() != QImage::Format_BGR888)
            problem = QStringLiteral("round %1: not a BGR888 picture").arg(round);
        } catch (const PictureError&) {
          ++refusals;
        }
      }
    });
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY2(printed.isEmpty(), printed.constData());
    QVERIFY(refusals > 0);
  }
};

QTEST_GUILESS_MAIN(TestRaw)
#include "tst_Raw.moc"
