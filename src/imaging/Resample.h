#pragma once

#include <QImage>

#include "imaging/Picture.h"
#include "imaging/ResampleKernels.h"

// Separable resampling with the twelve filters of ResampleKernels.h.
//
// Pixel centres are aligned: output pixel x samples the source at (x + 0.5) * W0 / W - 0.5, so
// the picture is neither shifted nor cropped. Each axis gets its bounds and normalised weights
// computed once in double precision and converted to fixed point; the pixel loops are integer
// only. The horizontal pass runs first, over the source rows that the vertical pass needs
// (unless the other order is far cheaper, as for a tall thin picture made wide and flat); an
// axis whose size does not change is skipped. Rows are shared out among the processor's cores.

// A copy of source resampled to width x height pixels with a filter number 0..11
// (ResampleFilter). Format_BGR888 and Format_Grayscale8 keep their format; any other format is
// converted to Format_BGR888 first. The source is not changed. Throws PictureError for a null
// source, an unknown filter, or a size that is not positive or beyond the picture limits.
QImage ResampleImage(const QImage& source, int width, int height, int filter);

// Resamples the picture's image and, when present, its alpha plane to width x height pixels.
// A width or height of 0 keeps the picture's own dimension; -1 follows from the other new
// dimension by the picture's proportions (trunc, at least 1). Throws PictureError as
// ResampleImage does; the picture is unchanged then.
void ResamplePicture(Picture& picture, int width, int height, int filter);

// The number of threads the resampler uses: 0 (the default) for one per core, otherwise that
// many. For benchmarks and tests.
void SetResampleThreads(int count);

// The same for the calling thread only, overriding the process-wide count while it is above 0:
// a worker that already runs beside others (one picture per core) resamples on its own thread.
void SetResampleThreadsForThisThread(int count);

// Whether the resampler may use the processor's vector instructions (AVX2) where it has them;
// on by default. The results are the same either way: for tests and benchmarks.
void SetResampleVectorUnits(bool on);
