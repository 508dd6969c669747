#pragma once

#include <QString>
#include <QTextStream>

#include "processing/BatchHost.h"

// How the command line answers the question about an existing output file.
enum class ReplaceMode { Ask, All, Skip, Cancel };

// The batch run on a terminal: details lines on standard output (--verbose), a progress bar on
// standard error (when it is a terminal), messages on standard error, replace questions asked
// on the terminal or answered by the chosen mode, Ctrl+C as the Abort button.
class BatchTerminalHost : public BatchHost {
 public:
  BatchTerminalHost(const JobSettings& settings, ReplaceMode mode, bool verbose, bool progressBar);

  // The settings as the run left them (StartNo advanced, the filter selected).
  const JobSettings& Job() const { return Current; }

  // Makes Ctrl+C request an abort, noticed before the next picture; a second Ctrl+C ends the
  // program at once.
  static void InstallInterruptHandler();

  JobSettings Settings() override { return Current; }
  void SetChoice(JobField field, int index) override { Current.SetInt(field, index); }
  void AdvanceStartNo() override { Current.AdvanceStartNo(); }

  void AddDetailsLine(const QString& line) override;
  int DetailsLineCount() override { return Lines; }
  void ClearDetails() override { Lines = 0; }
  void RepaintDetails() override;

  void SetProgress(int percent) override;
  void ShowProgress() override;
  void HideProgress() override;

  void ProcessPendingEvents() override;
  bool AbortRequested() override;
  void ClearAbortRequest() override;

  ReplaceAnswer AskReplace(const ReplaceQuestion& question) override;
  void HideReplace() override {}

  void ShowError(const QString& message) override;
  bool AskYesNo(const QString& question) override;
  void OpenFolder(const QString&) override {}

  void ShowWorkingPicture(const Picture&) override {}
  void ShowOutputPage() override {}
  void ShowPictureListPage() override {}

 private:
  void ClearBar();
  void DrawBar();

  JobSettings Current;
  ReplaceMode Mode;
  bool Verbose;
  bool BarWanted;
  bool BarShown = false;
  bool BarDrawn = false;
  int Percent = 0;
  int Lines = 0;
  QTextStream Out;
  QTextStream Err;
};
