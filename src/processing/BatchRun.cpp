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

// Hides the run's displays however the run ends.
class EndCleanup {
 public:
  explicit EndCleanup(BatchHost& host) : Host(host) {}
  ~EndCleanup() {
    try {
      Run();
    } catch (...) {
    }
  }
  void Run() {
    if (Done) return;
    Done = true;
    Host.HideReplace();
    Host.SetProgress(0);
    Host.HideProgress();
  }

 private:
  BatchHost& Host;
  bool Done = false;
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

BatchOutcome RunBatch(BatchHost& host, const BatchJob& job) {
  BatchOutcome outcome;
  bool replaceAllChosen = false;

  const QString outputFolder = WithTrailingBackslash(host.Settings().Text(JobField::OutputFolder));
  if (!QFileInfo(outputFolder).isDir()) {
    host.ShowError(kNoOutputFolderMessage);
    host.ShowOutputPage();
    return outcome;
  }
  if (job.SourceFolder == outputFolder) {
    host.ShowError(kSameAsSourceMessage);
    host.ShowOutputPage();
    return outcome;
  }

  QDateTime fileTime = QDateTime::currentDateTime();
  const int count = static_cast<int>(job.Paths.size());
  if (host.Settings().Int(JobField::Filter) < 0) host.SetChoice(JobField::Filter, 0);

  EndCleanup cleanup(host);
  host.SetProgress(0);
  host.ShowProgress();
  host.ProcessPendingEvents();

  const int formatIndex = host.Settings().Int(JobField::OutputFormat);
  const QString outputExtension = OutputExtension(formatIndex);
  const int targetType = OutputFileType(formatIndex);

  const DetailsSink details = [&host](const QString& line, bool repaint) {
    host.AddDetailsLine(line);
    if (repaint) host.RepaintDetails();
  };

  for (int i = 0; i < count; ++i) {
    if (host.AbortRequested()) {
      host.ClearAbortRequest();
      outcome.How = BatchOutcome::End::Interrupted;
      return outcome;
    }
    const QString& path = job.Paths[i];
    if (!QFileInfo(path).isFile()) {
      ++outcome.Failed;
      continue;
    }
    const QString sourceExtension = ExtensionOf(path);
    if (host.Settings().On(JobField::KeepDateTime)) fileTime = ReadFileTime(path, kCreationTime);
    if (host.DetailsLineCount() > kMaxDetailsLines) host.ClearDetails();

    if (!CanReadExtension(path)) {
      host.AddDetailsLine(QStringLiteral("Error reading ") + FileNameOf(path) +
                          QStringLiteral(" ..."));
      host.AddDetailsLine(sourceExtension.toUpper() +
                          QStringLiteral(" files are not supported ..."));
      host.AddDetailsLine(kDetailsSeparator);
      host.RepaintDetails();
      ++outcome.Failed;
      continue;
    }

    details(QStringLiteral("Reading ") + path + QStringLiteral(" ..."), true);
    Picture picture;
    try {
      picture = ReadPicture(path);
    } catch (const std::exception&) {
      host.AddDetailsLine(QStringLiteral("Error reading ") + FileNameOf(path) +
                          QStringLiteral(" ..."));
      host.AddDetailsLine(kDetailsSeparator);
      ++outcome.Failed;
      continue;
    }
    const int sourceType = picture.Params.FileType;
    PrepareWorkingPicture(picture, host.Settings());
    host.ShowWorkingPicture(picture);

    // Where the output goes, and under which name.
    const QString relative = RelativeSubfolder(job.SourceFolder, path);
    if (!QFileInfo(outputFolder + relative).isDir()) CreateFolderPath(outputFolder, relative);

    QString name = FileNameOf(path);
    {
      const JobSettings settings = host.Settings();
      if (settings.On(JobField::RenameChecked)) {
        name = MakeNewName(settings.Text(JobField::RnMask), name, settings.Int(JobField::StartNo));
        host.AdvanceStartNo();
      }
    }
    QString extension = sourceType == targetType ? sourceExtension : outputExtension;
    switch (host.Settings().Int(JobField::ChangeCase)) {
      case 0:
        extension = extension.toUpper();
        break;
      case 1:
        extension = extension.toLower();
        break;
      default:
        break;
    }
    name = SafeFileName(ChangeExtension(name, extension));
    QString outputPath = outputFolder + relative + name;

    if (!replaceAllChosen && QFileInfo(outputPath).isFile()) {
      const ReplaceAnswer answer =
          host.AskReplace({outputPath, &picture, path, FileNameOf(outputPath)});
      bool skip = false;
      switch (answer.Choice) {
        case ReplaceChoice::Replace:
          break;
        case ReplaceChoice::ReplaceAll:
          replaceAllChosen = true;
          break;
        case ReplaceChoice::Cancel:
          outcome.How = BatchOutcome::End::Interrupted;
          return outcome;
        case ReplaceChoice::Rename: {
          // A cleared name field names no file: the picture is skipped rather than written
          // under the folder's own path.
          const QString typed = answer.NewName.trimmed();
          if (typed.isEmpty())
            skip = true;
          else
            outputPath = outputFolder + relative + SafeFileName(typed);
          break;
        }
        case ReplaceChoice::Skip:
        default:
          skip = true;
          break;
      }
      if (skip) {
        ++outcome.Skipped;
        continue;
      }
    }

    ResizeAndWatermark(picture, host.Settings(), path, details);
    if (ApplyOutputOptions(picture, sourceType, targetType, host.Settings(), details))
      host.ShowWorkingPicture(picture);

    host.AddDetailsLine(QStringLiteral("Writing ") + outputPath + QStringLiteral(" ..."));
    WritePicture(picture, outputPath);

    if (QFileInfo(outputPath).isFile()) {
      if (host.Settings().On(JobField::KeepDateTime)) {
        WriteFileTime(outputPath, kCreationTime, fileTime);
        WriteFileTime(outputPath, kLastWriteTime, fileTime);
      }
      host.AddDetailsLine(QStringLiteral("File written sucessfully ..."));
      ++outcome.Written;
      if (job.Log) {
        try {
          job.Log->Add(LogTimeText(), QStringLiteral("Process"), outputPath);
        } catch (...) {
          // A log that cannot be written does not stop the run.
        }
      }
    } else {
      host.AddDetailsLine(QStringLiteral("Error writing file ..."));
      ++outcome.Failed;
    }

    host.AddDetailsLine(kDetailsSeparator);
    host.RepaintDetails();
    host.ProcessPendingEvents();
    host.SetProgress(ProgressPercent(i, count));
  }

  outcome.How = BatchOutcome::End::Completed;
  // The completion question comes after the displays are hidden.
  cleanup.Run();
  if (host.AskYesNo(kRunFinishedQuestion)) host.OpenFolder(outputFolder);
  host.ShowPictureListPage();
  return outcome;
}
