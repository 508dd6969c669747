#include "app/BatchTerminalHost.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) {
  if (gInterrupted) {
    // A second Ctrl+C: stop at once. Outputs are written through temporary files, so no
    // half-written picture is left under its final name.
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
    return;
  }
  gInterrupted = 1;
}

constexpr int kBarWidth = 40;

}  // namespace

BatchTerminalHost::BatchTerminalHost(const JobSettings& settings, ReplaceMode mode, bool verbose,
                                     bool progressBar)
    : Current(settings),
      Mode(mode),
      Verbose(verbose),
      BarWanted(progressBar),
      Out(stdout),
      Err(stderr) {}

void BatchTerminalHost::InstallInterruptHandler() { std::signal(SIGINT, OnInterrupt); }

void BatchTerminalHost::ClearBar() {
  if (!BarDrawn) return;
  Err << '\r' << QString(kBarWidth + 8, QLatin1Char(' ')) << '\r';
  Err.flush();
  BarDrawn = false;
}

void BatchTerminalHost::DrawBar() {
  if (!BarWanted || !BarShown) return;
  const int filled = Percent * kBarWidth / 100;
  Err << "\r[" << QString(filled, QLatin1Char('#')) << QString(kBarWidth - filled, QLatin1Char('.'))
      << "] " << QString::number(Percent).rightJustified(3) << '%';
  Err.flush();
  BarDrawn = true;
}

void BatchTerminalHost::AddDetailsLine(const QString& line) {
  ++Lines;
  if (!Verbose) return;
  ClearBar();
  Out << line << '\n';
}

void BatchTerminalHost::RepaintDetails() {
  Out.flush();
  // Details lines printed since the bar was cleared push it down: draw it again below them.
  if (!BarDrawn) DrawBar();
}

void BatchTerminalHost::SetProgress(int percent) {
  if (percent == Percent && BarDrawn) return;
  Percent = percent;
  DrawBar();
}

void BatchTerminalHost::ShowProgress() {
  BarShown = true;
  DrawBar();
}

void BatchTerminalHost::HideProgress() {
  Out.flush();
  ClearBar();
  BarShown = false;
}

void BatchTerminalHost::ProcessPendingEvents() {
  Out.flush();
  QCoreApplication::processEvents();
}

bool BatchTerminalHost::AbortRequested() { return gInterrupted != 0; }

void BatchTerminalHost::ClearAbortRequest() { gInterrupted = 0; }

ReplaceAnswer BatchTerminalHost::AskReplace(const ReplaceQuestion& question) {
  switch (Mode) {
    case ReplaceMode::All:
      return {ReplaceChoice::ReplaceAll, {}};
    case ReplaceMode::Skip:
      return {ReplaceChoice::Skip, {}};
    case ReplaceMode::Cancel:
      return {ReplaceChoice::Cancel, {}};
    case ReplaceMode::Ask:
      break;
  }
  Out.flush();
  ClearBar();
  Err << "Confirm replace\n  Replace file: " << question.ExistingPath
      << "\n  With file:    " << question.SourcePath
      << "\n[r]eplace, replace [a]ll, [s]kip, [c]ancel, re[n]ame? ";
  Err.flush();
  std::string answer;
  ReplaceAnswer result;  // end of input answers Skip, as closing the dialog does
  if (std::getline(std::cin, answer)) {
    const QString a = QString::fromLocal8Bit(answer).trimmed().toLower();
    if (a == QStringLiteral("r"))
      result.Choice = ReplaceChoice::Replace;
    else if (a == QStringLiteral("a"))
      result.Choice = ReplaceChoice::ReplaceAll;
    else if (a == QStringLiteral("c"))
      result.Choice = ReplaceChoice::Cancel;
    else if (a == QStringLiteral("n")) {
      Err << "New file name [" << question.NewName << "]: ";
      Err.flush();
      std::string name;
      if (std::getline(std::cin, name)) {
        result.Choice = ReplaceChoice::Rename;
        result.NewName = QString::fromLocal8Bit(name);
        if (result.NewName.trimmed().isEmpty()) result.NewName = question.NewName;
      }
    }
  }
  DrawBar();
  return result;
}

void BatchTerminalHost::ShowError(const QString& message) {
  Out.flush();
  ClearBar();
  Err << message << '\n';
  Err.flush();
}

bool BatchTerminalHost::AskYesNo(const QString& question) {
  // The command line never opens a file browser; the question is only shown with --verbose.
  if (Verbose) {
    QString text = question.trimmed();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Out << text << " No\n";
  }
  return false;
}
