#pragma once

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>
#include <atomic>
#include <exception>
#include <functional>

#include "imaging/Picture.h"
#include "settings/JobSettings.h"

// The picture work of one list entry (reading, preparing, resizing, watermarking, converting and
// encoding), done ahead of the entry's commit and possibly on a worker thread. The worker reads
// only what the coordinating loop put into the work before it started and writes only the
// results; the details lines are kept, in order, for the coordinating loop to show when it
// commits the entry, so that what the user sees does not depend on how many pictures were
// worked on at once.

// One details line; Repaint asks for the details box to be repainted after it.
struct DetailsLine {
  QString Text;
  bool Repaint = false;
};

struct PictureWork {
  enum class Stage {
    NotStarted,  // cancelled before it began
    Unreadable,  // the file could not be read: LoadLines say so
    Loaded,      // read and prepared; the rest waits for the commit (a replace question is due)
    Finished     // everything up to the encoded bytes is done
  };

  // Set by the coordinating loop before the work starts.
  QString Path;
  JobSettings Settings;     // the job's options when this picture's work started
  int TargetType = 0;       // the output format's file type code
  QString OutputExtension;  // the output format's extension with its dot
  // The output path the commit will propose for a source file type, or an empty text when it
  // cannot be known ahead (renaming); when that file exists, the work stops after loading.
  std::function<QString(int sourceType)> ProposedPathFor;
  const std::atomic<bool>* ReplaceAllChosen = nullptr;  // no question will be asked when set
  const std::atomic<bool>* Cancelled = nullptr;         // stop as soon as possible when set

  // What the work made of it; reset as a whole when the work has to be done again.
  struct Results {
    Stage Reached = Stage::NotStarted;
    QList<DetailsLine> LoadLines;  // "Reading ..." and, for an unreadable file, its error lines
    std::exception_ptr LoadError;  // an error of the preparation, raised at the commit
    Picture Working;               // the working picture in its latest state
    QSize SizeAsStored;            // the stored size of a picture decoded reduced
    int SourceType = 0;            // the file type code of the source's content
    QList<DetailsLine> WorkLines;  // resize, watermark and colour lines
    std::exception_ptr WorkError;  // an error of the colour depth or encoder options
    bool ColorsChanged = false;    // the colour depth changed the pixels
    QByteArray Encoded;            // the picture encoded for the proposed output path
  };
  Results Out;

  // Whether the output keeps the source's format under the source's own extension; the
  // encoder then writes the output format whatever that extension names.
  bool KeepsSourceExtension() const { return Out.SourceType == TargetType; }
  // A path whose extension chooses the encoder as the proposed output path does, and the file
  // type to pass along with it (see WriteOutputPicture).
  QString EncoderPath() const;
  int EncoderFileType() const { return KeepsSourceExtension() ? TargetType : 0; }
};

// Reads and prepares the picture (Unreadable or Loaded).
void LoadPictureWork(PictureWork& work);

// Resizes, watermarks, applies the output options and encodes a Loaded picture (Finished).
void FinishPictureWork(PictureWork& work);

// Both, as a worker does them: loading, then the rest unless a replace question is due (the
// proposed output file exists and "replace all" has not been chosen) or the work is cancelled.
// Never throws.
void DoPictureWork(PictureWork& work) noexcept;
