#include <QTemporaryDir>
#include <QtTest>

#include "util/uFunction.h"

class TestUFunction : public QObject {
  Q_OBJECT
 private slots:
  void fileSizeText_data() {
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "0k";
    QTest::newRow("half k") << qint64(512) << "0.5k";
    QTest::newRow("one k") << qint64(1024) << "1k";
    QTest::newRow("tie to even 1536") << qint64(1536) << "2k";
    QTest::newRow("tie to even 2560") << qint64(2560) << "2k";
    QTest::newRow("1024k") << qint64(1048576) << "1024k";
    QTest::newRow("1.5M") << qint64(1572864) << "1.5M";
    QTest::newRow("2M") << qint64(2097152) << "2M";
    QTest::newRow("1000 bytes carry") << qint64(1000) << "1.0k";
    QTest::newRow("1023 bytes carry") << qint64(1023) << "1.0k";
    QTest::newRow("10 bytes") << qint64(10) << "0.0k";
    QTest::newRow("vanished file") << qint64(-1) << "0.0k";
  }
  void fileSizeText() {
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(FileSizeText(bytes), text);
  }

  void colorCountText_data() {
    QTest::addColumn<int>("bits");
    QTest::addColumn<QString>("text");
    const QList<QPair<int, QString>> cases = {
        {0, "Unknown"}, {1, "2"},  {2, "4"},    {3, "8"},          {4, "16"},   {5, "32"},
        {6, "64"},      {7, "128"}, {8, "256"}, {16, "65,536"},   {24, "16 M"}, {32, "32 M"},
        {9, "Unknown"}, {48, "Unknown"}, {-8, "Unknown"}};
    for (const auto& [bits, text] : cases) QTest::newRow(qPrintable(QString::number(bits))) << bits << text;
  }
  void colorCountText() {
    QFETCH(int, bits);
    QFETCH(QString, text);
    QCOMPARE(ColorCountText(bits), text);
  }

  void fileTypeName() {
    QCOMPARE(FileTypeName(0), QStringLiteral("Unknown"));
    QCOMPARE(FileTypeName(3), QStringLiteral("JPEG"));
    QCOMPARE(FileTypeName(12), QStringLiteral("PXM"));
    QCOMPARE(FileTypeName(19), QStringLiteral("DCX"));
    QCOMPARE(FileTypeName(20), QStringLiteral("USER Define"));
    QCOMPARE(FileTypeName(-1), QStringLiteral("USER Define"));
  }

  void fileSizeOf() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.bin"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(1536, 'x'));
    f.close();
    QCOMPARE(FileSizeOf(path), qint64(1536));
    QCOMPARE(FileSizeOf(dir.filePath(QStringLiteral("missing.bin"))), qint64(-1));
  }
};

QTEST_GUILESS_MAIN(TestUFunction)
#include "tst_uFunction.moc"
