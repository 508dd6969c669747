#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class PictureListModel;

// The files of folder (and of its sub-folders when includeSubfolders) that pass filter, as
// folder + separator + name: the folder's own files first, then those of each sub-folder in
// breadth-first order of discovery, each folder's entries in the order the file system lists
// them (hidden files included), never sorted.
//
// The filter "*.*" passes every file; any other filter passes the files whose lower-case
// extension (from the last "." of the name, the dot included; empty when there is none)
// equals the filter without its first character, in lower case. Sub-folders whose names begin
// with "." are not entered, nor are symbolic links to folders (a link could lead back up the
// tree and make the scan endless). A folder that cannot be listed contributes nothing.
QStringList ScanFolder(const QString& folder, const QString& filter, bool includeSubfolders);

// Whether AddPictures accepts path for list: an existing file (not a folder), not yet in the
// list, with an extension the picture reader can read (any letter case).
bool AcceptsPicture(const PictureListModel& list, const QString& path);

// What the loading display offers to AddPictures; every member may be empty.
struct AddPicturesHooks {
  std::function<void()> ProcessPendingEvents;  // let the window run; Abort is noticed here
  std::function<bool()> AbortRequested;        // tested before each path
  // After each accepted path: the percent trunc(100 / n x i) and the label
  // "Loading pictures. Please wait... [i+1 / n]".
  std::function<void(int percent, const QString& label)> Progress;
};

// Appends a row, with the facts of the file's header, for every accepted path in order. An
// abort keeps the rows added so far; an error while handling a path ends the loop silently.
// Returns the number of rows added.
int AddPictures(PictureListModel& list, const QStringList& paths,
                const AddPicturesHooks& hooks = {});
