#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "common/TestSupport.h"
#include "imaging/PictureIO.h"
#include "processing/BatchHost.h"
#include "processing/BatchRun.h"

// Whole runs over real photos, one output format and option at a time; every written file is
// examined by independent readers (Pillow, and GraphicsMagick for the JPEG quality).

namespace {

// A host that answers nothing and records nothing: only the written files matter here.
class QuietHost : public BatchHost {
 public:
  JobSettings Job = JobSettings::Defaults(QStringLiteral("/app/"));

  JobSettings Settings() override { return Job; }
  void SetChoice(JobField field, int index) override { Job.SetInt(field, index); }
  void AdvanceStartNo() override { Job.AdvanceStartNo(); }
  void AddDetailsLine(const QString& line) override { Details << line; }
  int DetailsLineCount() override { return static_cast<int>(Details.size()); }
  void ClearDetails() override { Details.clear(); }
  void RepaintDetails() override {}
  void SetProgress(int) override {}
  void ShowProgress() override {}
  void HideProgress() override {}
  void ProcessPendingEvents() override {}
  bool AbortRequested() override { return false; }
  void ClearAbortRequest() override {}
  ReplaceAnswer AskReplace(const ReplaceQuestion&) override { return {ReplaceChoice::Replace, {}}; }
  void HideReplace() override {}
  void ShowError(const QString& message) override { Details << message; }
  bool AskYesNo(const QString&) override { return false; }
  void OpenFolder(const QString&) override {}
  void ShowWorkingPicture(const Picture&) override {}
  void ShowOutputPage() override {}
  void ShowPictureListPage() override {}

  QStringList Details;
};

// Prints key=value lines describing a picture file, read with Pillow and by parsing the
// headers directly:
//   format, size, colors (distinct colours after decoding), bits (bits per pixel as stored:
//   BMP bit count, GIF colour table bits, PCX bits x planes, TGA pixel depth, PNG depth x
//   samples, TIFF bits x samples, JPEG 8 x components), compression (TIFF tag 259, PNG zlib
//   FLEVEL), t4 (TIFF Group 3 options), stored (PNG: first deflate block is stored),
//   make and dateoriginal (EXIF), icc (profile length), other (other metadata found).
const char kDescribe[] = R"PY(
import sys, struct
from PIL import Image
path = sys.argv[1]
data = open(path, 'rb').read()
im = Image.open(path)
fmt = im.format
info = dict(im.info)
out = {'format': fmt, 'size': '%dx%d' % im.size}
tags = dict(im.tag_v2) if fmt == 'TIFF' else {}
exif = im.getexif()
im.load()
rgb = im.convert('RGB')
out['colors'] = len(rgb.getcolors(1 << 24))
other = []
bits = -1
if fmt == 'BMP':
    bits = struct.unpack('<H', data[28:30])[0]
elif fmt == 'GIF':
    pos = 13
    if data[10] & 0x80:
        bits = (data[10] & 7) + 1
        pos += 3 << bits
    while pos < len(data):
        if data[pos] == 0x21:
            pos += 2
            while data[pos]:
                pos += data[pos] + 1
            pos += 1
        elif data[pos] == 0x2C:
            if data[pos + 9] & 0x80:
                bits = (data[pos + 9] & 7) + 1
            break
        else:
            break
elif fmt == 'PCX':
    bits = data[3] * data[65]
elif fmt == 'TGA':
    bits = data[16]
elif fmt == 'PNG':
    samples = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[data[25]]
    bits = data[24] * samples
    idat = data.index(b'IDAT') + 4
    out['compression'] = data[idat + 1] >> 6
    out['stored'] = int((data[idat + 2] >> 1) & 3 == 0)
    pos = 8
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        if kind in (b'tEXt', b'zTXt', b'iTXt'):
            other.append(kind.decode())
        pos += length + 12
elif fmt == 'TIFF':
    bps = tags.get(258, (1,))
    bps = bps if isinstance(bps, tuple) else (bps,)
    bits = bps[0] * tags.get(277, 1)
    out['compression'] = tags.get(259, 1)
    out['t4'] = tags.get(292, 0)
    for tag, name in ((270, 'description'), (700, 'xmp'), (33723, 'iptc'), (34377, 'photoshop')):
        if tag in tags:
            other.append(name)
elif fmt == 'JPEG':
    bits = 8 * len(im.getbands())
    pos = 2
    while pos + 4 <= len(data) and data[pos] == 0xFF and data[pos + 1] not in (0xDA, 0xD9):
        marker = data[pos + 1]
        length = struct.unpack('>H', data[pos + 2:pos + 4])[0]
        body = data[pos + 4:pos + 2 + length]
        if marker == 0xFE:
            other.append('comment')
        elif marker == 0xE1 and body.startswith(b'http://ns.adobe.com/xap/1.0/'):
            other.append('xmp')
        elif marker == 0xED:
            other.append('iptc')
        pos += 2 + length
out['bits'] = bits
out['make'] = exif.get(271, '')
out['dateoriginal'] = exif.get_ifd(0x8769).get(36867, '')
out['icc'] = len(info.get('icc_profile') or b'')
out['other'] = ','.join(other)
for key, value in out.items():
    print('%s=%s' % (key, value))
)PY";

QMap<QString, QString> Describe(const QString& path) {
  QMap<QString, QString> facts;
  const ProcessResult result = RunPython(QString::fromLatin1(kDescribe), {path});
  if (result.ExitCode != 0) {
    facts[QStringLiteral("error")] = QString::fromUtf8(result.Err);
    return facts;
  }
  for (const QString& line : QString::fromUtf8(result.Out).split(QLatin1Char('\n'))) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq > 0) facts[line.left(eq)] = line.mid(eq + 1);
  }
  return facts;
}

// The JPEG quality that GraphicsMagick estimates from the file's tables; -1 when it fails.
int GmJpegQuality(const QString& path) {
  const ProcessResult result = RunProgram(
      QStringLiteral("gm"),
      {QStringLiteral("identify"), QStringLiteral("-format"), QStringLiteral("%Q"), path});
  bool ok = false;
  const int quality = QString::fromLatin1(result.Out).trimmed().toInt(&ok);
  return result.ExitCode == 0 && ok ? quality : -1;
}

QString Example(const QString& name) { return SourceDir() + QStringLiteral("/examples/") + name; }

constexpr int kNoField = -1;

// Makes the sources of the runs with Pillow:
//   photo.jpg      a real photo (a copy of an example)
//   png-named.jpg  a PNG file whose name says JPEG
//   palette.bmp    an 8-bit palette BMP of the photo
//   lzw.tif, packbits.tif  the photo as compressed TIFF; g4.tif in black and white, Group 4;
//   mono.tif       black and white, uncompressed; p16.tif 16 colours, 8-bit palette, LZW
//   p16.gif        the photo in 16 colours with a 16-entry table (GraphicsMagick)
//   meta.jpg       a photo (quality 90) carrying EXIF, an ICC profile, a comment, XMP and IPTC
const char kMakeSources[] = R"PY(
import sys, struct, shutil, subprocess
from PIL import Image, ImageCms
photo, folder = sys.argv[1], sys.argv[2]
shutil.copy(photo, folder + 'photo.jpg')
im = Image.open(photo)
im.save(folder + 'png-named.jpg', 'PNG')
im.convert('RGB').quantize(256).save(folder + 'palette.bmp')
im.save(folder + 'lzw.tif', compression='tiff_lzw')
im.save(folder + 'packbits.tif', compression='packbits')
im.convert('1').save(folder + 'g4.tif', compression='group4')
im.convert('1').save(folder + 'mono.tif')
im.convert('RGB').quantize(16).save(folder + 'p16.tif', compression='tiff_lzw')
subprocess.run(['gm', 'convert', photo, '-colors', '16', folder + 'p16.gif'], check=True)
icc = ImageCms.ImageCmsProfile(ImageCms.createProfile('sRGB')).tobytes()
im.save(folder + 'meta.jpg', 'JPEG', quality=90, exif=im.info['exif'], icc_profile=icc)
data = open(folder + 'meta.jpg', 'rb').read()
def segment(marker, body):
    return b'\xff' + bytes([marker]) + struct.pack('>H', len(body) + 2) + body
iptc = b'\x1c\x02\x78' + struct.pack('>H', 7) + b'caption'
resource = b'8BIM\x04\x04\x00\x00' + struct.pack('>I', len(iptc)) + iptc + b'\x00'
extra = (segment(0xFE, b'a comment') +
         segment(0xE1, b'http://ns.adobe.com/xap/1.0/\x00<x:xmpmeta xmlns:x="adobe:ns:meta/"/>') +
         segment(0xED, b'Photoshop 3.0\x00' + resource))
open(folder + 'meta.jpg', 'wb').write(data[:2] + extra + data[2:])
print(len(icc))
)PY";

}  // namespace

class TestOutputRun : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir Dir;
  QString Src, Out;
  int IccLength = 0;

  // Runs the job over one source and returns the description of the single written file.
  QMap<QString, QString> RunOne(QuietHost& host, const QString& source, QString* written) {
    QDir(Out).removeRecursively();
    QDir().mkpath(Out);
    host.Job.SetText(JobField::OutputFolder, Out);
    host.Job.SetOn(JobField::ResizeChecked, false);
    BatchJob job;
    job.Paths = {Src + source};
    const BatchOutcome outcome = RunBatch(host, job);
    const QStringList files = QDir(Out).entryList(QDir::Files);
    if (outcome.Written != 1 || files.size() != 1) {
      qWarning() << "nothing written:" << host.Details;
      return {};
    }
    *written = files.first();
    return Describe(Out + files.first());
  }

 private slots:
  void initTestCase() {
    for (const char* extension : {".jpg", ".png", ".bmp", ".tif", ".gif", ".pcx", ".tga"})
      if (!CanReadExtension(QString::fromLatin1(extension)))
        QSKIP("not every output codec is in this build");
    if (SystemPython().isEmpty()) QSKIP("no system Python with Pillow");
    QVERIFY(Dir.isValid());
    Src = Dir.path() + QStringLiteral("/src/");
    Out = Dir.path() + QStringLiteral("/out/");
    QDir().mkpath(Src);
    const ProcessResult made =
        RunPython(QString::fromLatin1(kMakeSources), {Example(QStringLiteral("Storm.jpg")), Src});
    QVERIFY2(made.ExitCode == 0, made.Err.constData());
    IccLength = made.Out.trimmed().toInt();
    QVERIFY(IccLength > 0);
  }

  // Every format with every value of its option list, and the rules that decide what is kept.
  void FormatsAndOptions_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("format");       // "OutputFormat"
    QTest::addColumn<int>("field");        // the option list, kNoField for none
    QTest::addColumn<int>("choice");       // its index
    QTest::addColumn<bool>("keep");        // "KeepQuality"
    QTest::addColumn<QString>("name");     // the written file
    QTest::addColumn<QString>("kind");     // Pillow's name of the format
    QTest::addColumn<int>("bits");         // bits per pixel as stored
    QTest::addColumn<int>("maxColors");    // 0: not checked
    QTest::addColumn<int>("compression");  // TIFF tag 259 or PNG FLEVEL; -1: not checked
    QTest::addColumn<int>("quality");      // JPEG; -1: not checked
    const QString photo = QStringLiteral("photo.jpg");
    const int q = int(JobField::JPEGQuality), p = int(JobField::PNGComp),
              t = int(JobField::TIFFComp), b = int(JobField::BmpColor), g = int(JobField::GIFColor),
              x = int(JobField::PCXColor), a = int(JobField::TGAColor);
    const QString jpeg = QStringLiteral("JPEG"), png = QStringLiteral("PNG"),
                  tiff = QStringLiteral("TIFF"), bmp = QStringLiteral("BMP"),
                  gif = QStringLiteral("GIF"), pcx = QStringLiteral("PCX"),
                  tga = QStringLiteral("TGA");

    for (int quality : {10, 15, 50, 75, 90, 95, 100})
      QTest::addRow("jpg quality %d", quality)
          << photo << 0 << q << (quality - 10) / 5 << false << QStringLiteral("photo.jpg") << jpeg
          << 24 << 0 << -1 << quality;
    // The source's own quality (90) when it is written in its own format with KeepQuality.
    QTest::newRow("jpg keeps its own quality")
        << photo << 0 << q << 13 << true << photo << jpeg << 24 << 0 << -1 << 90;
    QTest::newRow("nothing selected is jpg")
        << photo << -1 << q << 13 << false << photo << jpeg << 24 << 0 << -1 << 75;

    // zlib's FLEVEL in the stream header: 0 for levels 0-1, 1 for 2-5, 2 for 6, 3 for 7-9.
    const int flevel[] = {0, 0, 1, 1, 1, 1, 2, 3, 3, 3};
    for (int level = 0; level <= 9; ++level)
      QTest::addRow("png level %d", level)
          << photo << 2 << p << level << false << QStringLiteral("photo.png") << png << 24 << 0
          << flevel[level] << -1;
    // PNG content under a JPEG name stays under its own name when written as PNG.
    QTest::newRow("png named jpg keeps its name")
        << QStringLiteral("png-named.jpg") << 2 << p << 9 << true << QStringLiteral("png-named.jpg")
        << png << 24 << 0 << -1 << -1;

    // libtiff's compression tags; the fax kinds hold black and white only.
    const struct {
      const char* Name;
      int Tag;
      int Bits;
    } tiffKinds[] = {{"uncompressed", 1, 24}, {"ccitt 1d", 2, 1}, {"g3 1d", 3, 1},
                     {"g3 2d", 3, 1},         {"g4", 4, 1},       {"lzw", 5, 24},
                     {"packbits", 32773, 24}};
    for (int kind = 0; kind < 7; ++kind)
      QTest::addRow("tif %s", tiffKinds[kind].Name)
          << photo << 3 << t << kind << false << QStringLiteral("photo.tif") << tiff
          << tiffKinds[kind].Bits << (tiffKinds[kind].Bits == 1 ? 2 : 0) << tiffKinds[kind].Tag
          << -1;

    // TIFF in its own format: KeepQuality keeps the source's compression and depth; without
    // it the chosen kind is written, and no choice keeps the source's kind too.
    QTest::newRow("tif keeps lzw") << QStringLiteral("lzw.tif") << 3 << t << 0 << true
                                   << QStringLiteral("lzw.tif") << tiff << 24 << 0 << 5 << -1;
    QTest::newRow("tif lzw written uncompressed")
        << QStringLiteral("lzw.tif") << 3 << t << 0 << false << QStringLiteral("lzw.tif") << tiff
        << 24 << 0 << 1 << -1;
    QTest::newRow("tif keeps group 4 black and white")
        << QStringLiteral("g4.tif") << 3 << t << 5 << true << QStringLiteral("g4.tif") << tiff << 1
        << 2 << 4 << -1;
    QTest::newRow("tif keeps black and white")
        << QStringLiteral("mono.tif") << 3 << t << 5 << true << QStringLiteral("mono.tif") << tiff
        << 1 << 2 << 1 << -1;
    QTest::newRow("tif keeps a palette") << QStringLiteral("p16.tif") << 3 << t << 0 << true
                                         << QStringLiteral("p16.tif") << tiff << 8 << 16 << 5 << -1;
    QTest::newRow("tif without a choice keeps packbits")
        << QStringLiteral("packbits.tif") << 3 << t << -1 << false << QStringLiteral("packbits.tif")
        << tiff << 24 << 0 << 32773 << -1;

    const int bmpBits[] = {24, 1, 4, 8, 24}, bmpColors[] = {0, 2, 16, 256, 0};
    for (int choice = 0; choice < 5; ++choice)
      QTest::addRow("bmp colours %d", choice)
          << photo << 1 << b << choice << false << QStringLiteral("photo.bmp") << bmp
          << bmpBits[choice] << bmpColors[choice] << -1 << -1;
    QTest::newRow("bmp original of 8-bit")
        << QStringLiteral("palette.bmp") << 1 << b << 0 << false << QStringLiteral("palette.bmp")
        << bmp << 8 << 256 << -1 << -1;
    QTest::newRow("bmp true colour of 8-bit")
        << QStringLiteral("palette.bmp") << 1 << b << 4 << false << QStringLiteral("palette.bmp")
        << bmp << 24 << 256 << -1 << -1;

    // GIF "Use colors of original" from a photo: the writer makes a palette of its own.
    for (int choice = 0; choice < 9; ++choice) {
      const int bits = choice == 0 ? 8 : choice == 1 ? 1 : choice;
      QTest::addRow("gif colours %d", choice)
          << photo << 4 << g << choice << false << QStringLiteral("photo.gif") << gif << bits
          << (1 << bits) << -1 << -1;
    }

    QTest::newRow("gif keeps its 16 colours")
        << QStringLiteral("p16.gif") << 4 << g << 8 << true << QStringLiteral("p16.gif") << gif << 4
        << 16 << -1 << -1;
    QTest::newRow("gif 256 colours of a 16-colour gif")
        << QStringLiteral("p16.gif") << 4 << g << 8 << false << QStringLiteral("p16.gif") << gif
        << 8 << 16 << -1 << -1;

    for (int choice = 0; choice < 3; ++choice) {
      QTest::addRow("pcx colours %d", choice)
          << photo << 5 << x << choice << false << QStringLiteral("photo.pcx") << pcx
          << (choice == 1 ? 8 : 24) << (choice == 1 ? 256 : 0) << -1 << -1;
      QTest::addRow("tga colours %d", choice)
          << photo << 6 << a << choice << false << QStringLiteral("photo.tga") << tga
          << (choice == 1 ? 8 : 24) << (choice == 1 ? 256 : 0) << -1 << -1;
    }
    // "True Color" asks the writer for 24 bits also when the picture has a palette.
    QTest::newRow("pcx true colour of 8-bit")
        << QStringLiteral("palette.bmp") << 5 << x << 2 << false << QStringLiteral("palette.pcx")
        << pcx << 24 << 256 << -1 << -1;
    QTest::newRow("tga true colour of 8-bit")
        << QStringLiteral("palette.bmp") << 6 << a << 2 << false << QStringLiteral("palette.tga")
        << tga << 24 << 256 << -1 << -1;
  }

  void FormatsAndOptions() {
    QFETCH(QString, source);
    QFETCH(int, format);
    QFETCH(int, field);
    QFETCH(int, choice);
    QFETCH(bool, keep);
    QFETCH(QString, name);
    QFETCH(int, maxColors);
    QFETCH(int, compression);
    QFETCH(int, quality);

    QuietHost host;
    host.Job.SetInt(JobField::OutputFormat, format);
    host.Job.SetInt(JobField::ChangeCase, 2);
    host.Job.SetOn(JobField::KeepQuality, keep);
    if (field != kNoField) host.Job.SetInt(JobField(field), choice);
    QString written;
    const QMap<QString, QString> facts = RunOne(host, source, &written);
    QVERIFY2(!facts.isEmpty() && !facts.contains(QStringLiteral("error")),
             qPrintable(facts.value(QStringLiteral("error"))));

    QCOMPARE(written, name);
    QTEST(facts.value(QStringLiteral("format")), "kind");
    QCOMPARE(facts.value(QStringLiteral("size")), QStringLiteral("800x533"));
    QTEST(facts.value(QStringLiteral("bits")).toInt(), "bits");
    if (maxColors > 0) QVERIFY(facts.value(QStringLiteral("colors")).toInt() <= maxColors);
    if (compression >= 0) QCOMPARE(facts.value(QStringLiteral("compression")).toInt(), compression);
    if (format == 2 && field == int(JobField::PNGComp) && choice == 0)  // level 0 stores the data
      QCOMPARE(facts.value(QStringLiteral("stored")), QStringLiteral("1"));
    if (format == 3)  // Group 3: 2-D coding only for the 2-D kind
      QCOMPARE(facts.value(QStringLiteral("t4")).toInt() & 1, choice == 3 ? 1 : 0);
    if (quality > 0) {
      const int estimated = GmJpegQuality(Out + written);
      QVERIFY2(std::abs(estimated - quality) <= 1,
               qPrintable(QStringLiteral("quality %1, expected %2").arg(estimated).arg(quality)));
    }
  }

  // "True Color" of an 8-bit picture only asks the writer for 24 bits: the pixels are those of
  // the source.
  void TrueColorOfAPaletteKeepsItsPixels() {
    QuietHost host;
    host.Job.SetInt(JobField::OutputFormat, 1);
    host.Job.SetInt(JobField::BmpColor, 4);
    host.Job.SetOn(JobField::KeepQuality, false);
    QString written;
    RunOne(host, QStringLiteral("palette.bmp"), &written);
    const QImage source = DecodeWithPillow(Src + QStringLiteral("palette.bmp"));
    const QImage output = DecodeWithPillow(Out + written);
    QVERIFY(!source.isNull());
    QCOMPARE(MaxChannelDifference(source, output), 0);
  }

  // Metadata of a photo in the three formats that can hold it: kept by default, and nothing of
  // it written when removal is asked for.
  void MetadataKeptOrRemoved_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("remove");
    QTest::addColumn<QString>("others");  // the other metadata written when it is kept
    const struct {
      const char* Name;
      int Format;
      const char* Others;
    } formats[] = {
        {"jpg", 0, "xmp,iptc,comment"}, {"png", 2, "tEXt,iTXt"}, {"tif", 3, "description"}};
    for (const auto& f : formats) {
      QTest::addRow("%s kept", f.Name) << f.Format << false << QString::fromLatin1(f.Others);
      QTest::addRow("%s removed", f.Name) << f.Format << true << QString();
    }
  }

  void MetadataKeptOrRemoved() {
    QFETCH(int, format);
    QFETCH(bool, remove);
    QuietHost host;
    host.Job.SetInt(JobField::OutputFormat, format);
    host.Job.SetOn(JobField::RemoveExif, remove);
    host.Job.SetOn(JobField::KeepQuality, true);
    QString written;
    const QMap<QString, QString> facts = RunOne(host, QStringLiteral("meta.jpg"), &written);
    QVERIFY2(!facts.isEmpty() && !facts.contains(QStringLiteral("error")),
             qPrintable(facts.value(QStringLiteral("error"))));
    if (remove) {
      QCOMPARE(facts.value(QStringLiteral("make")), QString());
      QCOMPARE(facts.value(QStringLiteral("dateoriginal")), QString());
      QCOMPARE(facts.value(QStringLiteral("icc")), QStringLiteral("0"));
    } else {
      QCOMPARE(facts.value(QStringLiteral("make")), QStringLiteral("Canon"));
      QCOMPARE(facts.value(QStringLiteral("dateoriginal")), QStringLiteral("2008:04:20 19:12:06"));
      QCOMPARE(facts.value(QStringLiteral("icc")).toInt(), IccLength);
    }
    QTEST(facts.value(QStringLiteral("other")), "others");
  }
};

QTEST_GUILESS_MAIN(TestOutputRun)
#include "tst_OutputRun.moc"
