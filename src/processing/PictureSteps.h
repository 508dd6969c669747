#pragma once

#include <QString>
#include <functional>

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
// not reported: the picture goes on in whatever state the step left it.
void ResizeAndWatermark(Picture& picture, const JobSettings& settings, const QString& sourcePath,
                        const DetailsSink& details);

// Colour depth and encoder options for the target file type, unless the picture already has
// that type (sourceType) and "KeepQuality" is on. Returns whether the pixels changed. Throws
// when the colour reduction fails or the JPEG quality has no selection.
bool ApplyOutputOptions(Picture& picture, int sourceType, int targetType,
                        const JobSettings& settings, const DetailsSink& details);
