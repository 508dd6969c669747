#pragma once

#include <QByteArray>

#include "imaging/Codec.h"

// EXIF handling shared by the TIFF codec and the formats built on TIFF (camera RAW files).

// The EXIF block of a TIFF file: a new TIFF-structured block (byte-order mark first, in the
// file's byte order, no "Exif\0\0" prefix) holding the descriptive tags of the first directory
// (Make, Model, Orientation, Software, DateTime, Artist, Copyright) and copies of its EXIF and
// GPS directories (the interoperability directory is left out). Empty when the file holds none
// of these or is not a classic TIFF. Every offset is checked against the data; damaged entries
// are skipped. Never throws.
QByteArray ExifBlockFromTiff(ByteView tiffFile);
