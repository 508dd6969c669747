#pragma once

#include <QString>
#include <QStringList>

class BatchHost;
class ProcessLog;

// The refusals and the completion question of a run, as the user sees them.
extern const QString kNoOutputFolderMessage;
extern const QString kSameAsSourceMessage;
extern const QString kRunFinishedQuestion;
// The details box's separator line (49 hyphens).
extern const QString kDetailsSeparator;

// What a run works on.
struct BatchJob {
  QStringList Paths;          // the picture list's paths, in list order
  QString SourceFolder;       // folder (with the final separator) of the last folder scan or file
                              // dialog, whose sub-folders are mirrored; may be empty
  ProcessLog* Log = nullptr;  // receives a record per written file; may be null
  int Jobs = 0;               // pictures worked on at once; 0 for one per core
};

// How a run ended, and what it did.
struct BatchOutcome {
  enum class End { Refused, Completed, Interrupted };
  End How = End::Refused;
  int Written = 0;  // output files that exist after writing
  int Failed = 0;   // pictures missing, not supported, unreadable, or not written
  int Skipped = 0;  // pictures left unwritten by the replace answer Skip
};

// Runs the job: checks the destination, then reads every picture of the list in order,
// prepares, names, resizes, watermarks, converts and writes it into the destination folder
// (mirroring the source folder's sub-folders), asks before replacing an existing file, and logs
// each written file. It talks to the world only through host, asking it for the settings
// afresh at each step. After a complete run it asks whether to open the output folder.
//
// An error raised by the colour reduction, the encoder options or the writer leaves the run:
// the end clean-up runs (questions hidden, progress 0 and hidden) and the error is rethrown
// for the caller's error handler. Every output is written through a temporary file, so a
// failed write never damages an existing file.
BatchOutcome RunBatch(BatchHost& host, const BatchJob& job);

// trunc(100 / count x index) computed with a 64-bit significand, as the progress shows it.
int ProgressPercent(int index, int count);
