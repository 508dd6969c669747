#include "pictures/PictureListModel.h"

namespace {

const char* const kCaptions[PictureEntry::ColumnCount] = {"Filename", "File Type", "Dimensions(px)",
                                                          "Colors",   "File Size", "DPI"};

}  // namespace

int PictureListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Count();
}

int PictureListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : PictureEntry::ColumnCount;
}

QVariant PictureListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= Count()) return {};
  if (role == Qt::DisplayRole) return Rows[index.row()].Text(index.column());
  if (role == Qt::TextAlignmentRole) {
    // Path and type read from the left, the numbers from the right.
    const bool left = index.column() <= PictureEntry::FileType;
    return QVariant::fromValue(Qt::AlignVCenter | (left ? Qt::AlignLeft : Qt::AlignRight));
  }
  return {};
}

QVariant PictureListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= PictureEntry::ColumnCount)
    return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(kCaptions[section]);
  if (role == Qt::TextAlignmentRole) {
    const bool left = section <= PictureEntry::FileType;
    return QVariant::fromValue(Qt::AlignVCenter | (left ? Qt::AlignLeft : Qt::AlignRight));
  }
  return {};
}

bool PictureListModel::removeRows(int row, int count, const QModelIndex& parent) {
  if (parent.isValid() || row < 0 || count <= 0 || row + count > Count()) return false;
  beginRemoveRows({}, row, row + count - 1);
  Rows.erase(Rows.begin() + row, Rows.begin() + row + count);
  endRemoveRows();
  return true;
}

void PictureListModel::AddPictureRow(const QString& path, const HeaderFacts& facts) {
  beginInsertRows({}, Count(), Count());
  Rows.push_back(MakePictureEntry(path, facts));
  endInsertRows();
}

bool PictureListModel::IsInList(const QString& path) const {
  for (const PictureEntry& e : Rows)
    if (e.Path == path) return true;
  return false;
}

QStringList PictureListModel::Paths() const {
  QStringList paths;
  paths.reserve(Count());
  for (const PictureEntry& e : Rows) paths.append(e.Path);
  return paths;
}

void PictureListModel::Clear() {
  if (Rows.empty()) return;
  beginResetModel();
  Rows.clear();
  endResetModel();
}
