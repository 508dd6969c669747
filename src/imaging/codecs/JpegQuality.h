#pragma once

#include <array>
#include <cstdint>

// JPEG quality as the IJG library defines it: the example quantisation tables of the JPEG
// standard (Annex K), scaled by a factor derived from a quality of 1 to 100. Most writers
// (libjpeg, libjpeg-turbo, Pillow, GraphicsMagick) make their tables this way, so the quality a
// file was written with can be recovered from the tables it carries.

using QuantTable = std::array<std::uint16_t, 64>;  // natural (row-major) order

// The table libjpeg's jpeg_set_quality makes for quality (clamped to 1..100). component 0 is
// the luminance table, 1 the chrominance table. With forceBaseline the entries are limited to
// 255, as baseline JPEG requires; otherwise to 32767.
QuantTable ScaledQuantTable(int component, int quality, bool forceBaseline = true);

// The quality 1..100 whose scaled tables are closest to the given ones (sum of absolute
// differences). luminance must hold 64 entries in natural order; chrominance may be null (a
// greyscale file). Tables made by the IJG scaling give back their quality exactly; other
// tables give the nearest IJG quality.
int EstimateJpegQuality(const std::uint16_t* luminance, const std::uint16_t* chrominance);
