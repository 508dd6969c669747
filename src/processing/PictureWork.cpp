#include "processing/PictureWork.h"

#include <QFileInfo>

#include "processing/BatchRun.h"
#include "processing/OutputFormats.h"
#include "processing/PictureSteps.h"
#include "util/PathText.h"

namespace {

bool IsCancelled(const PictureWork& work) {
  return work.Cancelled && work.Cancelled->load(std::memory_order_relaxed);
}

}  // namespace

QString PictureWork::EncoderPath() const {
  return QStringLiteral("output") + (KeepsSourceExtension() ? ExtensionOf(Path) : OutputExtension);
}

void LoadPictureWork(PictureWork& work) {
  work.Out.LoadLines.append(
      {QStringLiteral("Reading ") + work.Path + QStringLiteral(" ..."), true});
  try {
    work.Out.Working = ReadWorkingPicture(work.Path, work.Settings, &work.Out.SizeAsStored);
  } catch (const std::exception&) {
    work.Out.Working = Picture();
    work.Out.LoadLines.append(
        {QStringLiteral("Error reading ") + FileNameOf(work.Path) + QStringLiteral(" ..."), false});
    work.Out.LoadLines.append({kDetailsSeparator, false});
    work.Out.Reached = PictureWork::Stage::Unreadable;
    return;
  }
  work.Out.SourceType = work.Out.Working.Params.FileType;
  try {
    PrepareWorkingPicture(work.Out.Working, work.Settings);
  } catch (...) {
    work.Out.LoadError = std::current_exception();
  }
  work.Out.Reached = PictureWork::Stage::Loaded;
}

void FinishPictureWork(PictureWork& work) {
  const DetailsSink details = [&work](const QString& line, bool repaint) {
    work.Out.WorkLines.append({line, repaint});
  };
  ResizeAndWatermark(work.Out.Working, work.Settings, work.Path, details, work.Out.SizeAsStored);
  try {
    work.Out.ColorsChanged = ApplyOutputOptions(work.Out.Working, work.Out.SourceType,
                                                work.TargetType, work.Settings, details);
  } catch (...) {
    work.Out.WorkError = std::current_exception();
  }
  if (!work.Out.WorkError) {
    try {
      work.Out.Encoded =
          EncodeOutputPicture(work.Out.Working, work.EncoderPath(), work.EncoderFileType());
    } catch (...) {
      // Left without bytes: the commit encodes the picture again, to report the error with the
      // output's own path.
    }
  }
  work.Out.Reached = PictureWork::Stage::Finished;
}

void DoPictureWork(PictureWork& work) noexcept {
  try {
    if (IsCancelled(work)) return;
    LoadPictureWork(work);
    if (work.Out.Reached != PictureWork::Stage::Loaded || work.Out.LoadError || IsCancelled(work))
      return;
    const bool replaceAll = work.ReplaceAllChosen && work.ReplaceAllChosen->load();
    if (!replaceAll && work.ProposedPathFor) {
      const QString proposed = work.ProposedPathFor(work.Out.SourceType);
      if (!proposed.isEmpty() && QFileInfo(proposed).isFile()) return;
    }
    FinishPictureWork(work);
  } catch (...) {
    // Every step keeps its own errors; anything else (no memory for a details line) drops the
    // work, and the commit does it again on its own thread.
    work.Out = PictureWork::Results();
  }
}
