#pragma once

#include <QDateTime>
#include <QString>

// Folder creation and file times of the output files.

// Creates the missing folders of relative (folder names each followed by the separator) below
// base, one level at a time. Failures are not reported: the following levels then fail too,
// and so does the write that follows.
void CreateFolderPath(const QString& base, const QString& relative);

// Which time of a file: 0 creation, 1 last access, 2 last write.
enum FileTimeKind { kCreationTime = 0, kLastAccessTime = 1, kLastWriteTime = 2 };

// A local date-time rounded down to the packed date-and-time format of two-second resolution
// (years 1980 to 2107): 14:03:27 gives 14:03:26. An invalid QDateTime when the time cannot be
// expressed so.
QDateTime ToPackedFileTime(const QDateTime& time);

// The chosen time of the file at path, in local time, in the packed format's two-second
// resolution; an invalid QDateTime when the path is a folder, cannot be found, or its time is
// outside the packed format. The creation time is the file's creation time where the file
// system can also set one (Windows); elsewhere it is the last-write time, which WriteFileTime
// can copy.
QDateTime ReadFileTime(const QString& path, int which);

// Sets the chosen time of the file at path to time (rounded to the packed format); the other
// times stay. Where the file system cannot set a creation time, "creation" sets the last-write
// and last-access times instead. Returns 0, or a non-zero error code when the file cannot be
// opened, the time is invalid or it cannot be set.
int WriteFileTime(const QString& path, int which, const QDateTime& time);
