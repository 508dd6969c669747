#pragma once

#include "imaging/Codec.h"

// The PCX decoder, shared by the PCX codec and the DCX codec (a DCX file is a list of PCX
// pages). Each function reads only inside data and throws PictureError for a file it cannot
// read.

// Whether head (the first bytes of a file) starts like a PCX header: manufacturer 0x0A, a
// known version (0, 2, 3, 4, 5), RLE (or no) encoding, 1, 2, 4 or 8 bits per pixel, a
// non-empty window and, when head reaches that far, 1 to 4 planes.
bool LooksLikePcx(ByteView head);

// Facts of the PCX header at the start of data. FileType is PictureFileType::Pcx.
HeaderFacts ReadPcxHeader(ByteView data);

// Decodes the PCX picture held in data into a Format_BGR888 image (with an alpha plane for a
// four-plane 8-bit file). data must end where the picture ends: the 256-colour palette of an
// 8-bit picture is looked for in its last 769 bytes. Params.FileType is PictureFileType::Pcx.
Picture DecodePcx(ByteView data);
