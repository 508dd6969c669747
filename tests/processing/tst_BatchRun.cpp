#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "common/TestSupport.h"
#include "imaging/PictureIO.h"
#include "processing/BatchHost.h"
#include "processing/BatchRun.h"
#include "processing/ProcessLog.h"
#include "util/Errors.h"

namespace {

// A BatchHost that records what the run shows and answers from scripted values.
class RecordingHost : public BatchHost {
 public:
  JobSettings Job = JobSettings::Defaults(QStringLiteral("/app/"));
  QStringList Events;   // everything, in order
  QStringList Details;  // the details box
  QList<int> Progress;
  QStringList Errors;
  QStringList Asked;             // existing output paths asked about
  QList<ReplaceAnswer> Answers;  // taken in order; Skip when none is left
  bool Abort = false;
  std::function<void(int)> OnPending;  // called with the number of the call, from 1
  int PendingCalls = 0;
  bool AnswerYes = false;
  QString Opened;
  int ShownPictures = 0;

  JobSettings Settings() override { return Job; }
  void SetChoice(JobField field, int index) override {
    Events << QStringLiteral("select:%1=%2").arg(FieldKey(field)).arg(index);
    Job.SetInt(field, index);
  }
  void AdvanceStartNo() override { Job.AdvanceStartNo(); }
  void AddDetailsLine(const QString& line) override {
    Details << line;
    Events << QStringLiteral("line:") + line;
  }
  int DetailsLineCount() override { return static_cast<int>(Details.size()); }
  void ClearDetails() override {
    Details.clear();
    Events << QStringLiteral("clear");
  }
  void RepaintDetails() override { Events << QStringLiteral("repaint"); }
  void SetProgress(int percent) override {
    Progress << percent;
    Events << QStringLiteral("progress:%1").arg(percent);
  }
  void ShowProgress() override { Events << QStringLiteral("show"); }
  void HideProgress() override { Events << QStringLiteral("hide"); }
  void ProcessPendingEvents() override {
    Events << QStringLiteral("pending");
    if (OnPending) OnPending(++PendingCalls);
  }
  bool AbortRequested() override { return Abort; }
  void ClearAbortRequest() override {
    Abort = false;
    Events << QStringLiteral("abort-cleared");
  }
  ReplaceAnswer AskReplace(const ReplaceQuestion& q) override {
    Asked << q.ExistingPath;
    Events << QStringLiteral("replace?") + QFileInfo(q.ExistingPath).fileName();
    if (q.NewName != QFileInfo(q.ExistingPath).fileName() || !q.Working || q.Working->IsNull())
      Events << QStringLiteral("BAD QUESTION");
    return Answers.isEmpty() ? ReplaceAnswer{} : Answers.takeFirst();
  }
  void HideReplace() override { Events << QStringLiteral("hide-replace"); }
  void ShowError(const QString& message) override { Errors << message; }
  bool AskYesNo(const QString& question) override {
    Events << QStringLiteral("ask:") + question;
    return AnswerYes;
  }
  void OpenFolder(const QString& folder) override { Opened = folder; }
  void ShowWorkingPicture(const Picture&) override { ++ShownPictures; }
  void ShowOutputPage() override { Events << QStringLiteral("output-page"); }
  void ShowPictureListPage() override { Events << QStringLiteral("list-page"); }

  bool Saw(const QString& event) const { return Events.contains(event); }
};

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
  f.write(bytes);
}

QString Example(const QString& name) { return SourceDir() + QStringLiteral("/examples/") + name; }

}  // namespace

// The batch run, driven through a recording host over real photos.
class TestBatchRun : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> Dir;
  QString Src, Out;
  RecordingHost Host;
  BatchJob Job;

  // Copies an example photo into the source tree.
  QString Put(const QString& example, const QString& relative) {
    const QString path = Src + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::remove(path);
    if (!QFile::copy(Example(example), path)) qFatal("cannot copy %s", qPrintable(example));
    return path;
  }

  // The three photos of the tree src/{a.jpg, x/y/b.jpg, z/c.jpg}, in scan order.
  QStringList PutTree() {
    return {Put(QStringLiteral("Garden.jpg"), QStringLiteral("a.jpg")),
            Put(QStringLiteral("Storm.jpg"), QStringLiteral("z/c.jpg")),
            Put(QStringLiteral("LadyBird.jpg"), QStringLiteral("x/y/b.jpg"))};
  }

 private slots:
  void initTestCase() {
    if (!CanReadExtension(QStringLiteral(".jpg"))) QSKIP("the JPEG codec is not in this build");
  }

  void init() {
    Dir = std::make_unique<QTemporaryDir>();
    Src = Dir->path() + QStringLiteral("/src/");
    Out = Dir->path() + QStringLiteral("/out/");
    QDir().mkpath(Src);
    QDir().mkpath(Out);
    Host = RecordingHost();
    Host.Job.SetText(JobField::OutputFolder, Out);
    // The resize and watermark steps belong to other parts; keep the picture as read.
    Host.Job.SetOn(JobField::ResizeChecked, false);
    Job = BatchJob();
    Job.SourceFolder = Src;
  }

  void RefusedStarts_data() {
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("sameAsSource");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing folder") << "missing" << false << kNoOutputFolderMessage;
    QTest::newRow("source folder") << "" << true << kSameAsSourceMessage;
  }
  void RefusedStarts() {
    QFETCH(QString, output);
    QFETCH(bool, sameAsSource);
    QFETCH(QString, message);
    Job.Paths = PutTree();
    // Typed without the final separator: the same destination.
    QString folder = sameAsSource ? Src : Dir->path() + QLatin1Char('/') + output;
    if (folder.endsWith(QLatin1Char('/'))) folder.chop(1);
    Host.Job.SetText(JobField::OutputFolder, folder);
    const BatchOutcome outcome = RunBatch(Host, Job);
    QCOMPARE(outcome.How, BatchOutcome::End::Refused);
    QCOMPARE(Host.Errors, QStringList{message});
    QCOMPARE(Host.Events, QStringList{QStringLiteral("output-page")});
    QCOMPARE(QDir(Out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
  }

  void RunMirrorsFoldersAndReportsEachStep() {
    Job.Paths = PutTree();
    const QString dropped = Dir->path() + QStringLiteral("/elsewhere/d.jpg");
    WriteBytes(dropped, ReadAll(Example(QStringLiteral("YellowFlower.jpg"))));
    Job.Paths << dropped;
    ProcessLog log;
    log.SetFileName(Dir->path() + QStringLiteral("/Log.dat"));
    Job.Log = &log;
    Host.Job.SetOn(JobField::ResizeChecked, true);
    Host.Job.SetInt(JobField::Filter, -1);
    Host.AnswerYes = true;

    const BatchOutcome outcome = RunBatch(Host, Job);
    QCOMPARE(outcome.How, BatchOutcome::End::Completed);
    QCOMPARE(outcome.Written, 4);
    const QStringList outputs = {Out + QStringLiteral("a.jpg"), Out + QStringLiteral("z/c.jpg"),
                                 Out + QStringLiteral("x/y/b.jpg"), Out + QStringLiteral("d.jpg")};
    for (const QString& path : outputs) {
      QVERIFY2(QFileInfo(path).isFile(), qPrintable(path));
      QCOMPARE(ReadPicture(path).Params.FileType, int(PictureFileType::Jpeg));
    }
    // The first picture's lines, verbatim and in order.
    const QStringList first = Host.Details.mid(0, 7);
    QCOMPARE(first, (QStringList{QStringLiteral("Reading ") + Job.Paths[0] + QStringLiteral(" ..."),
                                 QStringLiteral("Resizing output file ..."),
                                 QStringLiteral("Picture resized sucessfully ..."),
                                 QStringLiteral("Converting colors ..."),
                                 QStringLiteral("Writing ") + outputs[0] + QStringLiteral(" ..."),
                                 QStringLiteral("File written sucessfully ..."),
                                 QString(49, QLatin1Char('-'))}));
    QCOMPARE(Host.Details.size(), 28);
    QCOMPARE(Host.Progress, (QList<int>{0, 0, 25, 50, 75, 0}));
    QVERIFY(Host.Saw(QStringLiteral("select:Filter=0")));
    QCOMPARE(Host.Events.filter(QStringLiteral("ask:")),
             QStringList{QStringLiteral("ask:Congratulates, the batch process has finished!\r\n"
                                        "Would you like to open output folder? ")});
    // The displays are hidden before the question, the list page shown after it.
    QCOMPARE(Host.Events.mid(Host.Events.size() - 5),
             (QStringList{QStringLiteral("hide-replace"), QStringLiteral("progress:0"),
                          QStringLiteral("hide"), Host.Events[Host.Events.size() - 2],
                          QStringLiteral("list-page")}));
    QCOMPARE(Host.Opened, Out);
    QCOMPARE(log.Entries().size(), std::size_t(4));
    QCOMPARE(log.Entries()[2].Title, QStringLiteral("Process"));
    QCOMPARE(log.Entries()[2].Description, outputs[2]);
  }

  void ProgressArithmetic_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("percent");
    QTest::newRow("1 of 3") << 0 << 3 << 0;
    QTest::newRow("2 of 3") << 1 << 3 << 33;
    QTest::newRow("3 of 3") << 2 << 3 << 66;
    QTest::newRow("22 of 35 is 59, not 60") << 21 << 35 << 59;
    QTest::newRow("7 of 10") << 7 << 10 << 70;
    QTest::newRow("empty list") << 0 << 0 << 0;
  }
  void ProgressArithmetic() {
    QFETCH(int, index);
    QFETCH(int, count);
    QTEST(ProgressPercent(index, count), "percent");
  }

  // The progress shown after each written picture, then 0 at the end.
  void ProgressOfARun_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("after");  // 1-based picture whose progress is checked
    QTest::addColumn<int>("percent");
    QTest::newRow("3 pictures, second") << 3 << 2 << 33;
    QTest::newRow("3 pictures, third") << 3 << 3 << 66;
    QTest::newRow("35 pictures, 22nd") << 35 << 22 << 59;
  }
  void ProgressOfARun() {
    QFETCH(int, count);
    QFETCH(int, after);
    QFETCH(int, percent);
    Picture tiny;
    tiny.Image = MakeTestPicture(8, 8);
    for (int i = 0; i < count; ++i) {
      Job.Paths << Src + QStringLiteral("p%1.png").arg(i);
      WritePicture(tiny, Job.Paths.last());
    }
    Host.Job.SetInt(JobField::OutputFormat, 2);
    RunBatch(Host, Job);
    QCOMPARE(Host.Progress.size(), count + 2);
    QCOMPARE(Host.Progress.first(), 0);
    QCOMPARE(Host.Progress[1], 0);
    QCOMPARE(Host.Progress[after], percent);
    QCOMPARE(Host.Progress.last(), 0);
  }

  // Each output exists already (holding "old") and the answers are given in order.
  void ReplaceAnswers_data() {
    QTest::addColumn<QList<int>>("choices");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("questions");
    QTest::addColumn<QList<bool>>("replaced");
    QTest::addColumn<bool>("completed");
    QTest::newRow("replace each") << QList<int>{1, 1, 1} << "" << 3 << QList<bool>{1, 1, 1} << true;
    QTest::newRow("replace all") << QList<int>{3, 2} << "" << 2 << QList<bool>{0, 1, 1} << true;
    QTest::newRow("skip") << QList<int>{3, 3, 3} << "" << 3 << QList<bool>{0, 0, 0} << true;
    QTest::newRow("cancel") << QList<int>{1, 4} << "" << 2 << QList<bool>{1, 0, 0} << false;
    QTest::newRow("rename with blank name skips")
        << QList<int>{5, 5, 5} << "   " << 3 << QList<bool>{0, 0, 0} << true;
  }
  void ReplaceAnswers() {
    QFETCH(QList<int>, choices);
    QFETCH(QString, typed);
    QFETCH(int, questions);
    QFETCH(QList<bool>, replaced);
    QFETCH(bool, completed);
    Job.Paths = PutTree();
    const QStringList outputs = {Out + QStringLiteral("a.jpg"), Out + QStringLiteral("z/c.jpg"),
                                 Out + QStringLiteral("x/y/b.jpg")};
    for (const QString& path : outputs) WriteBytes(path, "old");
    for (int c : choices) Host.Answers << ReplaceAnswer{ReplaceChoice(c), typed};

    const BatchOutcome outcome = RunBatch(Host, Job);
    QCOMPARE(Host.Asked.size(), questions);
    QVERIFY(!Host.Saw(QStringLiteral("BAD QUESTION")));
    for (int i = 0; i < 3; ++i) QCOMPARE(ReadAll(outputs[i]) != "old", replaced[i]);
    QCOMPARE(outcome.How,
             completed ? BatchOutcome::End::Completed : BatchOutcome::End::Interrupted);
    QCOMPARE(Host.Events.filter(QStringLiteral("ask:")).size(), completed ? 1 : 0);
    // Skipped pictures write no lines and move no progress.
    QCOMPARE(Host.Details.filter(QStringLiteral("Writing ")).size(), int(replaced.count(true)));
    QCOMPARE(Host.Events.last(), completed ? QStringLiteral("list-page") : QStringLiteral("hide"));
  }

  void RenameWritesTheTypedNameInTheSameFolder() {
    Job.Paths = {Put(QStringLiteral("Garden.jpg"), QStringLiteral("x/a.jpg")),
                 Put(QStringLiteral("Storm.jpg"), QStringLiteral("x/b.jpg"))};
    WriteBytes(Out + QStringLiteral("x/a.jpg"), "old");
    WriteBytes(Out + QStringLiteral("x/b.jpg"), "old");
    Host.Answers << ReplaceAnswer{ReplaceChoice::Rename, QStringLiteral("  new.png  ")}
                 << ReplaceAnswer{ReplaceChoice::Rename, QStringLiteral("../../escape.jpg")};
    RunBatch(Host, Job);
    QCOMPARE(ReadAll(Out + QStringLiteral("x/a.jpg")), QByteArray("old"));
    // Written as PNG because of the typed extension, whatever the output format.
    QCOMPARE(ReadPicture(Out + QStringLiteral("x/new.png")).Params.FileType,
             int(PictureFileType::Png));
    // A typed name cannot leave the destination folder.
    QVERIFY(!QFileInfo::exists(Dir->path() + QStringLiteral("/escape.jpg")));
    QVERIFY(QFileInfo(Out + QStringLiteral("x/.._.._escape.jpg")).isFile());
  }

  void AbortIsNoticedBeforeTheNextPicture_data() {
    QTest::addColumn<int>("abortAtPending");
    QTest::addColumn<int>("written");
    QTest::newRow("while the dialog appears") << 1 << 0;
    QTest::newRow("after the first picture") << 2 << 1;
    QTest::newRow("after the last picture") << 4 << 3;
  }
  void AbortIsNoticedBeforeTheNextPicture() {
    QFETCH(int, abortAtPending);
    QFETCH(int, written);
    Job.Paths = PutTree();
    Host.OnPending = [&](int call) {
      if (call == abortAtPending) Host.Abort = true;
    };
    const BatchOutcome outcome = RunBatch(Host, Job);
    QCOMPARE(outcome.Written, written);
    const bool completed = written == 3;
    QCOMPARE(outcome.How,
             completed ? BatchOutcome::End::Completed : BatchOutcome::End::Interrupted);
    // An abort honoured by the run is cleared; one that came too late stays set.
    QCOMPARE(Host.Abort, completed);
    QCOMPARE(Host.Saw(QStringLiteral("abort-cleared")), !completed);
    QCOMPARE(Host.Events.filter(QStringLiteral("ask:")).size(), completed ? 1 : 0);
  }

  void MissingUnsupportedAndUnreadableFiles() {
    const QString unsupported = Src + QStringLiteral("notes.xyz");
    const QString broken = Src + QStringLiteral("broken.jpg");
    WriteBytes(unsupported, "text");
    WriteBytes(broken, "not a jpeg at all");
    const QString good = Put(QStringLiteral("Garden.jpg"), QStringLiteral("good.jpg"));
    Job.Paths = {Src + QStringLiteral("missing.jpg"), unsupported, broken, good};
    const BatchOutcome outcome = RunBatch(Host, Job);
    QCOMPARE(outcome.Failed, 3);
    QCOMPARE(outcome.Written, 1);
    QCOMPARE(Host.Details.mid(0, 6),
             (QStringList{QStringLiteral("Error reading notes.xyz ..."),
                          QStringLiteral(".XYZ files are not supported ..."), kDetailsSeparator,
                          QStringLiteral("Reading ") + broken + QStringLiteral(" ..."),
                          QStringLiteral("Error reading broken.jpg ..."), kDetailsSeparator}));
    QCOMPARE(Host.Progress, (QList<int>{0, 75, 0}));
    QVERIFY(QFileInfo(Out + QStringLiteral("good.jpg")).isFile());
    QVERIFY(!QFileInfo::exists(Out + QStringLiteral("broken.jpg")));
  }

  void FullDetailsBoxIsClearedBeforeAPicture() {
    Job.Paths = {Put(QStringLiteral("Garden.jpg"), QStringLiteral("a.jpg"))};
    for (int i = 0; i < 201; ++i) Host.Details << QStringLiteral("old line");
    RunBatch(Host, Job);
    QVERIFY(Host.Events.indexOf(QStringLiteral("clear")) >= 0);
    QCOMPARE(Host.Details.first(),
             QStringLiteral("Reading ") + Job.Paths[0] + QStringLiteral(" ..."));
  }

  void CounterAdvancesPerRenamedPicture_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::newRow("from 7") << 7 << 10;
    QTest::newRow("stops at the top") << 99998 << 99999;
  }
  void CounterAdvancesPerRenamedPicture() {
    QFETCH(int, start);
    Job.Paths = PutTree();
    // The last picture's output exists and is skipped: it still uses up its number.
    WriteBytes(Out + QStringLiteral("x/y/b.jpg"), "old");
    Host.Job.SetOn(JobField::RenameChecked, true);
    Host.Job.SetInt(JobField::StartNo, start);
    RunBatch(Host, Job);
    QTEST(Host.Job.Int(JobField::StartNo), "end");
  }

  void ExtensionAndItsCase_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("changeCase");
    QTest::addColumn<QString>("expected");
    QTest::newRow("same type keeps .JPG") << 0 << 2 << "G.JPG";
    QTest::newRow("same type lower") << 0 << 1 << "G.jpg";
    QTest::newRow("png upper") << 2 << 0 << "G.PNG";
    QTest::newRow("png unchanged") << 2 << 2 << "G.png";
    QTest::newRow("bmp, no case selected") << 1 << -1 << "G.bmp";
  }
  void ExtensionAndItsCase() {
    QFETCH(int, format);
    QFETCH(int, changeCase);
    QFETCH(QString, expected);
    Job.Paths = {Put(QStringLiteral("Garden.jpg"), QStringLiteral("G.JPG"))};
    Host.Job.SetInt(JobField::OutputFormat, format);
    Host.Job.SetInt(JobField::ChangeCase, changeCase);
    RunBatch(Host, Job);
    QCOMPARE(QDir(Out).entryList(QDir::Files), QStringList{expected});
  }

  void SameTypeWithKeepQualityConvertsNothing() {
    Job.Paths = {Put(QStringLiteral("Garden.jpg"), QStringLiteral("a.jpg"))};
    Host.Job.SetOn(JobField::KeepQuality, true);
    Host.Job.SetInt(JobField::JPEGQuality, -1);  // would fail if the options were applied
    RunBatch(Host, Job);
    QVERIFY(!Host.Details.contains(QStringLiteral("Converting colors ...")));
    QVERIFY(QFileInfo(Out + QStringLiteral("a.jpg")).isFile());
  }

  // An error of the encoder options leaves the run after its clean-up.
  void ErrorLeavesTheRunAfterCleanup() {
    Job.Paths = PutTree();
    Host.Job.SetInt(JobField::JPEGQuality, -1);
    QVERIFY_THROWS_EXCEPTION(QuillomarError, RunBatch(Host, Job));
    QCOMPARE(Host.Events.mid(Host.Events.size() - 3),
             (QStringList{QStringLiteral("hide-replace"), QStringLiteral("progress:0"),
                          QStringLiteral("hide")}));
    QVERIFY(Host.Events.filter(QStringLiteral("ask:")).isEmpty());
    QCOMPARE(QDir(Out).entryList(QDir::Files), QStringList());
  }

  // The image logo is stamped with the job's own position and opacity.
  void ImageLogoIsStampedWithTheJobsOptions() {
    Picture logo;
    logo.Image = QImage(24, 24, QImage::Format_BGR888);
    logo.Image.fill(QColor(255, 0, 0));
    const QString logoPath = Dir->path() + QStringLiteral("/logo.png");
    WritePicture(logo, logoPath);
    Job.Paths = {Put(QStringLiteral("Garden.jpg"), QStringLiteral("a.jpg"))};
    Host.Job.SetInt(JobField::OutputFormat, 2);
    Host.Job.SetOn(JobField::WatermarkChecked, true);
    Host.Job.SetInt(JobField::WmType, 1);
    Host.Job.SetText(JobField::WmImage, logoPath);
    Host.Job.SetInt(JobField::WmTrans, 100);
    Host.Job.SetInt(JobField::WmPosit, 1);
    RunBatch(Host, Job);
    QVERIFY(Host.Details.contains(QStringLiteral("add watermark to output file ...")));
    QVERIFY(Host.Details.contains(QStringLiteral("watermark adding sucessfully ...")));
    const QImage out = ReadPicture(Out + QStringLiteral("a.png")).Image;
    const QImage source = ReadPicture(Job.Paths[0]).Image;
    int red = 0;
    for (int y = 0; y < out.height() / 2; ++y)
      for (int x = 0; x < out.width() / 2; ++x) red += out.pixelColor(x, y) == QColor(255, 0, 0);
    QCOMPARE(red, 24 * 24);
    // Away from the logo the picture is the source's.
    QCOMPARE(out.pixelColor(out.width() - 1, out.height() - 1),
             source.pixelColor(source.width() - 1, source.height() - 1));
  }

  // Working on several pictures at once changes nothing the run says or writes: the same
  // lines, questions, progress and counter, the same files byte for byte, the same log.
  void SameRunWhateverTheNumberOfJobs() {
    struct Record {
      QStringList Events;
      QMap<QString, QByteArray> Files;
      QStringList Log;
      int Shown = 0;
      int Written = 0, Failed = 0, Skipped = 0;
    };
    const QString logo = Dir->path() + QStringLiteral("/logo.png");
    Picture red;
    red.Image = QImage(24, 24, QImage::Format_BGR888);
    red.Image.fill(QColor(255, 0, 0));
    WritePicture(red, logo);

    auto runWith = [&](int jobs) {
      // The same tree, destination and answers for each run.
      QDir(Src).removeRecursively();
      QDir(Out).removeRecursively();
      QDir().mkpath(Out);
      QStringList paths = PutTree();
      paths << Put(QStringLiteral("YellowFlower.jpg"), QStringLiteral("x/d.jpg"));
      paths.insert(1, Src + QStringLiteral("missing.jpg"));
      WriteBytes(Src + QStringLiteral("broken.jpg"), "not a jpeg at all");
      paths.insert(3, Src + QStringLiteral("broken.jpg"));
      WriteBytes(Src + QStringLiteral("notes.xyz"), "text");
      paths.insert(4, Src + QStringLiteral("notes.xyz"));
      Picture tiny;
      tiny.Image = MakeTestPicture(40, 30);
      WritePicture(tiny, Src + QStringLiteral("drawing.png"));
      // A PNG under a JPEG name.
      QFile::copy(Src + QStringLiteral("drawing.png"), Src + QStringLiteral("drawing.jpg"));
      paths << Src + QStringLiteral("drawing.png") << Src + QStringLiteral("drawing.jpg");
      // Two of the renamed outputs exist already: one is replaced, one renamed by the answer.
      WriteBytes(Out + QStringLiteral("x/y/pic_0003.gif"), "old");
      WriteBytes(Out + QStringLiteral("x/pic_0004.gif"), "old");

      Host = RecordingHost();
      Host.Job.SetText(JobField::OutputFolder, Out);
      Host.Job.SetOn(JobField::ResizeChecked, true);
      Host.Job.SetInt(JobField::RsWidth, 200);
      Host.Job.SetInt(JobField::RsHeight, 150);
      Host.Job.SetInt(JobField::Filter, 5);
      Host.Job.SetOn(JobField::RenameChecked, true);
      Host.Job.SetText(JobField::RnMask, QStringLiteral("pic_####"));
      Host.Job.SetInt(JobField::StartNo, 1);
      Host.Job.SetInt(JobField::OutputFormat, 4);  // GIF: the colours are reduced
      Host.Job.SetInt(JobField::GIFColor, 5);
      Host.Job.SetOn(JobField::WatermarkChecked, true);
      Host.Job.SetInt(JobField::WmType, 1);
      Host.Job.SetText(JobField::WmImage, logo);
      Host.Answers << ReplaceAnswer{ReplaceChoice::Replace, {}}
                   << ReplaceAnswer{ReplaceChoice::Rename, QStringLiteral("typed.png")};
      ProcessLog log;
      log.SetFileName(Dir->path() + QStringLiteral("/Log-%1.dat").arg(jobs));
      Job = BatchJob();
      Job.SourceFolder = Src;
      Job.Paths = paths;
      Job.Log = &log;
      Job.Jobs = jobs;
      const BatchOutcome outcome = RunBatch(Host, Job);

      Record r;
      r.Events = Host.Events;
      QDirIterator it(Out, QDir::Files, QDirIterator::Subdirectories);
      while (it.hasNext()) {
        const QString path = it.next();
        r.Files[path] = ReadAll(path);
      }
      for (const ProcessLogEntry& e : log.Entries())
        r.Log << e.Title + QLatin1Char('>') + e.Description;
      r.Shown = Host.ShownPictures;
      r.Written = outcome.Written;
      r.Failed = outcome.Failed;
      r.Skipped = outcome.Skipped;
      return r;
    };

    const Record one = runWith(1);
    QCOMPARE(one.Written, 6);
    QCOMPARE(one.Failed, 3);
    QCOMPARE(one.Files.size(), 7);
    QCOMPARE(one.Files.value(Out + QStringLiteral("x/pic_0004.gif")), QByteArray("old"));
    QVERIFY(one.Files.contains(Out + QStringLiteral("x/typed.png")));
    QCOMPARE(Host.Asked.size(), 2);
    for (const int jobs : {2, 4}) {
      const Record many = runWith(jobs);
      QCOMPARE(many.Events, one.Events);
      QCOMPARE(many.Files.keys(), one.Files.keys());
      for (auto it = one.Files.cbegin(); it != one.Files.cend(); ++it)
        QVERIFY2(many.Files.value(it.key()) == it.value(), qPrintable(it.key()));
      QCOMPARE(many.Log, one.Log);
      QCOMPARE(many.Shown, one.Shown);
      QCOMPARE(many.Written, one.Written);
      QCOMPARE(many.Failed, one.Failed);
      QCOMPARE(many.Skipped, one.Skipped);
    }
  }

  void KeepDateTimeCopiesTheSourceTime() {
    const QString source = Put(QStringLiteral("Garden.jpg"), QStringLiteral("a.jpg"));
    {
      QFile f(source);
      QVERIFY(f.open(QIODevice::Append));
      QVERIFY(f.setFileTime(QDateTime(QDate(2020, 1, 2), QTime(14, 3, 27)),
                            QFileDevice::FileModificationTime));
    }
    Job.Paths = {source};
    RunBatch(Host, Job);
    QCOMPARE(QFileInfo(Out + QStringLiteral("a.jpg")).lastModified(),
             QDateTime(QDate(2020, 1, 2), QTime(14, 3, 26)));
  }
};

QTEST_GUILESS_MAIN(TestBatchRun)
#include "tst_BatchRun.moc"
