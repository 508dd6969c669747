#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

#include "pictures/PictureEntry.h"

// The picture list: the job's input files, one row each, in the order in which they were
// added, never sorted. Six columns: "Filename", "File Type", "Dimensions(px)", "Colors",
// "File Size", "DPI". At most one row per path (exact comparison, letter case included).
class PictureListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  using QAbstractTableModel::QAbstractTableModel;

  // Column widths in pixels of the list control (column 0 takes the rest of the width).
  static constexpr int kColumnWidths[PictureEntry::ColumnCount] = {0, 160, 90, 45, 60, 40};

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  bool removeRows(int row, int count, const QModelIndex& parent = {}) override;

  // Appends a row for path with the texts of facts. The caller has made sure that path is an
  // existing file not yet in the list.
  void AddPictureRow(const QString& path, const HeaderFacts& facts);

  // Whether some row's path equals path exactly.
  bool IsInList(const QString& path) const;

  int Count() const { return static_cast<int>(Rows.size()); }
  const PictureEntry& Entry(int row) const { return Rows[row]; }
  QString Path(int row) const { return Rows[row].Path; }
  QStringList Paths() const;

  // Removes every row.
  void Clear();

 private:
  std::vector<PictureEntry> Rows;
};
