// The rename template: the "#" run rule, the source name and extension macros, the date and
// time macros, and ReplaceAll's never-search-inserted-text rule.

#include <QtTest>

#include "transforms/RenameTemplate.h"

class TestRenameTemplate : public QObject {
  Q_OBJECT

 private slots:
  void makeNewName_data() {
    QTest::addColumn<QString>("nameTemplate");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("counter");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("expected");
    const QDateTime afternoon(QDate(2025, 12, 9), QTime(14, 5, 9));
    const QDateTime morning(QDate(2031, 1, 2), QTime(3, 4, 5));
    auto row = [&](const char* name, const char* tmpl, const char* file, int counter,
                   const QDateTime& now, const char* expected) {
      QTest::newRow(name) << QString::fromUtf8(tmpl) << QString::fromUtf8(file) << counter << now
                          << QString::fromUtf8(expected);
    };
    row("counter zero-padded", "newname_#####", "IMG_0001.JPG", 1, afternoon, "newname_00001.JPG");
    row("only the name part of a path", "newname_#####", "/photos/2025.d/IMG_0001.JPG", 12,
        afternoon, "newname_00012.JPG");
    row("filename", "{filename}_web", "beach.png", 1, afternoon, "beach_web.png");
    row("ext and filename", "{ext}_{filename}", "x.tif", 1, afternoon, "tif_x.tif");
    row("first run sets the width", "a##b###", "f.jpg", 7, afternoon, "a07b07#.jpg");
    row("longer run loses n # as often as they fit", "##-####-#####", "f.jpg", 3, afternoon,
        "03-0303-0303#.jpg");
    row("# in the source name counts", "{filename}_###", "pic#1.jpg", 7, afternoon,
        "pic71_777.jpg");
    row("counter longer than the run", "#", "f.jpg", 123, afternoon, "123.jpg");
    row("counter at the top of its range", "p####", "f.jpg", 99999, afternoon, "p99999.jpg");
    row("empty template keeps the name", "", "/a/b/IMG_0001.JPG", 5, afternoon, "IMG_0001.JPG");
    row("macros are case-sensitive", "{FILENAME}_{Ext}", "a.jpg", 1, afternoon,
        "{FILENAME}_{Ext}.jpg");
    row("a name holding {filename} is replaced once", "{filename}-{filename}", "{filename}.jpg", 1,
        afternoon, "{filename}-{filename}.jpg");
    row("a macro in the source name is expanded", "{filename}", "{TIME:hhmm}.jpg", 1, afternoon,
        "1405.jpg");
    row("no extension", "x_{ext}_#", "README", 3, afternoon, "x__3");
    row("last dot starts the extension", "{filename}+{ext}", "a.tar.gz", 1, afternoon,
        "a.tar+gz.gz");
    row("date before the name", "{DATE:YYYY_MM_DD}pic", "a.jpg", 1, afternoon,
        "2025_12_09_pic.jpg");
    row("DATE:YY_MM_DD", "{DATE:YY_MM_DD}", "a.jpg", 1, afternoon, "09_12_25.jpg");
    row("DATE:YYYY_MM_DD", "{DATE:YYYY_MM_DD}", "a.jpg", 1, afternoon, "2025_12_09_.jpg");
    row("DATE:YYMMDD", "{DATE:YYMMDD}", "a.jpg", 1, afternoon, "251209.jpg");
    row("DATE:YYYYMMDD", "{DATE:YYYYMMDD}", "a.jpg", 1, afternoon, "20251209.jpg");
    row("TIME:hh_mm", "{TIME:hh_mm}", "a.jpg", 1, afternoon, "14_05.jpg");
    row("TIME:hh_mm_ss", "{TIME:hh_mm_ss}", "a.jpg", 1, afternoon, "14_05_09.jpg");
    row("TIME:hhmm", "{TIME:hhmm}", "a.jpg", 1, afternoon, "1405.jpg");
    row("TIME:hhmmss", "{TIME:hhmmss}", "a.jpg", 1, afternoon, "140509.jpg");
    row("leading zeros everywhere", "{DATE:YY_MM_DD}_{TIME:hh_mm_ss}", "a.jpg", 1, morning,
        "02_01_31_03_04_05.jpg");
    row("every occurrence of a macro", "{TIME:hhmm}{TIME:hhmm}#", "a.jpg", 4, morning,
        "030403044.jpg");
  }

  void makeNewName() {
    QFETCH(QString, nameTemplate);
    QFETCH(QString, fileName);
    QFETCH(int, counter);
    QFETCH(QDateTime, now);
    QFETCH(QString, expected);
    QCOMPARE(MakeNewName(nameTemplate, fileName, counter, now), expected);
  }

  // Without a given moment the name takes the clock's date.
  void usesTheClock() {
    const QString before = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    const QString name = MakeNewName(QStringLiteral("{DATE:YYYYMMDD}"), QStringLiteral("a.jpg"), 1);
    const QString after = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    QVERIFY2(name == before + QStringLiteral(".jpg") || name == after + QStringLiteral(".jpg"),
             qPrintable(name));
  }

  void replaceAll_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("expected");
    QTest::newRow("every occurrence") << "abcabc"
                                      << "bc"
                                      << "X"
                                      << "aXaX";
    QTest::newRow("inserted text is not searched again") << "aaa"
                                                         << "a"
                                                         << "aa"
                                                         << "aaaaaa";
    QTest::newRow("occurrences do not overlap") << "aaa"
                                                << "aa"
                                                << "b"
                                                << "ba";
    QTest::newRow("case-sensitive") << "Abc"
                                    << "a"
                                    << "z"
                                    << "Abc";
    QTest::newRow("empty replacement") << "a-b-c"
                                       << "-"
                                       << ""
                                       << "abc";
    QTest::newRow("empty pattern changes nothing") << "xyz"
                                                   << ""
                                                   << "q"
                                                   << "xyz";
    QTest::newRow("empty text") << ""
                                << "a"
                                << "b"
                                << "";
    QTest::newRow("pattern longer than the text") << "ab"
                                                  << "abc"
                                                  << "x"
                                                  << "ab";
  }

  void replaceAll() {
    QFETCH(QString, text);
    QFETCH(QString, pattern);
    QFETCH(QString, replacement);
    QFETCH(QString, expected);
    QCOMPARE(ReplaceAll(text, pattern, replacement), expected);
  }
};

QTEST_GUILESS_MAIN(TestRenameTemplate)
#include "tst_RenameTemplate.moc"
