#include "processing/BatchRun.h"

#include <QDateTime>
#include <QFileInfo>
#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <exception>
#include <future>
#include <memory>
#include <vector>

#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"
#include "imaging/Resample.h"
#include "processing/BatchHost.h"
#include "processing/FileOperations.h"
#include "processing/OutputFormats.h"
#include "processing/PictureSteps.h"
#include "processing/PictureWork.h"
#include "processing/ProcessLog.h"
#include "transforms/RenameTemplate.h"
#include "util/PathText.h"

const QString kNoOutputFolderMessage =
    QStringLiteral("The output folder donot exists, Please create it firstly.");
const QString kSameAsSourceMessage =
    QStringLiteral("Please choose another folder to be different from source folder.");
const QString kRunFinishedQuestion = QStringLiteral(
    "Congratulates, the batch process has finished!\r\n"
    "Would you like to open output folder? ");
const QString kDetailsSeparator = QString(49, QLatin1Char('-'));

namespace {

constexpr int kMaxDetailsLines = 200;

// The sub-folder of the picture below the source folder ("" or "x/y/"), so that outputs mirror
// a scanned tree. A relative part that would climb out of the output folder ("." or ".."
// components of an unusual source path) is not mirrored.
QString RelativeSubfolder(const QString& sourceFolder, const QString& path) {
  if (sourceFolder.isEmpty() || !QFileInfo(sourceFolder).isDir()) return {};
  const QString folder = FolderOf(path);
  if (!folder.startsWith(sourceFolder)) return {};
  const QString relative = folder.mid(sourceFolder.size());
  for (const QString& part : relative.split(PathSeparator(), Qt::SkipEmptyParts))
    if (part == QStringLiteral(".") || part == QStringLiteral("..")) return {};
  return relative;
}

// Hides the run's displays however the run ends, once the run has shown them.
class EndCleanup {
 public:
  explicit EndCleanup(BatchHost& host) : Host(host) {}
  ~EndCleanup() {
    try {
      Run();
    } catch (...) {
    }
  }
  void Arm() { Armed = true; }
  void Run() {
    if (!Armed) return;
    Armed = false;
    Host.HideReplace();
    Host.SetProgress(0);
    Host.HideProgress();
  }

 private:
  BatchHost& Host;
  bool Armed = false;
};

}  // namespace

int ProgressPercent(int index, int count) {
  if (count <= 0) return 0;
  // Each quotient is rounded to 64 significant bits before it is used: 35 pictures give 59
  // (not 60) after the 22nd.
  volatile long double step = 100.0L / count;
  volatile long double value = step * index;
  return static_cast<int>(value);
}

namespace {

// One run: the coordinating loop over the list, in list order. The picture work of each
// picture (PictureWork.h) may be done ahead on worker threads; everything that commits (the
// details lines, names, the counter, questions, writing, file times, progress and the log)
// happens here, in list order, so that a run says and writes the same whatever the number of
// pictures worked on at once.
class BatchRunner {
 public:
  BatchRunner(BatchHost& host, const BatchJob& job) : Host(host), Job(job), Cleanup(host) {}
  ~BatchRunner();

  BatchOutcome Run();

 private:
  enum class Next { Continue, Stop };
  enum class Confirmed { Write, Skip, Cancel };

  // The picture work of one list entry and the signal of its end.
  struct Slot {
    PictureWork Work;
    std::promise<void> Finished;
    std::future<void> Done;
  };

  bool StartAllowed();
  Next ProcessPicture(int index);
  // Steps before the picture is read: the file time, the details box, the readable extension.
  bool Readable(const QString& path);
  // A work order for the entry, with the options as they are now.
  std::shared_ptr<Slot> NewSlot(int index);
  // Hands the entries from the next undispatched one up to index + the window to the workers.
  void DispatchAhead(int index);
  // The entry's work, waited for or done here; at least loaded unless the file is unreadable.
  PictureWork& WorkFor(int index);
  void ShowLines(const QList<DetailsLine>& lines);
  // The output path that OutputPathFor proposes for an entry, as a worker may know it ahead:
  // empty when renaming (the counter is known only at the commit).
  std::function<QString(int)> ProposedPathFunction(const QString& path,
                                                   const JobSettings& settings);
  // The sub-folder, the new name, the counter, the extension and its case.
  QString OutputPathFor(const QString& path, const QString& relative, int sourceType);
  // Asks about an existing output file; may change outputPath (Rename).
  Confirmed ConfirmReplace(const QString& path, const QString& relative, const Picture& picture,
                           QString* outputPath);
  // Writes the picture: the worker's bytes when the path is the one proposed, otherwise
  // encoded here for the path.
  void Write(const PictureWork& work, const QString& outputPath, const QString& proposedPath);

  BatchHost& Host;
  const BatchJob& Job;
  EndCleanup Cleanup;
  BatchOutcome Outcome;
  QString OutputFolder;
  QString OutputExtension0;
  int TargetType = 0;
  std::atomic<bool> ReplaceAllChosen{false};
  QDateTime FileTime;

  int Jobs = 1;
  int Window = 0;  // entries worked on ahead of the one being committed, itself included
  int NextToDispatch = 0;
  std::atomic<bool> Cancelled{false};
  // By list index; empty once committed. A worker holds its own reference, so a slot outlives
  // both the worker's last step and the commit, whichever ends last.
  std::vector<std::shared_ptr<Slot>> Slots;
  QThreadPool Pool;
};

BatchRunner::~BatchRunner() {
  // The workers stop at their next step; their slots live until they have.
  Cancelled = true;
  Pool.waitForDone();
}

bool BatchRunner::StartAllowed() {
  OutputFolder = WithTrailingBackslash(Host.Settings().Text(JobField::OutputFolder));
  const QString* refusal = nullptr;
  if (!QFileInfo(OutputFolder).isDir())
    refusal = &kNoOutputFolderMessage;
  else if (Job.SourceFolder == OutputFolder)
    refusal = &kSameAsSourceMessage;
  if (!refusal) return true;
  Host.ShowError(*refusal);
  Host.ShowOutputPage();
  return false;
}

BatchOutcome BatchRunner::Run() {
  if (!StartAllowed()) return Outcome;

  FileTime = QDateTime::currentDateTime();
  const int count = static_cast<int>(Job.Paths.size());
  if (Host.Settings().Int(JobField::Filter) < 0) Host.SetChoice(JobField::Filter, 0);

  Cleanup.Arm();
  Host.SetProgress(0);
  Host.ShowProgress();
  Host.ProcessPendingEvents();

  const int formatIndex = Host.Settings().Int(JobField::OutputFormat);
  OutputExtension0 = OutputExtension(formatIndex);
  TargetType = OutputFileType(formatIndex);

  Jobs = Job.Jobs > 0 ? Job.Jobs : std::max(1, QThread::idealThreadCount());
  Slots.resize(static_cast<std::size_t>(count));
  if (Jobs > 1) {
    // One more than the workers, so that a worker never waits for the commit of the picture
    // before; the finished pictures waiting for their turn stay few.
    Window = Jobs + 1;
    Pool.setMaxThreadCount(Jobs);
  }

  for (int i = 0; i < count; ++i) {
    if (Host.AbortRequested()) {
      Host.ClearAbortRequest();
      Outcome.How = BatchOutcome::End::Interrupted;
      return Outcome;
    }
    const Next next = ProcessPicture(i);
    Slots[static_cast<std::size_t>(i)].reset();
    if (next == Next::Stop) {
      Outcome.How = BatchOutcome::End::Interrupted;
      return Outcome;
    }
  }

  Outcome.How = BatchOutcome::End::Completed;
  // The completion question comes after the displays are hidden.
  Cleanup.Run();
  if (Host.AskYesNo(kRunFinishedQuestion)) Host.OpenFolder(OutputFolder);
  Host.ShowPictureListPage();
  return Outcome;
}

std::shared_ptr<BatchRunner::Slot> BatchRunner::NewSlot(int index) {
  auto slot = std::make_shared<Slot>();
  PictureWork& work = slot->Work;
  work.Path = Job.Paths[index];
  work.Settings = Host.Settings();
  work.TargetType = TargetType;
  work.OutputExtension = OutputExtension0;
  work.ProposedPathFor = ProposedPathFunction(work.Path, work.Settings);
  work.ReplaceAllChosen = &ReplaceAllChosen;
  work.Cancelled = &Cancelled;
  slot->Done = slot->Finished.get_future();
  return slot;
}

void BatchRunner::DispatchAhead(int index) {
  const int end = std::min(static_cast<int>(Job.Paths.size()), index + Window);
  for (; NextToDispatch < end; ++NextToDispatch) {
    const QString& path = Job.Paths[NextToDispatch];
    // Entries that the commit turns away without reading need no work.
    if (!QFileInfo(path).isFile() || !CanReadExtension(path)) continue;
    std::shared_ptr<Slot> s = NewSlot(NextToDispatch);
    Slots[static_cast<std::size_t>(NextToDispatch)] = s;
    Pool.start([s] {
      // Pictures are worked on side by side already: each resamples on its own thread.
      SetResampleThreadsForThisThread(1);
      DoPictureWork(s->Work);
      s->Finished.set_value();
    });
  }
}

PictureWork& BatchRunner::WorkFor(int index) {
  std::shared_ptr<Slot>& slot = Slots[static_cast<std::size_t>(index)];
  if (slot) {
    slot->Done.wait();
  } else {
    slot = NewSlot(index);
    DoPictureWork(slot->Work);
  }
  PictureWork& work = slot->Work;
  // Work dropped on the way (cancelled, or short of memory on the worker) is done again here.
  if (work.Out.Reached == PictureWork::Stage::NotStarted) LoadPictureWork(work);
  return work;
}

void BatchRunner::ShowLines(const QList<DetailsLine>& lines) {
  for (const DetailsLine& line : lines) {
    Host.AddDetailsLine(line.Text);
    if (line.Repaint) Host.RepaintDetails();
  }
}

BatchRunner::Next BatchRunner::ProcessPicture(int index) {
  if (Jobs > 1) DispatchAhead(index);
  const QString& path = Job.Paths[index];
  if (!QFileInfo(path).isFile()) {
    ++Outcome.Failed;
    return Next::Continue;
  }
  if (!Readable(path)) {
    ++Outcome.Failed;
    return Next::Continue;
  }
  PictureWork& work = WorkFor(index);
  ShowLines(work.Out.LoadLines);
  if (work.Out.Reached == PictureWork::Stage::Unreadable) {
    ++Outcome.Failed;
    return Next::Continue;
  }
  if (work.Out.LoadError) std::rethrow_exception(work.Out.LoadError);
  Host.ShowWorkingPicture(work.Out.Working);
  const int sourceType = work.Out.SourceType;

  const QString relative = RelativeSubfolder(Job.SourceFolder, path);
  if (!QFileInfo(OutputFolder + relative).isDir()) CreateFolderPath(OutputFolder, relative);
  QString outputPath = OutputPathFor(path, relative, sourceType);
  // A file that keeps the source's own extension is written in the output format even when
  // that extension names another one (a PNG file named ".jpg" stays PNG); a name typed in the
  // replace question chooses its format by its extension.
  const QString proposedPath = outputPath;
  if (!ReplaceAllChosen && QFileInfo(outputPath).isFile()) {
    // The question shows the picture as read and prepared; a worker that went on without
    // expecting the question has moved past that, so it is read again for the question.
    Picture asRead;
    const Picture* shown = &work.Out.Working;
    if (work.Out.Reached == PictureWork::Stage::Finished) {
      try {
        asRead = ReadWorkingPicture(path, work.Settings, nullptr);
        PrepareWorkingPicture(asRead, work.Settings);
        shown = &asRead;
      } catch (const std::exception&) {
        // Gone or changed since: the question shows the picture in hand.
      }
    }
    switch (ConfirmReplace(path, relative, *shown, &outputPath)) {
      case Confirmed::Write:
        break;
      case Confirmed::Skip:
        ++Outcome.Skipped;
        return Next::Continue;
      case Confirmed::Cancel:
        return Next::Stop;
    }
  }

  if (work.Out.Reached == PictureWork::Stage::Loaded) FinishPictureWork(work);
  ShowLines(work.Out.WorkLines);
  if (work.Out.WorkError) std::rethrow_exception(work.Out.WorkError);
  if (work.Out.ColorsChanged) Host.ShowWorkingPicture(work.Out.Working);
  Write(work, outputPath, proposedPath);

  Host.AddDetailsLine(kDetailsSeparator);
  Host.RepaintDetails();
  Host.ProcessPendingEvents();
  Host.SetProgress(ProgressPercent(index, static_cast<int>(Job.Paths.size())));
  return Next::Continue;
}

bool BatchRunner::Readable(const QString& path) {
  if (Host.Settings().On(JobField::KeepDateTime)) FileTime = ReadFileTime(path, kCreationTime);
  if (Host.DetailsLineCount() > kMaxDetailsLines) Host.ClearDetails();
  if (CanReadExtension(path)) return true;
  Host.AddDetailsLine(QStringLiteral("Error reading ") + FileNameOf(path) + QStringLiteral(" ..."));
  Host.AddDetailsLine(ExtensionOf(path).toUpper() + QStringLiteral(" files are not supported ..."));
  Host.AddDetailsLine(kDetailsSeparator);
  Host.RepaintDetails();
  return false;
}

// The output file name for a source: name with the source's own extension when the output
// keeps the source's format, otherwise the output format's, in the letter case "ChangeCase"
// asks for. The name cannot lead out of the destination folder.
QString OutputFileName(const QString& name, const QString& path, int sourceType, int targetType,
                       const QString& outputExtension, int changeCase) {
  QString extension = sourceType == targetType ? ExtensionOf(path) : outputExtension;
  if (changeCase == 0) extension = extension.toUpper();
  if (changeCase == 1) extension = extension.toLower();
  return SafeFileName(ChangeExtension(name, extension));
}

std::function<QString(int)> BatchRunner::ProposedPathFunction(const QString& path,
                                                              const JobSettings& settings) {
  if (settings.On(JobField::RenameChecked)) return {};
  const QString folder = OutputFolder + RelativeSubfolder(Job.SourceFolder, path);
  return [folder, path, target = TargetType, extension = OutputExtension0,
          changeCase = settings.Int(JobField::ChangeCase)](int sourceType) {
    return folder +
           OutputFileName(FileNameOf(path), path, sourceType, target, extension, changeCase);
  };
}

QString BatchRunner::OutputPathFor(const QString& path, const QString& relative, int sourceType) {
  QString name = FileNameOf(path);
  const JobSettings settings = Host.Settings();
  if (settings.On(JobField::RenameChecked)) {
    name = MakeNewName(settings.Text(JobField::RnMask), name, settings.Int(JobField::StartNo));
    Host.AdvanceStartNo();
  }
  return OutputFolder + relative +
         OutputFileName(name, path, sourceType, TargetType, OutputExtension0,
                        settings.Int(JobField::ChangeCase));
}

BatchRunner::Confirmed BatchRunner::ConfirmReplace(const QString& path, const QString& relative,
                                                   const Picture& picture, QString* outputPath) {
  const ReplaceAnswer answer =
      Host.AskReplace({*outputPath, &picture, path, FileNameOf(*outputPath)});
  switch (answer.Choice) {
    case ReplaceChoice::Replace:
      return Confirmed::Write;
    case ReplaceChoice::ReplaceAll:
      ReplaceAllChosen = true;
      return Confirmed::Write;
    case ReplaceChoice::Cancel:
      return Confirmed::Cancel;
    case ReplaceChoice::Rename: {
      // The typed name is used as typed (extension included) but cannot leave the folder; a
      // cleared name names no file, so the picture is skipped.
      const QString typed = answer.NewName.trimmed();
      if (typed.isEmpty()) return Confirmed::Skip;
      *outputPath = OutputFolder + relative + SafeFileName(typed);
      return Confirmed::Write;
    }
    case ReplaceChoice::Skip:
      break;
  }
  return Confirmed::Skip;
}

void BatchRunner::Write(const PictureWork& work, const QString& outputPath,
                        const QString& proposedPath) {
  Host.AddDetailsLine(QStringLiteral("Writing ") + outputPath + QStringLiteral(" ..."));
  // Through a temporary file beside the target: a failed write leaves an existing file as it
  // was. Errors of the writer leave the run; an encoding that failed on the worker is done
  // again here, for the error text of this path.
  if (outputPath == proposedPath && !work.Out.Encoded.isEmpty())
    WriteEncodedPicture(work.Out.Encoded, outputPath);
  else
    WriteOutputPicture(work.Out.Working, outputPath,
                       outputPath == proposedPath ? work.EncoderFileType() : 0);
  if (!QFileInfo(outputPath).isFile()) {
    Host.AddDetailsLine(QStringLiteral("Error writing file ..."));
    ++Outcome.Failed;
    return;
  }
  if (Host.Settings().On(JobField::KeepDateTime)) {
    WriteFileTime(outputPath, kCreationTime, FileTime);
    WriteFileTime(outputPath, kLastWriteTime, FileTime);
  }
  Host.AddDetailsLine(QStringLiteral("File written sucessfully ..."));
  ++Outcome.Written;
  if (!Job.Log) return;
  try {
    Job.Log->Add(LogTimeText(), QStringLiteral("Process"), outputPath);
  } catch (...) {
    // A log that cannot be written does not stop the run.
  }
}

}  // namespace

BatchOutcome RunBatch(BatchHost& host, const BatchJob& job) {
  BatchRunner runner(host, job);
  return runner.Run();
}
