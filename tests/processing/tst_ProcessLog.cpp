#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "processing/ProcessLog.h"

// The processing log: its line format, trimming, reading rules and file.
class TestProcessLog : public QObject {
  Q_OBJECT

 private:
  static QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

 private slots:
  void ParseLine_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("description");
    QTest::newRow("record of a run")
        << "[12/9/2025 14:05:09]Process>/out/newname_00001.jpg" << true << "12/9/2025 14:05:09"
        << "Process"
        << "/out/newname_00001.jpg";
    QTest::newRow("doubled > in the title") << "[t]a>>b>c>d" << true << "t"
                                            << "a>b"
                                            << "c>d";
    QTest::newRow("title ending in >") << "[t]a>>>b" << true << "t"
                                       << "a>"
                                       << "b";
    QTest::newRow("no separator: all title") << "[t]a>>b" << true << "t"
                                             << "a>b"
                                             << "";
    QTest::newRow("text before the bracket") << "xx[t]T>D" << true << "t"
                                             << "T"
                                             << "D";
    QTest::newRow("no closing bracket") << "[time without end" << false << ""
                                        << ""
                                        << "";
    QTest::newRow("no bracket") << "Process>D" << false << ""
                                << ""
                                << "";
  }
  void ParseLine() {
    QFETCH(QString, line);
    QFETCH(bool, parsed);
    ProcessLogEntry entry;
    QCOMPARE(ProcessLog::ParseLine(line, &entry), parsed);
    if (!parsed) return;
    QTEST(entry.Time, "time");
    QTEST(entry.Title, "title");
    QTEST(entry.Description, "description");
  }

  void TitleWithSeparatorRoundTrips() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Log.dat"));
    ProcessLog log;
    log.SetFileName(path);
    QVERIFY(log.Entries().empty());
    QVERIFY(!QFile::exists(path));
    log.Add(QStringLiteral("1/2/2026 10:00:00"), QStringLiteral("a>b"), QStringLiteral("x>y"));
    QCOMPARE(ReadAll(path), QByteArray("[1/2/2026 10:00:00]a>>b>x>y\r\n"));
    ProcessLog again;
    again.SetFileName(path);
    QCOMPARE(again.Entries(), log.Entries());
    QCOMPARE(again.Entries().front().Title, QStringLiteral("a>b"));
  }

  void ReadingSkipsLinesWithoutTime() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Log.dat"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("junk\r\n[a]T>D\r\n\r\n[broken\n[b]U>E");
    f.close();
    ProcessLog log;
    log.SetFileName(path);
    QCOMPARE(log.Entries().size(), std::size_t(2));
    QCOMPARE(log.Entries()[1].Description, QStringLiteral("E"));
  }

  // Each record below has a line of exactly 100 characters with its CR LF.
  void TrimmingKeepsNewestRecordsReaching5000() {
    QTemporaryDir dir;
    ProcessLog log;
    log.SetFileName(dir.filePath(QStringLiteral("Log.dat")));
    const QString description(100 - 2 - QStringLiteral("[t]P>").size() - 2, QLatin1Char('d'));
    for (int i = 0; i < 60; ++i)
      log.Add(QStringLiteral("t"), QStringLiteral("P"),
              QString::number(i).rightJustified(2, QLatin1Char('0')) + description);
    // 50 lines of 100 characters reach 5000 exactly; the older 10 are gone.
    QCOMPARE(log.Entries().size(), std::size_t(50));
    QVERIFY(log.Entries().front().Description.startsWith(QStringLiteral("10")));
    QCOMPARE(ReadAll(log.FileName()).size(), 5000);

    // One more character per line: 50 lines still do not reach 5000 with 49, so 50 are kept.
    log.Add(QStringLiteral("t"), QStringLiteral("P"), description + QStringLiteral("xxx"));
    QCOMPARE(log.Entries().size(), std::size_t(50));
  }

  void HugeRecordStaysAlone() {
    QTemporaryDir dir;
    ProcessLog log;
    log.SetFileName(dir.filePath(QStringLiteral("Log.dat")));
    log.Add(QStringLiteral("t"), QStringLiteral("P"), QStringLiteral("small"));
    log.Add(QStringLiteral("t"), QStringLiteral("P"), QString(6000, QLatin1Char('x')));
    QCOMPARE(log.Entries().size(), std::size_t(1));
    log.Add(QStringLiteral("t"), QStringLiteral("P"), QStringLiteral("after"));
    QCOMPARE(log.Entries().size(), std::size_t(2));
  }

  void InactiveLogAddsNothingAndCleanEmptiesFile() {
    QTemporaryDir dir;
    ProcessLog log;
    log.SetFileName(dir.filePath(QStringLiteral("Log.dat")));
    log.Add(QStringLiteral("t"), QStringLiteral("P"), QStringLiteral("kept"));
    log.Active = false;
    log.Add(QStringLiteral("t"), QStringLiteral("P"), QStringLiteral("ignored"));
    QCOMPARE(log.Entries().size(), std::size_t(1));
    log.Clear();
    QVERIFY(log.Entries().empty());
    QVERIFY(QFile::exists(log.FileName()));
    QCOMPARE(ReadAll(log.FileName()).size(), 0);
  }

  void UnwritableLogThrows() {
    ProcessLog log;
    log.SetFileName(QStringLiteral("/nonexistent-folder/Log.dat"));
    QVERIFY_THROWS_EXCEPTION(
        std::exception, log.Add(QStringLiteral("t"), QStringLiteral("P"), QStringLiteral("d")));
  }
};

QTEST_GUILESS_MAIN(TestProcessLog)
#include "tst_ProcessLog.moc"
