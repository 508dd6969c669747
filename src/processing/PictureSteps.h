#pragma once

#include <QSize>
#include <QString>
#include <functional>

#include "imaging/HeaderFacts.h"
#include "imaging/Picture.h"
#include "settings/JobSettings.h"
#include "watermark/ImageWatermark.h"
#include "watermark/Watermark.h"

// The picture work of a run: what happens to one working picture, apart from the steps that
// commit (naming, questions, writing, logging), so that these steps can run for several
// pictures at once while the commits stay in list order. Each function reads only its
// arguments and reports its details lines through the sink, in order.

// Receives one details line; repaint asks for the details box to be repainted after it.
using DetailsSink = std::function<void(const QString& line, bool repaint)>;

// The reduction (1, 2, 4 or 8) at which a picture with these header facts is decoded for the
// run: when the resize will reduce a JPEG anyway ("ResizeChecked" with Fill), the largest one
// whose decoded size still covers the size the resize makes of the whole picture, so that the
// resampler only finishes the job. 1 whenever anything else would need the whole picture: no
// resize, Cut, a box below 2, a DPI change (it resamples the whole picture first), another
// format, or a target that is not smaller.
int ShrinkOnLoadDenominator(const HeaderFacts& facts, const JobSettings& settings);

// Reads the picture as the run needs it, decoded reduced when ShrinkOnLoadDenominator allows.
// *sizeAsStored receives the picture's size in its file when it came out reduced, and an
// invalid size otherwise; pass it on to ResizeAndWatermark. Throws PictureError.
Picture ReadWorkingPicture(const QString& path, const JobSettings& settings, QSize* sizeAsStored);

// The watermark font of the settings' six font keys.
WatermarkFont WatermarkFontOf(const JobSettings& settings);

// The image logo's options of the settings: "WmTrans", "WmPosit", "RemoveBgChecked" and
// "WmBgColor".
ImageLogoOptions ImageLogoOptionsOf(const JobSettings& settings);

// Metadata and resolution: with "RemoveExif" every metadata block is dropped; with
// "ChangeDPI" the resolution becomes "NewDPI".
void PrepareWorkingPicture(Picture& picture, const JobSettings& settings);

// Resize ("ResizeChecked": Fill unless "RsMode" is 0, which cuts) and watermark
// ("WatermarkChecked": the image logo unless "WmType" is 0, which stamps the text). An error in
// either stops this step where it happened (a failed resize also skips the watermark) and is
// not reported: the picture goes on in whatever state the step left it. sizeAsStored is what
// LoadWorkingPicture gave (an invalid size for a picture decoded whole).
void ResizeAndWatermark(Picture& picture, const JobSettings& settings, const QString& sourcePath,
                        const DetailsSink& details, QSize sizeAsStored = {});

// Colour depth and encoder options for the target file type, unless the picture already has
// that type (sourceType) and "KeepQuality" is on. Returns whether the pixels changed. Throws
// when the colour reduction fails or the JPEG quality has no selection.
bool ApplyOutputOptions(Picture& picture, int sourceType, int targetType,
                        const JobSettings& settings, const DetailsSink& details);
