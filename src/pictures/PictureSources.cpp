#include "pictures/PictureSources.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <exception>
#include <queue>

#include "imaging/PictureIO.h"
#include "pictures/PictureListModel.h"
#include "util/PathText.h"

namespace {

QString LowerExtensionOf(const QString& name) {
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? QString() : name.mid(dot).toLower();
}

}  // namespace

QStringList ScanFolder(const QString& folder, const QString& filter, bool includeSubfolders) {
  const bool everyFile = filter == QStringLiteral("*.*");
  const QString wanted = filter.mid(1).toLower();
  const QChar sep = PathSeparator();

  QString root = folder;
  if (root.size() > 1 && root.endsWith(sep)) root.chop(1);

  QStringList result;
  std::queue<QString> folders;
  folders.push(root);
  while (!folders.empty()) {
    const QString current = folders.front();
    folders.pop();
    // "/" stays "/" rather than becoming "//name".
    const QString prefix = current.endsWith(sep) ? current : current + sep;
    QDirIterator it(current.isEmpty() ? QString(sep) : current,
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
      it.next();
      const QFileInfo info = it.fileInfo();
      const QString name = info.fileName();
      if (info.isDir()) {
        if (includeSubfolders && !name.startsWith(QLatin1Char('.')) && !info.isSymLink())
          folders.push(prefix + name);
      } else if (everyFile || LowerExtensionOf(name) == wanted) {
        result.append(prefix + name);
      }
    }
  }
  return result;
}

bool AcceptsPicture(const PictureListModel& list, const QString& path) {
  const QFileInfo info(path);
  return info.exists() && !info.isDir() && !list.IsInList(path) && CanReadExtension(path);
}

int AddPictures(PictureListModel& list, const QStringList& paths, const AddPicturesHooks& hooks) {
  const int n = static_cast<int>(paths.size());
  if (n == 0) return 0;
  if (hooks.Progress) hooks.Progress(0, QStringLiteral("Loading pictures. Please wait..."));
  if (hooks.ProcessPendingEvents) hooks.ProcessPendingEvents();
  int added = 0;
  try {
    for (int i = 0; i < n; ++i) {
      if (hooks.AbortRequested && hooks.AbortRequested()) break;
      const QString& path = paths[i];
      if (!AcceptsPicture(list, path)) continue;
      list.AddPictureRow(path, ReadHeaderFacts(path));
      ++added;
      if (hooks.ProcessPendingEvents) hooks.ProcessPendingEvents();
      if (hooks.Progress) {
        const int percent = static_cast<int>(100.0L / n * i);
        hooks.Progress(
            percent,
            QStringLiteral("Loading pictures. Please wait... [%1 / %2]").arg(i + 1).arg(n));
      }
    }
  } catch (const std::exception&) {
    // An error ends the loading; the rows added so far stay.
  }
  return added;
}
