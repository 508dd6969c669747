#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "common/TestSupport.h"
#include "imaging/PictureIO.h"
#include "pictures/PictureListModel.h"
#include "pictures/PictureSources.h"
#include "util/uFunction.h"

// The picture list model, the folder scan and what AddPictures accepts.
class TestPictureSources : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir Dir;

  QString Touch(const QString& relative, const QByteArray& bytes = "x") {
    const QString path = Dir.path() + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write fixture");
    f.write(bytes);
    return path;
  }

  QString Example(const QString& name) { return SourceDir() + QStringLiteral("/examples/") + name; }

 private slots:
  void initTestCase() {
    Touch(QStringLiteral("scan/a.jpg"));
    Touch(QStringLiteral("scan/B.JPG"));
    Touch(QStringLiteral("scan/f.jpeg"));
    Touch(QStringLiteral("scan/noext"));
    Touch(QStringLiteral("scan/z.txt"));
    Touch(QStringLiteral("scan/sub1/b.jpg"));
    Touch(QStringLiteral("scan/sub1/deep/c.jpg"));
    Touch(QStringLiteral("scan/sub2/d.Jpg"));
    Touch(QStringLiteral("scan/.hidden/e.jpg"));
  }

  void ScanFilters_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("subfolders");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("all files, root only")
        << "*.*" << false << QStringList{"a.jpg", "B.JPG", "f.jpeg", "noext", "z.txt"};
    QTest::newRow("jpg in any case, not jpeg") << "*.JPG" << false << QStringList{"a.jpg", "B.JPG"};
    QTest::newRow("with sub-folders, not the dot folder")
        << "*.jpg" << true
        << QStringList{"a.jpg", "B.JPG", "sub1/b.jpg", "sub2/d.Jpg", "sub1/deep/c.jpg"};
    QTest::newRow("letters before the asterisk") << "a*.jpg" << false << QStringList{};
    QTest::newRow("empty filter: files without extension") << "" << false << QStringList{"noext"};
  }
  void ScanFilters() {
    QFETCH(QString, filter);
    QFETCH(bool, subfolders);
    QFETCH(QStringList, expected);
    const QString root = Dir.path() + QStringLiteral("/scan/");
    const QStringList found = ScanFolder(root, filter, subfolders);
    QStringList relative;
    for (const QString& path : found) {
      QVERIFY(path.startsWith(root));
      relative << path.mid(root.size());
    }
    QStringList sortedFound = relative, sortedExpected = expected;
    sortedFound.sort();
    sortedExpected.sort();
    QCOMPARE(sortedFound, sortedExpected);
    // Breadth-first: every file of a shallower folder comes before any of a deeper one.
    for (int i = 1; i < relative.size(); ++i)
      QVERIFY2(relative[i - 1].count(QLatin1Char('/')) <= relative[i].count(QLatin1Char('/')),
               qPrintable(relative.join(QLatin1Char(' '))));
  }

  void ScanOfMissingFolderFindsNothing() {
    QVERIFY(
        ScanFolder(Dir.path() + QStringLiteral("/nowhere"), QStringLiteral("*.*"), true).isEmpty());
  }

  void AddPicturesAcceptsOnlyNewReadableFiles() {
    const QString fake = Touch(QStringLiteral("add/not-a-picture.jpg"), "plain text");
    const QString unknown = Touch(QStringLiteral("add/notes.xyz"));
    const QString garden = Example(QStringLiteral("Garden.jpg"));
    PictureListModel list;
    QStringList labels;
    QList<int> percents;
    AddPicturesHooks hooks;
    hooks.Progress = [&](int percent, const QString& label) {
      percents << percent;
      labels << label;
    };
    const int added = AddPictures(list,
                                  {garden, Dir.path() + QStringLiteral("/add"), unknown, garden,
                                   fake, Dir.path() + QStringLiteral("/missing.jpg")},
                                  hooks);
    QCOMPARE(added, 2);
    QCOMPARE(list.Paths(), (QStringList{garden, fake}));
    QCOMPARE(labels.first(), QStringLiteral("Loading pictures. Please wait..."));
    QCOMPARE(labels.last(), QStringLiteral("Loading pictures. Please wait... [5 / 6]"));
    QCOMPARE(percents, (QList<int>{0, 0, 66}));

    // A path differing only in letter case is another row.
    QVERIFY(list.IsInList(garden));
    QVERIFY(!list.IsInList(garden.toUpper()));

    // The text file is listed with what the reader reports: nothing.
    QCOMPARE(list.Entry(1).Text(PictureEntry::Dimensions), QStringLiteral("0 x 0"));
    QCOMPARE(list.Entry(1).Text(PictureEntry::Colors), QStringLiteral("Unknown"));
    QCOMPARE(list.Entry(1).Text(PictureEntry::FileSize), QStringLiteral("0.0k"));
  }

  void AbortKeepsRowsAddedSoFar() {
    PictureListModel list;
    AddPicturesHooks hooks;
    int asked = 0;
    hooks.AbortRequested = [&] { return ++asked > 2; };
    AddPictures(list,
                {Example(QStringLiteral("Garden.jpg")), Example(QStringLiteral("Storm.jpg")),
                 Example(QStringLiteral("LadyBird.jpg"))},
                hooks);
    QCOMPARE(list.Count(), 2);
  }

  void RowTextsOfAJpeg() {
    const QString path = Example(QStringLiteral("Storm.jpg"));
    const HeaderFacts facts = ReadHeaderFacts(path);
    if (facts.FileType == 0) QSKIP("the JPEG reader is not in this build");
    PictureListModel list;
    list.AddPictureRow(path, facts);
    QCOMPARE(list.columnCount(), 6);
    QCOMPARE(list.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Dimensions(px)"));
    const auto text = [&](int column) { return list.data(list.index(0, column)).toString(); };
    QCOMPARE(text(0), path);
    QVERIFY(!text(1).isEmpty());
    QCOMPARE(text(2), QStringLiteral("%1 x %2").arg(facts.Width).arg(facts.Height));
    QCOMPARE(text(3), QStringLiteral("16 M"));
    QCOMPARE(text(4), FileSizeText(QFileInfo(path).size()));
    QCOMPARE(text(5), QString::number(facts.DpiX));
    QVERIFY(list.data(list.index(0, 2), Qt::TextAlignmentRole).value<Qt::Alignment>() &
            Qt::AlignRight);
  }

  void RemoveRowsKeepsOrder() {
    PictureListModel list;
    for (int i = 0; i < 5; ++i) list.AddPictureRow(QStringLiteral("/p/%1.jpg").arg(i), {});
    QVERIFY(list.removeRows(3, 1));
    QVERIFY(list.removeRows(1, 1));
    QVERIFY(list.removeRows(0, 1));
    QCOMPARE(list.Paths(), (QStringList{"/p/2.jpg", "/p/4.jpg"}));
    list.Clear();
    QCOMPARE(list.rowCount(), 0);
  }
};

QTEST_GUILESS_MAIN(TestPictureSources)
#include "tst_PictureSources.moc"
