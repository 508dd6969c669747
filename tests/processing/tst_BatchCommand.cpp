#include <sys/types.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <csignal>

#include "common/TestSupport.h"
#include "imaging/PictureIO.h"

namespace {

QStringList FilesBelow(const QString& folder) {
  QStringList files;
  QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) files << it.next().mid(folder.size() + 1);
  files.sort();
  return files;
}

}  // namespace

// quillomar-batch as a whole program, over real photos.
class TestBatchCommand : public QObject {
  Q_OBJECT

 private:
  QString Program;
  std::unique_ptr<QTemporaryDir> Dir;
  QString App, Src, Out;

  ProcessResult Run(const QStringList& args) {
    return RunProgram(Program, QStringList{QStringLiteral("--appdir"), App} + args);
  }

  // Copies the example photos into src/ (two of them into a sub-folder).
  void PutPhotos(int copies = 1) {
    const QStringList names = {QStringLiteral("Garden.jpg"), QStringLiteral("Storm.jpg"),
                               QStringLiteral("LadyBird.jpg"), QStringLiteral("YellowFlower.jpg")};
    for (int c = 0; c < copies; ++c) {
      for (int i = 0; i < names.size(); ++i) {
        const QString folder = Src + (i < 2 ? QString() : QStringLiteral("sub/"));
        QDir().mkpath(folder);
        const QString name = copies == 1 ? names[i] : QStringLiteral("%1-%2").arg(c).arg(names[i]);
        QVERIFY(QFile::copy(SourceDir() + QStringLiteral("/examples/") + names[i], folder + name));
      }
    }
  }

 private slots:
  void initTestCase() {
    Program = BinaryDir() + QStringLiteral("/src/app/quillomar-batch");
    if (!QFileInfo(Program).isExecutable())
      QFAIL(qPrintable(QStringLiteral("build the quillomar-batch target first: ") + Program));
    if (!CanReadExtension(QStringLiteral(".jpg"))) QSKIP("the JPEG codec is not in this build");
  }

  void init() {
    Dir = std::make_unique<QTemporaryDir>();
    App = Dir->path() + QStringLiteral("/app");
    Src = Dir->path() + QStringLiteral("/src/");
    Out = Dir->path() + QStringLiteral("/out");
    QDir().mkpath(App);
    QDir().mkpath(Out);
  }

  void DefaultJobWritesEveryPictureAndSkipChangesNothing() {
    PutPhotos();
    const ProcessResult first =
        Run({QStringLiteral("--output"), Out, QStringLiteral("--recursive"), Src});
    QVERIFY2(first.ExitCode == 0, first.Err.constData());
    const QStringList written = FilesBelow(Out);
    QCOMPARE(written,
             (QStringList{"Garden.jpg", "Storm.jpg", "sub/LadyBird.jpg", "sub/YellowFlower.jpg"}));
    for (const QString& name : written) {
      QString error;
      const QImage decoded = DecodeWithPillow(Out + QLatin1Char('/') + name, &error);
      QVERIFY2(!decoded.isNull(), qPrintable(error));
      // The default job fits the picture into 640 x 480.
      QVERIFY(decoded.width() <= 640 && decoded.height() <= 480);
    }
    QCOMPARE(ReadAll(App + QStringLiteral("/Log.dat")).count("]Process>"), 4);

    QMap<QString, QPair<QByteArray, QDateTime>> before;
    for (const QString& name : written) {
      const QString path = Out + QLatin1Char('/') + name;
      before[name] = {ReadAll(path), QFileInfo(path).lastModified()};
    }
    QThread::msleep(1100);
    const ProcessResult again = Run({QStringLiteral("--output"), Out, QStringLiteral("--recursive"),
                                     QStringLiteral("--replace"), QStringLiteral("skip"), Src});
    QVERIFY2(again.ExitCode == 0, again.Err.constData());
    QCOMPARE(FilesBelow(Out), written);
    for (const QString& name : written) {
      const QString path = Out + QLatin1Char('/') + name;
      QCOMPARE(ReadAll(path), before[name].first);
      QCOMPARE(QFileInfo(path).lastModified(), before[name].second);
    }
    QCOMPARE(ReadAll(App + QStringLiteral("/Log.dat")).count("]Process>"), 4);
  }

  void RefusalsAndUsageErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing destination")
        << QStringList{"--output", "/nonexistent/quillomar"} << 2
        << "The output folder donot exists, Please create it firstly.";
    QTest::newRow("destination is the source")
        << QStringList{"--output", "SRC"} << 2
        << "Please choose another folder to be different from source folder.";
    QTest::newRow("empty destination")
        << QStringList{"--output", ""} << 2 << "--output needs a folder.";
    QTest::newRow("unknown key") << QStringList{"--set", "NoSuchKey=1"} << 2
                                 << "Unknown settings key: NoSuchKey";
    QTest::newRow("bad number") << QStringList{"--set", "RsWidth=wide"} << 2
                                << "Bad value for RsWidth: wide";
    QTest::newRow("bad replace mode")
        << QStringList{"--replace", "maybe"} << 2 << "Unknown --replace mode";
    QTest::newRow("missing named settings")
        << QStringList{"--settings", "Nope"} << 2 << "Named settings not found: Nope";
  }
  void RefusalsAndUsageErrors() {
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, message);
    PutPhotos();
    args.replaceInStrings(QStringLiteral("SRC"), Src);
    const ProcessResult result = Run(args + QStringList{Src});
    QCOMPARE(result.ExitCode, status);
    QVERIFY2(QString::fromUtf8(result.Err).contains(message), result.Err.constData());
    QCOMPARE(FilesBelow(Out), QStringList());
  }

  void VerboseSettingsFileAndSave() {
    PutPhotos();
    const QString settings = Dir->path() + QStringLiteral("/job.set");
    QFile f(settings);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[setup]\r\nrenamechecked = 1\r\nStartNo=7\r\nOutputFormat=2\r\nMine=kept\r\n");
    f.close();
    const ProcessResult result =
        Run({QStringLiteral("--settings-file"), settings, QStringLiteral("--output"), Out,
             QStringLiteral("--set"), QStringLiteral("ResizeChecked=0"), QStringLiteral("--save"),
             QStringLiteral("--verbose"), Src + QStringLiteral("Garden.jpg"),
             Src + QStringLiteral("Storm.jpg")});
    QVERIFY2(result.ExitCode == 0, result.Err.constData());
    const QString details = QString::fromUtf8(result.Out);
    QVERIFY(details.contains(QStringLiteral("Reading ") + Src + QStringLiteral("Garden.jpg ...")));
    QVERIFY(details.contains(QStringLiteral("File written sucessfully ...")));
    QVERIFY(!details.contains(QStringLiteral("Resizing output file ...")));
    QCOMPARE(FilesBelow(Out).size(), 2);
    for (const QString& name : FilesBelow(Out)) QVERIFY(name.endsWith(QStringLiteral(".png")));
    const QByteArray saved = ReadAll(settings);
    QVERIFY(saved.contains("StartNo=9\r\n"));
    QVERIFY(saved.contains("Mine=kept\r\n"));
  }

  // --replace ask reads the answers from standard input, one per existing file.
  void AskModeReadsAnswers() {
    PutPhotos();
    // Files given one by one keep their order (a folder scan lists in file-system order).
    const QStringList sources = {
        Src + QStringLiteral("Garden.jpg"), Src + QStringLiteral("Storm.jpg"),
        Src + QStringLiteral("sub/LadyBird.jpg"), Src + QStringLiteral("sub/YellowFlower.jpg")};
    QStringList outputs;
    for (const QString& source : sources) {
      outputs << Out + QLatin1Char('/') + QFileInfo(source).fileName();
      QFile f(outputs.last());
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("old");
    }
    QProcess process;
    process.start(Program, QStringList{QStringLiteral("--appdir"), App, QStringLiteral("--output"),
                                       Out, QStringLiteral("--replace"), QStringLiteral("ask")} +
                               sources);
    QVERIFY(process.waitForStarted());
    // Replace, Skip, Rename to a typed name, Cancel.
    process.write("r\ns\nn\n  typed name.jpg  \nc\n");
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 1);  // cancelled
    QVERIFY(ReadAll(outputs[0]) != "old");
    QCOMPARE(ReadAll(outputs[1]), QByteArray("old"));
    QCOMPARE(ReadAll(outputs[2]), QByteArray("old"));
    QVERIFY(!DecodeWithPillow(Out + QStringLiteral("/typed name.jpg")).isNull());
    QCOMPARE(ReadAll(outputs[3]), QByteArray("old"));
    QCOMPARE(
        QString::fromUtf8(process.readAllStandardError()).count(QStringLiteral("Replace file: ")),
        4);
  }

  // Several pictures at once write the same files and say the same lines as one at a time,
  // the text watermark included.
  void JobsChangeNothingButTheSpeed() {
    PutPhotos(2);
    auto runWith = [&](const QString& jobs, QMap<QString, QByteArray>* files, QByteArray* log) {
      QDir(Out).removeRecursively();
      QDir().mkpath(Out);
      QFile::remove(App + QStringLiteral("/Log.dat"));
      const ProcessResult result =
          Run({QStringLiteral("--jobs"), jobs, QStringLiteral("--verbose"),
               QStringLiteral("--output"), Out, QStringLiteral("--recursive"),
               QStringLiteral("--set"), QStringLiteral("WatermarkChecked=1"),
               QStringLiteral("--set"), QStringLiteral("RenameChecked=1"), Src});
      for (const QString& name : FilesBelow(Out)) (*files)[name] = ReadAll(Out + '/' + name);
      *log = ReadAll(App + QStringLiteral("/Log.dat"));
      return result;
    };
    QMap<QString, QByteArray> oneFiles, manyFiles;
    QByteArray oneLog, manyLog;
    const ProcessResult one = runWith(QStringLiteral("1"), &oneFiles, &oneLog);
    QVERIFY2(one.ExitCode == 0, one.Err.constData());
    QCOMPARE(oneFiles.size(), 8);
    const ProcessResult many = runWith(QStringLiteral("3"), &manyFiles, &manyLog);
    QVERIFY2(many.ExitCode == 0, many.Err.constData());
    QCOMPARE(many.Out, one.Out);
    QCOMPARE(manyFiles.keys(), oneFiles.keys());
    for (auto it = oneFiles.cbegin(); it != oneFiles.cend(); ++it)
      QVERIFY2(manyFiles.value(it.key()) == it.value(), qPrintable(it.key()));
    QCOMPARE(QString::fromUtf8(manyLog).remove(QRegularExpression(QStringLiteral("\\[[^]]*\\]"))),
             QString::fromUtf8(oneLog).remove(QRegularExpression(QStringLiteral("\\[[^]]*\\]"))));
  }

  void InfoPrintsTheListRow() {
    const QString photo = SourceDir() + QStringLiteral("/examples/Storm.jpg");
    const ProcessResult result = RunProgram(Program, {QStringLiteral("--info"), photo});
    QCOMPARE(result.ExitCode, 0);
    const QStringList fields = QString::fromUtf8(result.Out).trimmed().split(QLatin1Char('\t'));
    QCOMPARE(fields.size(), 6);
    QCOMPARE(fields[0], photo);
    QCOMPARE(fields[3], QStringLiteral("16 M"));
  }

  // Ctrl+C is the Abort button: the run stops before the next picture, exits with 1, and what
  // it wrote is complete and logged.
  void InterruptStopsBeforeTheNextPicture() {
    PutPhotos(6);
    QProcess process;
    process.start(Program, {QStringLiteral("--appdir"), App, QStringLiteral("--output"), Out,
                            QStringLiteral("--recursive"), QStringLiteral("--set"),
                            QStringLiteral("OutputFormat=2"), Src});
    QVERIFY(process.waitForStarted());
    QElapsedTimer timer;
    timer.start();
    while (FilesBelow(Out).filter(QStringLiteral(".png")).size() < 2 && timer.elapsed() < 60000 &&
           process.state() == QProcess::Running)
      QThread::msleep(5);
    QVERIFY2(process.state() == QProcess::Running, "the run ended before it could be stopped");
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    const QStringList written = FilesBelow(Out);
    QVERIFY(written.size() >= 2 && written.size() < 24);
    QCOMPARE(ReadAll(App + QStringLiteral("/Log.dat")).count("]Process>"), written.size());
  }

  // Killed in the middle of a run, the program leaves only complete pictures under their
  // final names.
  void KilledRunLeavesNoHalfWrittenOutput() {
    PutPhotos(6);
    QProcess process;
    process.start(Program, {QStringLiteral("--appdir"), App, QStringLiteral("--output"), Out,
                            QStringLiteral("--recursive"), QStringLiteral("--set"),
                            QStringLiteral("OutputFormat=2"), QStringLiteral("--set"),
                            QStringLiteral("ResizeChecked=0"), Src});
    QVERIFY(process.waitForStarted());
    QElapsedTimer timer;
    timer.start();
    while (FilesBelow(Out).filter(QStringLiteral(".png")).size() < 3 && timer.elapsed() < 60000 &&
           process.state() == QProcess::Running)
      QThread::msleep(5);
    QVERIFY2(process.state() == QProcess::Running, "the run ended before it could be killed");
    process.kill();
    QVERIFY(process.waitForFinished());
    int complete = 0;
    for (const QString& name : FilesBelow(Out)) {
      if (!name.endsWith(QStringLiteral(".png"))) continue;  // a temporary file, never final
      QString error;
      QVERIFY2(!DecodeWithPillow(Out + QLatin1Char('/') + name, &error).isNull(),
               qPrintable(name + QStringLiteral(": ") + error));
      ++complete;
    }
    QVERIFY(complete >= 3 && complete < 24);
  }
};

QTEST_GUILESS_MAIN(TestBatchCommand)
#include "tst_BatchCommand.moc"
