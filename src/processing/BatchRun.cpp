#include "processing/BatchRun.h"

#include <QDateTime>
#include <QFileInfo>
#include <exception>

#include "imaging/PictureError.h"
#include "imaging/PictureIO.h"
#include "processing/BatchHost.h"
#include "processing/FileOperations.h"
#include "processing/OutputFormats.h"
#include "processing/PictureSteps.h"
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

QString FileNameOf(const QString& path) {
  const qsizetype sep =
      std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(PathSeparator()));
  return path.mid(sep + 1);
}

// The folder part of a path, with its final separator.
QString FolderOf(const QString& path) {
  const qsizetype sep =
      std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(PathSeparator()));
  return path.left(sep + 1);
}

// The extension of a path with its dot, in its own letter case; empty when there is none.
QString ExtensionOf(const QString& path) {
  const QString name = FileNameOf(path);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? QString() : name.mid(dot);
}

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
// picture (PictureSteps.h) is kept apart from the steps that commit (names, the counter,
// questions, writing, logging), which must stay in list order.
class BatchRunner {
 public:
  BatchRunner(BatchHost& host, const BatchJob& job) : Host(host), Job(job), Cleanup(host) {}

  BatchOutcome Run();

 private:
  enum class Next { Continue, Stop };
  enum class Confirmed { Write, Skip, Cancel };

  bool StartAllowed();
  Next ProcessPicture(int index);
  // Steps before the picture is read: the file time, the details box, the readable extension.
  bool Readable(const QString& path);
  // Reads the picture and applies the metadata and resolution options; false when it cannot
  // be read (reported in the details).
  bool Load(const QString& path, Picture* picture);
  // The sub-folder, the new name, the counter, the extension and its case.
  QString OutputPathFor(const QString& path, const QString& relative, int sourceType);
  // Asks about an existing output file; may change outputPath (Rename).
  Confirmed ConfirmReplace(const QString& path, const QString& relative, const Picture& picture,
                           QString* outputPath);
  // Writes the picture; fileType 0: in the format of the path's extension, otherwise in that
  // file type.
  void Write(const Picture& picture, const QString& outputPath, int fileType);

  BatchHost& Host;
  const BatchJob& Job;
  EndCleanup Cleanup;
  BatchOutcome Outcome;
  DetailsSink Details;
  QString OutputFolder;
  QString OutputExtension0;
  int TargetType = 0;
  bool ReplaceAllChosen = false;
  QDateTime FileTime;
};

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
  Details = [this](const QString& line, bool repaint) {
    Host.AddDetailsLine(line);
    if (repaint) Host.RepaintDetails();
  };

  for (int i = 0; i < count; ++i) {
    if (Host.AbortRequested()) {
      Host.ClearAbortRequest();
      Outcome.How = BatchOutcome::End::Interrupted;
      return Outcome;
    }
    if (ProcessPicture(i) == Next::Stop) {
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

BatchRunner::Next BatchRunner::ProcessPicture(int index) {
  const QString& path = Job.Paths[index];
  if (!QFileInfo(path).isFile()) {
    ++Outcome.Failed;
    return Next::Continue;
  }
  Picture picture;
  if (!Readable(path) || !Load(path, &picture)) {
    ++Outcome.Failed;
    return Next::Continue;
  }
  const int sourceType = picture.Params.FileType;

  const QString relative = RelativeSubfolder(Job.SourceFolder, path);
  if (!QFileInfo(OutputFolder + relative).isDir()) CreateFolderPath(OutputFolder, relative);
  QString outputPath = OutputPathFor(path, relative, sourceType);
  // A file that keeps the source's own extension is written in the output format even when
  // that extension names another one (a PNG file named ".jpg" stays PNG); a name typed in the
  // replace question chooses its format by its extension.
  const QString proposedPath = outputPath;
  switch (ConfirmReplace(path, relative, picture, &outputPath)) {
    case Confirmed::Write:
      break;
    case Confirmed::Skip:
      ++Outcome.Skipped;
      return Next::Continue;
    case Confirmed::Cancel:
      return Next::Stop;
  }

  ResizeAndWatermark(picture, Host.Settings(), path, Details);
  if (ApplyOutputOptions(picture, sourceType, TargetType, Host.Settings(), Details))
    Host.ShowWorkingPicture(picture);
  Write(picture, outputPath,
        sourceType == TargetType && outputPath == proposedPath ? TargetType : 0);

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

bool BatchRunner::Load(const QString& path, Picture* picture) {
  Details(QStringLiteral("Reading ") + path + QStringLiteral(" ..."), true);
  try {
    *picture = ReadPicture(path);
  } catch (const std::exception&) {
    Host.AddDetailsLine(QStringLiteral("Error reading ") + FileNameOf(path) +
                        QStringLiteral(" ..."));
    Host.AddDetailsLine(kDetailsSeparator);
    return false;
  }
  PrepareWorkingPicture(*picture, Host.Settings());
  Host.ShowWorkingPicture(*picture);
  return true;
}

QString BatchRunner::OutputPathFor(const QString& path, const QString& relative, int sourceType) {
  QString name = FileNameOf(path);
  const JobSettings settings = Host.Settings();
  if (settings.On(JobField::RenameChecked)) {
    name = MakeNewName(settings.Text(JobField::RnMask), name, settings.Int(JobField::StartNo));
    Host.AdvanceStartNo();
  }
  QString extension = sourceType == TargetType ? ExtensionOf(path) : OutputExtension0;
  switch (Host.Settings().Int(JobField::ChangeCase)) {
    case 0:
      extension = extension.toUpper();
      break;
    case 1:
      extension = extension.toLower();
      break;
    default:
      break;
  }
  // A name from the template or the source cannot lead out of the destination folder.
  return OutputFolder + relative + SafeFileName(ChangeExtension(name, extension));
}

BatchRunner::Confirmed BatchRunner::ConfirmReplace(const QString& path, const QString& relative,
                                                   const Picture& picture, QString* outputPath) {
  if (ReplaceAllChosen || !QFileInfo(*outputPath).isFile()) return Confirmed::Write;
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

void BatchRunner::Write(const Picture& picture, const QString& outputPath, int fileType) {
  Host.AddDetailsLine(QStringLiteral("Writing ") + outputPath + QStringLiteral(" ..."));
  // Through a temporary file beside the target: a failed write leaves an existing file as it
  // was. Errors of the writer leave the run.
  WriteOutputPicture(picture, outputPath, fileType);
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
