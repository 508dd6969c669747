// The GIF codec against files made by Pillow, and its output against Pillow's reader.

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

// Pillow's alpha channel of a file (as a grey picture); null when it cannot read it.
QImage AlphaWithPillow(const QString& path) {
  const ProcessResult r =
      RunPython(QStringLiteral("import sys\nfrom PIL import Image\n"
                               "a = Image.open(sys.argv[1]).convert('RGBA').getchannel('A')\n"
                               "sys.stdout.buffer.write(b'%d %d\\n' % a.size + a.tobytes())\n"),
                {path});
  const int eol = r.Out.indexOf('\n');
  if (r.ExitCode != 0 || eol < 0) return {};
  const QList<QByteArray> size = r.Out.left(eol).split(' ');
  QImage alpha(size.value(0).toInt(), size.value(1).toInt(), QImage::Format_Grayscale8);
  if (r.Out.size() - eol - 1 != qsizetype(alpha.width()) * alpha.height()) return {};
  for (int y = 0; y < alpha.height(); ++y)
    memcpy(alpha.scanLine(y), r.Out.constData() + eol + 1 + qsizetype(y) * alpha.width(),
           size_t(alpha.width()));
  return alpha;
}

}  // namespace

class TestGif : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir Dir;
  QString PathOf(const QString& name) const { return Dir.filePath(name); }

  void MakeWithPillow(const QString& body, const QString& out) {
    const QString script =
        QStringLiteral(
            "import sys\nfrom PIL import Image\nout = sys.argv[1]\n"
            "src = Image.new('RGB', (61, 43))\n"
            "src.putdata([((x * 5 + y * 3) % 256, (x * y) % 256, ((x ^ y) * 4) % 256)\n"
            "             for y in range(43) for x in range(61)])\n") +
        body;
    const ProcessResult r = RunPython(script, {out});
    QVERIFY2(r.ExitCode == 0, r.Err.constData());
  }

 private slots:
  void initTestCase() { QVERIFY(Dir.isValid()); }

  void signatureAndExtension() {
    const Codec* codec = CodecRegistry::Instance().ForFileType(PictureFileType::Gif);
    QVERIFY(codec);
    QVERIFY(CanReadExtension(QStringLiteral("a.GIF")));
    QVERIFY(codec->MatchesSignature(ByteView(reinterpret_cast<const std::uint8_t*>("GIF87a"), 6)));
    QVERIFY(
        codec->MatchesSignature(ByteView(reinterpret_cast<const std::uint8_t*>("GIF89a.."), 8)));
    QVERIFY(!codec->MatchesSignature(ByteView(reinterpret_cast<const std::uint8_t*>("GIF88a"), 6)));
    QVERIFY(!codec->MatchesSignature(ByteView(reinterpret_cast<const std::uint8_t*>("GIF8"), 4)));
  }

  // Files made by Pillow: facts, pixels against Pillow's decoding, transparency.
  void readsPillowFiles_data() {
    QTest::addColumn<QString>("recipe");  // Pillow code saving to `out`, from the picture `src`
    QTest::addColumn<int>("bits");
    QTest::addColumn<QString>("colors");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("alpha");
    QTest::newRow("palette 256") << "src.quantize(256).save(out, interlace=False)" << 8 << "256"
                                 << QSize(61, 43) << false;
    QTest::newRow("palette 16") << "src.convert('P', palette=Image.ADAPTIVE, colors=16).save(out)"
                                << 4 << "16" << QSize(61, 43) << false;
    QTest::newRow("interlaced")
        << "src.convert('P', palette=Image.ADAPTIVE, colors=64).save(out, interlace=True)" << 6
        << "64" << QSize(61, 43) << false;
    QTest::newRow("transparency")
        << "p = src.convert('P', palette=Image.ADAPTIVE, colors=32)\np.putpixel((3, 4), "
           "7)\np.save(out, transparency=7)"
        << 5 << "32" << QSize(61, 43) << true;
    QTest::newRow("grey") << "src.convert('L').save(out)" << 8 << "256" << QSize(61, 43) << false;
    QTest::newRow("two frames") << "a = src.convert('P', palette=Image.ADAPTIVE, colors=8); b = "
                                   "src.rotate(90).convert('P', palette=Image.ADAPTIVE, colors=8)\n"
                                   "a.save(out, save_all=True, append_images=[b])"
                                << 3 << "8" << QSize(61, 43) << false;
  }

  void readsPillowFiles() {
    QFETCH(QString, recipe);
    QFETCH(int, bits);
    QFETCH(QString, colors);
    QFETCH(QSize, size);
    QFETCH(bool, alpha);
    const QString path = PathOf(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_') +
                                QStringLiteral(".gif"));
    MakeWithPillow(recipe, path);

    const HeaderFacts facts = ReadHeaderFacts(path);
    QCOMPARE(facts.FileType, PictureFileType::Gif);
    QCOMPARE(QSize(facts.Width, facts.Height), size);
    QCOMPARE(ColorCountText(facts.BitsPerSample * facts.SamplesPerPixel), colors);

    const Picture picture = ReadPicture(path);
    QCOMPARE(picture.Params.FileType, PictureFileType::Gif);
    QCOMPARE(picture.Params.BitsPerSample, bits);
    QCOMPARE(picture.Params.SamplesPerPixel, 1);
    QCOMPARE(picture.Params.DpiX, kDefaultDpi);
    QCOMPARE(picture.Image.format(), QImage::Format_BGR888);
    QCOMPARE(picture.Image.size(), size);
    QString error;
    const QImage expected = DecodeWithPillow(path, &error);
    QVERIFY2(!expected.isNull(), qPrintable(error));
    if (!alpha) QCOMPARE(MaxChannelDifference(picture.Image, expected), 0);
    QCOMPARE(picture.HasAlpha(), alpha);
    if (alpha) {
      QCOMPARE(picture.Alpha, AlphaWithPillow(path));
      QCOMPARE(int(picture.Alpha.constScanLine(4)[3]), 0);
    }
  }

  // A first frame smaller than the screen sits at its offset; the rest shows the background.
  void readsFrameOffset() {
    // A 3 x 2 frame of red written by us, then moved to (4, 3) on an 8 x 6 screen whose
    // background is entry 2 (green) of the 4-entry table {black, red, green, (unused)}.
    Picture frame;
    frame.Image = QImage(3, 2, QImage::Format_Indexed8);
    frame.Image.setColorTable({qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0)});
    frame.Image.fill(1);
    QByteArray gif = EncodePicture(frame, QStringLiteral("gif"));
    QCOMPARE(gif.at(6 + 7 + 12), '\x2c');  // no extension: the descriptor follows the table
    gif[6] = 8;                            // screen width
    gif[8] = 6;                            // screen height
    gif[11] = 2;                           // background index
    gif[6 + 7 + 12 + 1] = 4;               // frame left
    gif[6 + 7 + 12 + 3] = 3;               // frame top
    const QString path = PathOf(QStringLiteral("offset.gif"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(gif);
    file.close();

    const Picture picture = ReadPicture(path);
    QCOMPARE(picture.Image.size(), QSize(8, 6));
    QString error;
    const QImage expected = DecodeWithPillow(path, &error);
    QVERIFY2(!expected.isNull(), qPrintable(error));
    const QImage ours = picture.Image.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 8; ++x) {
        const bool inFrame = x >= 4 && x < 7 && y >= 3 && y < 5;
        QCOMPARE(ours.pixel(x, y), inFrame ? qRgb(255, 0, 0) : qRgb(0, 255, 0));
        if (inFrame) QCOMPARE(expected.pixel(x, y), ours.pixel(x, y));
      }
    }
  }

  // Our output decodes in Pillow to our pixels, with the palette size we chose.
  void writesPalettes_data() {
    QTest::addColumn<QString>("form");
    QTest::addColumn<int>("requestedBits");
    QTest::addColumn<int>("tableSize");
    QTest::newRow("indexed 16 colours") << "indexed16" << 4 << 16;
    QTest::newRow("indexed 5 colours at 8 bits") << "indexed5" << 8 << 256;
    QTest::newRow("indexed 5 colours, no request") << "indexed5" << 0 << 8;
    QTest::newRow("1-bit") << "mono" << 1 << 2;
    // 8 x 3 asks for no palette depth: the 100 colours get the smallest table that holds them.
    QTest::newRow("true colour, few colours") << "fewColours" << 8 << 128;
    QTest::newRow("true colour photo") << "photo" << 8 << 256;
  }

  void writesPalettes() {
    QFETCH(QString, form);
    QFETCH(int, requestedBits);
    QFETCH(int, tableSize);
    const QImage photo = MakeTestPicture(90, 70);
    Picture picture;
    picture.Params.BitsPerSample = requestedBits;
    picture.Params.SamplesPerPixel = 1;
    if (form == QLatin1String("indexed16")) {
      picture.Image = ReduceColors(photo, 16);
    } else if (form == QLatin1String("indexed5")) {
      picture.Image = ReduceColors(photo, 5);
    } else if (form == QLatin1String("mono")) {
      picture.Image = DitherToBlackAndWhite(photo);
    } else if (form == QLatin1String("fewColours")) {
      picture.Image = ReduceColors(photo, 100).convertToFormat(QImage::Format_BGR888);
      picture.Params.SamplesPerPixel = 3;
    } else {
      picture.Image = photo;
      picture.Params.SamplesPerPixel = 3;
    }
    const QString path = PathOf(QStringLiteral("out_%1_%2.gif").arg(form).arg(requestedBits));
    WritePicture(picture, path);

    const ProcessResult described =
        RunPython(QStringLiteral("import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
                                 "print(im.mode, len(im.palette.getdata()[1]) // 3)\n"),
                  {path});
    QCOMPARE(described.Out.trimmed(), QStringLiteral("P %1").arg(tableSize).toLatin1());

    const QImage decoded = DecodeWithPillow(path);
    const Picture back = ReadPicture(path);
    QCOMPARE(MaxChannelDifference(back.Image, decoded), 0);
    if (form == QLatin1String("photo")) {
      // A true-colour photo is reduced: close to the source, never more than 256 colours.
      QVERIFY(CountColors(back.Image, 256) <= 256);
      QVERIFY(MaxChannelDifference(decoded, photo) < 128);
    } else {
      QCOMPARE(MaxChannelDifference(decoded, picture.Image), 0);
    }
  }

  // An alpha plane becomes a transparent colour: pixels with alpha under 128.
  void writesTransparency_data() {
    QTest::addColumn<QString>("form");
    QTest::newRow("true colour") << "bgr";
    QTest::newRow("indexed with full palette") << "indexed256";
  }

  void writesTransparency() {
    QFETCH(QString, form);
    Picture picture;
    picture.Image = form == QLatin1String("bgr") ? MakeTestPicture(40, 30)
                                                 : ReduceColors(MakeTestPicture(40, 30), 256);
    picture.Alpha = QImage(40, 30, QImage::Format_Grayscale8);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) picture.Alpha.scanLine(y)[x] = uchar((x * 7 + y * 3) % 256);
    const QString path = PathOf(QStringLiteral("alpha_%1.gif").arg(form));
    WritePicture(picture, path);

    const QImage pillowAlpha = AlphaWithPillow(path);
    QCOMPARE(pillowAlpha.size(), QSize(40, 30));
    const Picture back = ReadPicture(path);
    QVERIFY(back.HasAlpha());
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 40; ++x) {
        const int expected = picture.Alpha.constScanLine(y)[x] < 128 ? 0 : 255;
        QCOMPARE(int(pillowAlpha.constScanLine(y)[x]), expected);
        QCOMPARE(int(back.Alpha.constScanLine(y)[x]), expected);
      }
    }
  }

  void refusesHostileFiles_data() {
    QTest::addColumn<QByteArray>("data");
    Picture picture;
    picture.Image = MakeTestPicture(50, 40);
    const QByteArray valid = EncodePicture(picture, QStringLiteral("gif"));
    QTest::newRow("zero length") << QByteArray();
    QTest::newRow("signature only") << QByteArray("GIF89a");
    QTest::newRow("truncated half") << valid.left(valid.size() / 2);
    QTest::newRow("truncated in table") << valid.left(40);
    QTest::newRow("no frame") << valid.left(13 + 3 * 256) + QByteArray(";");
    QByteArray garbage("GIF89a");
    for (int i = 0; i < 400; ++i) garbage += char((i * 151 + 7) % 256);
    QTest::newRow("garbage") << garbage;
    // A screen of 65535 x 65535 with a frame of the same size and no data.
    QByteArray absurd("GIF89a\xff\xff\xff\xff\x00\x00\x00", 13);
    absurd += QByteArray("\x2c\x00\x00\x00\x00\xff\xff\xff\xff\x00\x02\x01\x00\x3b", 14);
    QTest::newRow("absurd dimensions") << absurd;
  }

  void refusesHostileFiles() {
    QFETCH(QByteArray, data);
    QVERIFY_THROWS_EXCEPTION(PictureError,
                             ReadPictureFromMemory(View(data), QStringLiteral("gif")));
    const HeaderFacts facts = ReadHeaderFactsFromMemory(View(data), QStringLiteral("gif"));
    QVERIFY(facts.FileType == PictureFileType::Unknown || facts.FileType == PictureFileType::Gif);
  }
  // Files with damaged bytes or cut short anywhere: each read gives a picture or PictureError.
  // Run under AddressSanitizer, this finds reads outside the data.
  void survivesDamagedBytes_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("interlaced") << "interlaced.gif";
    QTest::newRow("transparency") << "transparency.gif";
    QTest::newRow("two frames") << "two_frames.gif";
  }

  void survivesDamagedBytes() {
    QFETCH(QString, file);
    QFile source(PathOf(file));
    if (!source.open(QIODevice::ReadOnly)) QSKIP("the file is made by an earlier test of this run");
    const QByteArray valid = source.readAll();
    QRandomGenerator random(4321);
    for (int round = 0; round < 200; ++round) {
      QByteArray damaged = valid;
      if (round % 3 == 2) {
        damaged.truncate(6 + random.bounded(int(valid.size()) - 6));
      } else {
        for (int i = random.bounded(1, 9); i > 0; --i)
          damaged[6 + random.bounded(int(damaged.size()) - 6)] = char(random.bounded(256));
      }
      try {
        const Picture picture = ReadPictureFromMemory(View(damaged), QStringLiteral("gif"));
        QVERIFY(!picture.IsNull());
      } catch (const PictureError&) {
      }
      ReadHeaderFactsFromMemory(View(damaged), QStringLiteral("gif"));
    }
  }
};

QTEST_GUILESS_MAIN(TestGif)
#include "tst_Gif.moc"
