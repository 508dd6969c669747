#pragma once

#include <QString>

#include "imaging/Picture.h"
#include "settings/JobSettings.h"

// The answers to the replace question, numbered as the replace dialog numbers them.
enum class ReplaceChoice { Replace = 1, ReplaceAll = 2, Skip = 3, Cancel = 4, Rename = 5 };

// What the run shows when an output file exists already.
struct ReplaceQuestion {
  QString ExistingPath;    // the output file that exists
  const Picture* Working;  // the picture in hand: loaded, metadata cleared, DPI changed
  QString SourcePath;      // the source file of the picture in hand
  QString NewName;         // proposed new name: the file name of ExistingPath
};

struct ReplaceAnswer {
  ReplaceChoice Choice = ReplaceChoice::Skip;
  QString NewName;  // the new-name text as typed (used by Rename)
};

// Everything a batch run needs from whoever watches it: the main window (dialogs), the
// command line (terminal) or a test (a recording fake). RunBatch talks to nothing else.
//
// All calls come from the coordinating loop of the run, in list order; an implementation that
// lives on another thread marshals them to its own.
class BatchHost {
 public:
  virtual ~BatchHost() = default;

  // The job's options as they are now; the run asks afresh at each step that uses them.
  virtual JobSettings Settings() = 0;
  // Selects a choice field's item (the run selects the first filter when none is selected).
  virtual void SetChoice(JobField field, int index) = 0;
  // Raises "StartNo" by one (it stays at its maximum).
  virtual void AdvanceStartNo() = 0;

  // The details box: add one line, count, clear, repaint at once.
  virtual void AddDetailsLine(const QString& line) = 0;
  virtual int DetailsLineCount() = 0;
  virtual void ClearDetails() = 0;
  virtual void RepaintDetails() = 0;

  // The progress display: percent 0..100, show (not modal), hide.
  virtual void SetProgress(int percent) = 0;
  virtual void ShowProgress() = 0;
  virtual void HideProgress() = 0;

  // Lets pending events run; an Abort request is noticed here.
  virtual void ProcessPendingEvents() = 0;
  virtual bool AbortRequested() = 0;
  virtual void ClearAbortRequest() = 0;

  // Asks what to do about an existing output file (modal).
  virtual ReplaceAnswer AskReplace(const ReplaceQuestion& question) = 0;
  // Hides the replace question if it is still shown.
  virtual void HideReplace() = 0;

  // A refusal with the error icon and OK.
  virtual void ShowError(const QString& message) = 0;
  // A question with the confirmation icon and Yes/No; true for Yes.
  virtual bool AskYesNo(const QString& question) = 0;
  // Opens a folder in the system's file browser.
  virtual void OpenFolder(const QString& folder) = 0;

  // Shows the working picture (the destination view).
  virtual void ShowWorkingPicture(const Picture& picture) = 0;
  // After a refused start: brings the Output page into view and focuses the destination.
  virtual void ShowOutputPage() = 0;
  // After a completed run: brings the picture list page into view.
  virtual void ShowPictureListPage() = 0;
};
