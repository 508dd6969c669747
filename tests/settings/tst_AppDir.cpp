#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "util/AppDir.h"
#include "util/PathText.h"

// Where the program keeps its data folder.
class TestAppDir : public QObject {
  Q_OBJECT

 private slots:
  void init() { qunsetenv("QUILLOMAR_APPDIR"); }

  void ExplicitFolderWinsAndIsCreated() {
    QTemporaryDir dir;
    qputenv("QUILLOMAR_APPDIR", QFile::encodeName(dir.filePath(QStringLiteral("env"))));
    const QString explicitDir = dir.filePath(QStringLiteral("given/app"));
    QCOMPARE(ResolveAppDir(explicitDir), WithTrailingBackslash(explicitDir));
    QVERIFY(QFileInfo(explicitDir).isDir());
  }

  void EnvironmentComesNext() {
    QTemporaryDir dir;
    const QString fromEnvironment = dir.filePath(QStringLiteral("env"));
    qputenv("QUILLOMAR_APPDIR", QFile::encodeName(fromEnvironment));
    QCOMPARE(ResolveAppDir(), WithTrailingBackslash(fromEnvironment));
  }

  // The test program's folder holds no Data/, so the per-user folder is used and created.
  void PerUserFolderOtherwise() {
    QTemporaryDir dir;
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path()));
    const QString resolved = ResolveAppDir();
    qputenv("XDG_DATA_HOME", oldData);
    QCOMPARE(resolved, WithTrailingBackslash(dir.filePath(QStringLiteral("Quillomar"))));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("Quillomar/Data"))).isDir());
  }
};

QTEST_GUILESS_MAIN(TestAppDir)
#include "tst_AppDir.moc"
