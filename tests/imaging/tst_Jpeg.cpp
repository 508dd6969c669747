// The JPEG codec, cross-checked against Pillow (its own libjpeg build) on files Pillow writes and
// on files we write.

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <functional>

#include "common/TestSupport.h"
#include "imaging/CodecRegistry.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"
#include "imaging/codecs/JpegQuality.h"
#include "util/uFunction.h"

namespace {

// Writes a JPEG with Pillow. argv: path, options as JSON (w, h, mode, quality, progressive,
// subsampling, dpi, exif_make, icc, comment, strip_jfif, jfif_units, jfif_density).
const char kMakeJpeg[] = R"(
import sys, json, io
from PIL import Image
path, o = sys.argv[1], json.loads(sys.argv[2])
w, h = o.get('w', 64), o.get('h', 48)
im = Image.new('RGB', (w, h))
px = im.load()
for y in range(h):
    for x in range(w):
        px[x, y] = (x * 255 // max(1, w - 1), y * 255 // max(1, h - 1), ((x * 7 + y * 13) % 17) * 15)
mode = o.get('mode', 'RGB')
if mode != 'RGB':
    im = im.convert(mode)
kw = {}
for k in ('quality', 'progressive', 'subsampling'):
    if k in o:
        kw[k] = o[k]
if 'dpi' in o:
    kw['dpi'] = (o['dpi'], o['dpi'])
if 'exif_make' in o:
    e = Image.Exif()
    e[0x010F] = o['exif_make']
    kw['exif'] = e.tobytes()
if o.get('icc'):
    from PIL import ImageCms
    kw['icc_profile'] = ImageCms.ImageCmsProfile(ImageCms.createProfile('sRGB')).tobytes()
if 'comment' in o:
    kw['comment'] = o['comment']
buf = io.BytesIO()
im.save(buf, 'JPEG', **kw)
data = bytearray(buf.getvalue())
if data[2:4] == b'\xff\xe0' and data[6:11] == b'JFIF\x00':
    if o.get('strip_jfif'):
        n = data[4] * 256 + data[5]
        del data[2:4 + n]
    elif 'jfif_units' in o:
        data[13] = o['jfif_units']
        d = o['jfif_density']
        data[14:18] = bytes([d >> 8, d & 255, d >> 8, d & 255])
open(path, 'wb').write(bytes(data))
)";

// Facts Pillow reads from a JPEG, as JSON.
const char kInspectJpeg[] = R"(
import sys, json, hashlib
from PIL import Image
im = Image.open(sys.argv[1])
r = {'mode': im.mode, 'w': im.size[0], 'h': im.size[1]}
r['make'] = str(im.getexif().get(0x010F, ''))
icc = im.info.get('icc_profile')
r['icc_md5'] = hashlib.md5(icc).hexdigest() if icc else ''
c = im.info.get('comment', b'')
r['comment'] = c.decode('utf-8', 'replace') if isinstance(c, bytes) else str(c)
r['dpi'] = list(im.info.get('dpi', (0, 0)))
r['luminance'] = list(im.quantization[0]) if getattr(im, 'quantization', None) else []
print(json.dumps(r))
)";

const Codec& JpegCodec() {
  const Codec* codec = CodecRegistry::Instance().ForExtension(QStringLiteral("jpg"));
  if (!codec) qFatal("no JPEG codec registered");
  return *codec;
}

// Pillow's DCT-scaled decode (draft mode) of a JPEG to width x height, as RGB.
const char kDraftDecode[] = R"(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
im.draft('RGB', (int(sys.argv[2]), int(sys.argv[3])))
im = im.convert('RGB')
sys.stdout.buffer.write(b'%d %d\n' % im.size + im.tobytes())
)";

// Pillow asks for at least request (its draft picks the largest reduction that keeps it).
QImage DraftWithPillow(const QString& path, int requestWidth, int requestHeight, int width,
                       int height) {
  const ProcessResult r =
      RunPython(QString::fromLatin1(kDraftDecode),
                {path, QString::number(requestWidth), QString::number(requestHeight)});
  const int eol = int(r.Out.indexOf('\n'));
  if (r.ExitCode != 0 || eol < 0 ||
      r.Out.left(eol) != QStringLiteral("%1 %2").arg(width).arg(height).toLatin1())
    return {};
  QImage image(width, height, QImage::Format_RGB888);
  for (int y = 0; y < height; ++y)
    memcpy(image.scanLine(y), r.Out.constData() + eol + 1 + qsizetype(y) * width * 3,
           size_t(width) * 3);
  return image;
}

QJsonObject Inspect(const QString& path) {
  const ProcessResult r = RunPython(QString::fromLatin1(kInspectJpeg), {path});
  if (r.ExitCode != 0) qWarning() << r.Err;
  return QJsonDocument::fromJson(r.Out).object();
}

}  // namespace

class TestJpeg : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir Dir;

  QString MakeJpeg(const QString& name, const QJsonObject& options) {
    const QString path = Dir.filePath(name);
    const ProcessResult r =
        RunPython(QString::fromLatin1(kMakeJpeg),
                  {path, QString::fromUtf8(QJsonDocument(options).toJson(QJsonDocument::Compact))});
    if (r.ExitCode != 0) {
      qWarning() << "Pillow failed:" << r.Err;
      return {};
    }
    return path;
  }

 private slots:
  void initTestCase() { QVERIFY(Dir.isValid()); }

  void registration() {
    const Codec& codec = JpegCodec();
    QCOMPARE(codec.FileType(), PictureFileType::Jpeg);
    for (const char* ext : {"jpg", "JPEG", ".jpe", "jfif"})
      QCOMPARE(CodecRegistry::Instance().ForExtension(QString::fromLatin1(ext)), &codec);
    const QByteArray head("\xFF\xD8\xFF\xE0", 4);
    QCOMPARE(CodecRegistry::Instance().ForContent(View(head)), &codec);
    QVERIFY(!codec.MatchesSignature(View(QByteArray("\xFF\xD8", 2))));
  }

  // Pillow's files, decoded by us and by Pillow: same size, same pixels within rounding.
  void decodesPillowFiles_data() {
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("tolerance");
    QTest::newRow("colour 4:2:0") << R"({"w":61,"h":37,"quality":85})" << 3 << 1;
    QTest::newRow("colour 4:4:4") << R"({"w":64,"h":48,"quality":92,"subsampling":0})" << 3 << 1;
    QTest::newRow("progressive") << R"({"w":99,"h":70,"quality":75,"progressive":true})" << 3 << 1;
    QTest::newRow("grey") << R"({"w":50,"h":33,"mode":"L","quality":90})" << 1 << 0;
    // Pillow's own CMYK to RGB step rounds differently from ours.
    QTest::newRow("cmyk (Adobe, inverted)")
        << R"({"w":40,"h":30,"mode":"CMYK","quality":95})" << 4 << 2;
  }
  void decodesPillowFiles() {
    QFETCH(QString, options);
    QFETCH(int, samples);
    QFETCH(int, tolerance);
    const QJsonObject o = QJsonDocument::fromJson(options.toUtf8()).object();
    const QString path = MakeJpeg(QStringLiteral("decode.jpg"), o);
    QVERIFY(!path.isEmpty());

    const Picture picture = ReadPicture(path);
    QCOMPARE(picture.Image.format(), QImage::Format_BGR888);
    QCOMPARE(picture.Width(), o["w"].toInt());
    QCOMPARE(picture.Height(), o["h"].toInt());
    QVERIFY(!picture.HasAlpha());
    QCOMPARE(picture.Params.FileType, PictureFileType::Jpeg);
    QCOMPARE(picture.Params.BitsPerSample, 8);
    QCOMPARE(picture.Params.SamplesPerPixel, samples);
    QCOMPARE(picture.Params.JpegQuality, o["quality"].toInt());

    QString error;
    const QImage pillow = DecodeWithPillow(path, &error);
    QVERIFY2(!pillow.isNull(), qPrintable(error));
    QVERIFY(MaxChannelDifference(picture.Image, pillow) <= tolerance);

    const HeaderFacts facts = ReadHeaderFacts(path);
    QCOMPARE(facts.FileType, PictureFileType::Jpeg);
    QCOMPARE(facts.Width, o["w"].toInt());
    QCOMPARE(facts.Height, o["h"].toInt());
    QCOMPARE(facts.BitsPerSample, 8);
    QCOMPARE(facts.SamplesPerPixel, samples);
  }

  // A picture big enough for the decoder to ask for huge pages for its rows.
  void largePicture() {
    const QString path = Dir.filePath(QStringLiteral("large.jpg"));
    const ProcessResult made = RunPython(QStringLiteral(R"(
import sys
from PIL import Image
size = (3001, 2000)
bands = (Image.linear_gradient('L').resize(size), Image.radial_gradient('L').resize(size),
         Image.effect_noise(size, 60))
Image.merge('RGB', bands).save(sys.argv[1], quality=90)
)"),
                                         {path});
    QVERIFY2(made.ExitCode == 0, made.Err.constData());
    const Picture picture = ReadPicture(path);
    QCOMPARE(picture.Width(), 3001);
    QCOMPARE(picture.Height(), 2000);
    QVERIFY(MaxChannelDifference(picture.Image, DecodeWithPillow(path)) <= 1);
  }

  void realPhotos() {
    const QStringList photos =
        QDir(SourceDir() + QStringLiteral("/examples")).entryList({QStringLiteral("*.jpg")});
    QVERIFY(!photos.isEmpty());
    for (const QString& name : photos) {
      const QString path = SourceDir() + QStringLiteral("/examples/") + name;
      const Picture picture = ReadPicture(path);
      const QImage pillow = DecodeWithPillow(path);
      QVERIFY2(MaxChannelDifference(picture.Image, pillow) >= 0, qPrintable(name));
      QVERIFY2(MaxChannelDifference(picture.Image, pillow) <= 1, qPrintable(name));
      const HeaderFacts facts = ReadHeaderFacts(path);
      QCOMPARE(facts.Width, picture.Width());
      QCOMPARE(ColorCountText(facts.BitsPerSample * facts.SamplesPerPixel), QStringLiteral("16 M"));
      QVERIFY(picture.Params.JpegQuality >= 1 && picture.Params.JpegQuality <= 100);
      // Decoding our re-encoding keeps the picture recognisable.
      Picture copy = picture;
      copy.Params.JpegQuality = 90;
      const Picture again = JpegCodec().Read(View(EncodePicture(copy, QStringLiteral("jpg"))), {});
      QVERIFY2(MaxChannelDifference(again.Image, picture.Image) < 80, qPrintable(name));
    }
  }

  void dpi_data() {
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("dpi");
    QTest::newRow("inches") << R"({"dpi":300})" << 300;
    QTest::newRow("centimetres") << R"({"jfif_units":2,"jfif_density":118})" << 300;
    QTest::newRow("aspect ratio only") << R"({"jfif_units":0,"jfif_density":1})" << kDefaultDpi;
    QTest::newRow("no JFIF marker") << R"({"strip_jfif":true})" << kDefaultDpi;
  }
  void dpi() {
    QFETCH(QString, options);
    QFETCH(int, dpi);
    const QString path =
        MakeJpeg(QStringLiteral("dpi.jpg"), QJsonDocument::fromJson(options.toUtf8()).object());
    QVERIFY(!path.isEmpty());
    const HeaderFacts facts = ReadHeaderFacts(path);
    QCOMPARE(facts.DpiX, dpi);
    QCOMPARE(facts.DpiY, dpi);
    QCOMPARE(ReadPicture(path).Params.DpiX, dpi);
  }

  // Quality: estimated from Pillow's tables, and written as asked (the tables Pillow reads from
  // our file are the IJG tables of that quality).
  void quality_data() {
    QTest::addColumn<int>("quality");
    for (int q : {1, 10, 25, 50, 75, 80, 90, 95, 99, 100})
      QTest::newRow(qPrintable(QString::number(q))) << q;
  }
  void quality() {
    QFETCH(int, quality);
    const QString path = MakeJpeg(QStringLiteral("q.jpg"), QJsonObject{{"quality", quality}});
    QVERIFY(!path.isEmpty());
    QCOMPARE(ReadPicture(path).Params.JpegQuality, quality);

    Picture picture;
    picture.Image = MakeTestPicture(40, 24);
    picture.Params.JpegQuality = quality;
    const QString ours = Dir.filePath(QStringLiteral("ours-q.jpg"));
    WritePicture(picture, ours);
    QCOMPARE(ReadPicture(ours).Params.JpegQuality, quality);
    const QJsonObject facts = Inspect(ours);
    const QuantTable expected = ScaledQuantTable(0, quality);
    const QJsonArray luminance = facts["luminance"].toArray();
    QCOMPARE(luminance.size(), 64);
    // Pillow lists the table in zigzag order; the DC and the last entry are the same in both.
    QCOMPARE(luminance[0].toInt(), int(expected[0]));
    QCOMPARE(luminance[63].toInt(), int(expected[63]));
  }

  void qualityOfForeignTables() {
    // Tables that are not an IJG scaling give the nearest IJG quality.
    QuantTable lum = ScaledQuantTable(0, 70);
    QuantTable chrom = ScaledQuantTable(1, 70);
    lum[5] += 3;
    chrom[40] -= 2;
    QCOMPARE(EstimateJpegQuality(lum.data(), chrom.data()), 70);
    QCOMPARE(EstimateJpegQuality(ScaledQuantTable(0, 33).data(), nullptr), 33);
    QCOMPARE(EstimateJpegQuality(ScaledQuantTable(0, 5, false).data(), nullptr), 5);
  }

  // Our files decode in Pillow to what we decode from them.
  void ourOutputInPillow_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("pillowMode");
    QTest::newRow("colour") << "colour"
                            << "RGB";
    QTest::newRow("grey, one sample") << "grey"
                                      << "L";
    QTest::newRow("grey picture, three samples") << "grey3"
                                                 << "RGB";
    QTest::newRow("indexed") << "indexed"
                             << "RGB";
    QTest::newRow("mono") << "mono"
                          << "RGB";
  }
  void ourOutputInPillow() {
    QFETCH(QString, kind);
    QFETCH(QString, pillowMode);
    Picture picture;
    picture.Image = MakeTestPicture(45, 31);
    if (kind.startsWith(QLatin1String("grey"))) {
      picture.Image = picture.Image.convertToFormat(QImage::Format_Grayscale8)
                          .convertToFormat(QImage::Format_BGR888);
      picture.Params.SamplesPerPixel = kind == QLatin1String("grey") ? 1 : 3;
    } else if (kind == QLatin1String("indexed")) {
      picture.Image = picture.Image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    } else if (kind == QLatin1String("mono")) {
      picture.Image = picture.Image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    }
    picture.Params.JpegQuality = 95;
    picture.Params.DpiX = 240;
    picture.Params.DpiY = 120;
    const QString path = Dir.filePath(QStringLiteral("ours.jpg"));
    WritePicture(picture, path);

    const QJsonObject facts = Inspect(path);
    QCOMPARE(facts["mode"].toString(), pillowMode);
    QCOMPARE(facts["dpi"].toArray()[0].toInt(), 240);
    QCOMPARE(facts["dpi"].toArray()[1].toInt(), 120);
    const Picture ours = ReadPicture(path);
    QCOMPARE(ours.Params.DpiX, 240);
    QCOMPARE(ours.Params.DpiY, 120);
    QCOMPARE(ours.Params.SamplesPerPixel, pillowMode == QLatin1String("L") ? 1 : 3);
    QVERIFY(MaxChannelDifference(ours.Image, DecodeWithPillow(path)) <= 1);
    // Close to what was written; the sharp edges of a palette or black-and-white picture
    // cost a JPEG more.
    const QImage source = picture.Image.convertToFormat(QImage::Format_BGR888);
    const double limit = kind == QLatin1String("mono")      ? 30
                         : kind == QLatin1String("indexed") ? 12
                                                            : 6;
    QVERIFY2(MeanChannelDifference(ours.Image, source) <= limit,
             qPrintable(QString::number(MeanChannelDifference(ours.Image, source))));
  }

  // EXIF, ICC profile and comments from Pillow's file survive our read and write.
  void metadataSurvives() {
    const QString path = MakeJpeg(
        QStringLiteral("meta.jpg"),
        QJsonObject{{"exif_make", "Quillo Camera"}, {"icc", true}, {"comment", "a comment"}});
    QVERIFY(!path.isEmpty());
    auto md5 = [](const QByteArray& data) {
      return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
    };
    const QString profileMd5 = Inspect(path)["icc_md5"].toString();
    QVERIFY(!profileMd5.isEmpty());

    const Picture picture = ReadPicture(path);
    QVERIFY(picture.Params.Exif.startsWith("II*") || picture.Params.Exif.startsWith("MM\0*"));
    QCOMPARE(md5(picture.Params.IccProfile), profileMd5);
    QCOMPARE(picture.Params.Comments, QStringList{QStringLiteral("a comment")});

    const QString out = Dir.filePath(QStringLiteral("meta-ours.jpg"));
    WritePicture(picture, out);
    const QJsonObject facts = Inspect(out);
    QCOMPARE(facts["make"].toString(), QStringLiteral("Quillo Camera"));
    QCOMPARE(facts["icc_md5"].toString(), profileMd5);
    QCOMPARE(facts["comment"].toString(), QStringLiteral("a comment"));

    const Picture again = ReadPicture(out);
    QCOMPARE(again.Params.Exif, picture.Params.Exif);
    QCOMPARE(again.Params.IccProfile, picture.Params.IccProfile);

    // A profile larger than one marker segment is split over several and joined on read.
    Picture big = picture;
    big.Params.IccProfile = picture.Params.IccProfile.repeated(300);
    big.Params.Xmp = QByteArray("<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
    big.Params.Iptc = QByteArray("\x1C\x02\x78\x00\x05hello", 10);
    big.Params.Comments = QStringList{QStringLiteral("Grüße"), QStringLiteral("two")};
    const Picture bigAgain = JpegCodec().Read(View(EncodePicture(big, QStringLiteral("jpg"))), {});
    QCOMPARE(bigAgain.Params.IccProfile, big.Params.IccProfile);
    QCOMPARE(bigAgain.Params.Xmp, big.Params.Xmp);
    QCOMPARE(bigAgain.Params.Iptc, big.Params.Iptc);
    QCOMPARE(bigAgain.Params.Comments, big.Params.Comments);
  }

  void scaledDecode_data() {
    QTest::addColumn<int>("denominator");
    QTest::addColumn<int>("applied");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("1") << 1 << 1 << 301 << 203;
    QTest::newRow("2") << 2 << 2 << 151 << 102;
    QTest::newRow("4") << 4 << 4 << 76 << 51;
    QTest::newRow("8") << 8 << 8 << 38 << 26;
    QTest::newRow("3 acts as 2") << 3 << 2 << 151 << 102;
    QTest::newRow("16 acts as 8") << 16 << 8 << 38 << 26;
  }
  void scaledDecode() {
    QFETCH(int, denominator);
    QFETCH(int, applied);
    QFETCH(int, width);
    QFETCH(int, height);
    const QString path =
        MakeJpeg(QStringLiteral("scaled.jpg"), QJsonObject{{"w", 301}, {"h", 203}});
    QVERIFY(!path.isEmpty());
    ReadOptions options;
    options.ScaleDenominator = denominator;
    const Picture picture = ReadPicture(path, options);
    QCOMPARE(picture.Width(), width);
    QCOMPARE(picture.Height(), height);
    QCOMPARE(picture.Params.Width, 301);
    QCOMPARE(picture.Params.Height, 203);
    // Pillow's draft mode uses the same DCT scaling of libjpeg.
    const QImage pillow = DraftWithPillow(path, 301 / applied, 203 / applied, width, height);
    QVERIFY(!pillow.isNull());
    QVERIFY(MaxChannelDifference(picture.Image, pillow) <= 1);
  }

  void hostileInput_data() {
    QTest::addColumn<QString>("damage");
    QTest::newRow("zero length") << "empty";
    QTest::newRow("signature only") << "signature";
    QTest::newRow("garbage after the signature") << "garbage";
    QTest::newRow("cut inside the header") << "header";
    QTest::newRow("absurd width and height") << "absurd";
    QTest::newRow("too many pixels") << "megapixels";
    QTest::newRow("zero height") << "zero";
  }
  void hostileInput() {
    QFETCH(QString, damage);
    const QString path = MakeJpeg(QStringLiteral("hostile.jpg"), QJsonObject{{"w", 80}, {"h", 60}});
    QVERIFY(!path.isEmpty());
    QByteArray data = ReadAll(path);
    const int sof = data.indexOf(QByteArray("\xFF\xC0", 2));
    QVERIFY(sof > 0);
    auto setSize = [&](int w, int h) {
      data[sof + 5] = char(h >> 8);
      data[sof + 6] = char(h & 0xFF);
      data[sof + 7] = char(w >> 8);
      data[sof + 8] = char(w & 0xFF);
    };
    if (damage == QLatin1String("empty")) data.clear();
    if (damage == QLatin1String("signature")) data = data.left(3);
    if (damage == QLatin1String("garbage")) data = data.left(3) + QByteArray(500, '\x5A');
    if (damage == QLatin1String("header")) data = data.left(sof + 4);
    if (damage == QLatin1String("absurd")) setSize(65000, 65000);
    if (damage == QLatin1String("megapixels")) setSize(30000, 30000);
    if (damage == QLatin1String("zero")) setSize(80, 0);

    bool threw = false;
    const QByteArray printed = StderrOf([&] {
      try {
        JpegCodec().Read(View(data), {});
      } catch (const PictureError&) {
        threw = true;
      }
    });
    QVERIFY(threw);
    QVERIFY2(printed.isEmpty(), printed.constData());
    const QString file = Dir.filePath(QStringLiteral("hostile-written.jpg"));
    QVERIFY(WriteFile(file, data));
    QVERIFY_THROWS_EXCEPTION(PictureError, ReadPicture(file));
    if (damage != QLatin1String("absurd") && damage != QLatin1String("megapixels"))
      QCOMPARE(ReadHeaderFacts(file).FileType, PictureFileType::Unknown);
  }

  // Damage inside the compressed data: libjpeg warns and goes on; we give the picture and
  // print nothing.
  void damagedScanData_data() {
    QTest::addColumn<bool>("truncate");
    QTest::addColumn<bool>("progressive");
    QTest::newRow("truncated") << true << false;
    QTest::newRow("truncated progressive") << true << true;
    QTest::newRow("corrupt bytes") << false << false;
  }
  void damagedScanData() {
    QFETCH(bool, truncate);
    QFETCH(bool, progressive);
    const QString path =
        MakeJpeg(QStringLiteral("damaged.jpg"),
                 QJsonObject{{"w", 160}, {"h", 120}, {"progressive", progressive}});
    QVERIFY(!path.isEmpty());
    QByteArray data = ReadAll(path);
    const int scan = data.indexOf(QByteArray("\xFF\xDA", 2));
    QVERIFY(scan > 0);
    if (truncate) {
      data.truncate(scan + (data.size() - scan) / 2);
    } else {
      for (int i = scan + 40; i < data.size() - 10; i += 37) data[i] = char(0xFF);
    }
    Picture picture;
    const QByteArray printed = StderrOf([&] {
      try {
        picture = JpegCodec().Read(View(data), {});
      } catch (const PictureError&) {
      }
    });
    QVERIFY2(printed.isEmpty(), printed.constData());
    if (truncate) {
      QCOMPARE(picture.Width(), 160);
      QCOMPARE(picture.Height(), 120);
    }
  }

  // A progressive file whose last scan repeats: every repeat makes libjpeg pass over the
  // whole coefficient buffer again, so a small file could keep the decoder busy for hours.
  void endlessScans_data() {
    QTest::addColumn<int>("repeats");
    QTest::addColumn<bool>("refused");
    QTest::newRow("a few more scans") << 20 << false;
    QTest::newRow("thousands of scans") << 3000 << true;
  }
  void endlessScans() {
    QFETCH(int, repeats);
    QFETCH(bool, refused);
    const QString path = MakeJpeg(QStringLiteral("scans.jpg"),
                                  QJsonObject{{"w", 64}, {"h", 64}, {"progressive", true}});
    QVERIFY(!path.isEmpty());
    const QByteArray data = ReadAll(path);
    const int lastScan = int(data.lastIndexOf(QByteArray("\xFF\xDA", 2)));
    const int end = int(data.lastIndexOf(QByteArray("\xFF\xD9", 2)));
    QVERIFY(lastScan > 0 && end > lastScan);
    const QByteArray hostile =
        data.left(end) + data.mid(lastScan, end - lastScan).repeated(repeats) + data.mid(end);
    bool threw = false;
    const QByteArray printed = StderrOf([&] {
      try {
        JpegCodec().Read(View(hostile), {});
      } catch (const PictureError&) {
        threw = true;
      }
    });
    QCOMPARE(threw, refused);
    QVERIFY2(printed.isEmpty(), printed.constData());
  }

  void writeErrors() {
    Picture picture;
    picture.Image = MakeTestPicture(20, 20);
    QBuffer closed;  // not open: every write fails
    QVERIFY_THROWS_EXCEPTION(PictureError, JpegCodec().Write(picture, closed));
    Picture empty;
    QVERIFY_THROWS_EXCEPTION(PictureError, EncodePicture(empty, QStringLiteral("jpg")));
  }
};

QTEST_GUILESS_MAIN(TestJpeg)
#include "tst_Jpeg.moc"
