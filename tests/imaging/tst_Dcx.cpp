#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "common/TestSupport.h"
#include "imaging/CodecRegistry.h"
#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"

namespace {

// Writes two PCX pages with Pillow. argv: first page path, second page path.
const char kPagesScript[] = R"(
import sys
from PIL import Image
w, h = 37, 23
im = Image.new('RGB', (w, h))
im.putdata([((x * 7) % 256, (y * 11) % 256, (x * y + 200) % 256) for y in range(h) for x in range(w)])
im.quantize(100).save(sys.argv[1])
im.resize((20, 10)).save(sys.argv[2])
)";

QByteArray U32(quint32 v) {
  QByteArray b(4, '\0');
  for (int i = 0; i < 4; ++i) b[i] = char((v >> (8 * i)) & 0xFF);
  return b;
}

// A DCX file: the magic, the page offsets ended by 0, then the pages.
QByteArray MakeDcx(const QList<QByteArray>& pages) {
  QByteArray table = U32(987654321);
  quint32 offset = 4 + 4 * (pages.size() + 1);
  QByteArray body;
  for (const QByteArray& page : pages) {
    table += U32(offset);
    offset += page.size();
    body += page;
  }
  return table + U32(0) + body;
}

}  // namespace

class TestDcx : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir Dir;
  QByteArray Palette8;  // Pillow's 8-bit palette PCX (its palette block ends the page)
  QByteArray Rgb24;     // Pillow's 24-bit PCX
  QString Path(const QString& name) const { return Dir.filePath(name); }

 private slots:
  void initTestCase() {
    QVERIFY(Dir.isValid());
    QVERIFY2(CodecRegistry::Instance().ForFileType(PictureFileType::Dcx), "DCX codec missing");
    const ProcessResult made = RunPython(kPagesScript, {Path("p8.pcx"), Path("p24.pcx")});
    QVERIFY2(made.ExitCode == 0, made.Err.constData());
    Palette8 = ReadAll(Path("p8.pcx"));
    Rgb24 = ReadAll(Path("p24.pcx"));
    QVERIFY(!Palette8.isEmpty() && !Rgb24.isEmpty());
  }

  // The first page is read, whatever follows it, with the pixels Pillow reads from that page,
  // and the format is found from the magic number whatever the extension.
  void readsFirstPage_data() {
    QTest::addColumn<QString>("pages");  // which PCX files, in order: 8 or 24
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QSize>("size");
    QTest::newRow("one page") << "8"
                              << "dcx" << QSize(37, 23);
    QTest::newRow("palette page before another") << "8 24"
                                                 << "dcx" << QSize(37, 23);
    QTest::newRow("24-bit page first") << "24 8"
                                       << "dcx" << QSize(20, 10);
    QTest::newRow("wrong extension") << "8 24"
                                     << "bin" << QSize(37, 23);
  }
  void readsFirstPage() {
    QFETCH(QString, pages);
    QFETCH(QString, ext);
    QFETCH(QSize, size);
    QList<QByteArray> list;
    for (const QString& p : pages.split(' ')) list.append(p == "8" ? Palette8 : Rgb24);
    const QByteArray dcx = MakeDcx(list);
    const QString path =
        Path(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_') + "." + ext);
    QVERIFY(WriteFile(path, dcx));

    const Picture picture = ReadPicture(path);
    QCOMPARE(picture.Image.size(), size);
    QCOMPARE(picture.Params.FileType, PictureFileType::Dcx);
    // Pillow's own DCX reader loses the palette page's data offset, so it reads the page
    // file itself.
    QString error;
    const QImage pillow =
        DecodeWithPillow(Path(pages.startsWith("8") ? "p8.pcx" : "p24.pcx"), &error);
    QVERIFY2(!pillow.isNull(), qPrintable(error));
    QCOMPARE(MaxChannelDifference(picture.Image, pillow), 0);

    const HeaderFacts facts = ReadHeaderFacts(path);
    QCOMPARE(facts.FileType, PictureFileType::Dcx);
    QVERIFY(!facts.FormatDescription.isEmpty());
    QCOMPARE(QSize(facts.Width, facts.Height), size);
    QCOMPARE(facts.BitsPerSample * facts.SamplesPerPixel, list[0] == Palette8 ? 8 : 24);
    QCOMPARE(facts.DpiX, 100);
  }

  // Damaged and hostile files give PictureError, never a crash.
  void hostile_data() {
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray good = MakeDcx({Palette8, Rgb24});
    QTest::newRow("zero length") << QByteArray();
    QTest::newRow("magic only") << good.left(4);
    QTest::newRow("magic and half an offset") << good.left(6);
    QTest::newRow("no pages") << U32(987654321) + U32(0) + Rgb24;
    QTest::newRow("offset past the end") << U32(987654321) + U32(1u << 30) + U32(0) + Rgb24;
    QTest::newRow("offset at the end") << U32(987654321) + U32(12 + Rgb24.size()) + U32(0) + Rgb24;
    QTest::newRow("offset into the table") << U32(987654321) + U32(4) + U32(0) + Rgb24;
    QTest::newRow("page truncated") << good.left(16 + 200);
    QTest::newRow("page is not a PCX") << U32(987654321) + U32(12) + U32(0) + QByteArray(300, 'x');
    QTest::newRow("wrong magic") << U32(987654320) + U32(12) + U32(0) + Rgb24;
  }
  void hostile() {
    QFETCH(QByteArray, bytes);
    QVERIFY_THROWS_EXCEPTION(PictureError, ReadPictureFromMemory(View(bytes), "dcx"));
  }
};

QTEST_GUILESS_MAIN(TestDcx)
#include "tst_Dcx.moc"
