#pragma once
// The rows of the file list. Each row owns a zero-filled TFileItem and a stable id. Rows are
// only ever appended at the end and deleted, never reordered, so ids grow along the list and a
// batch that remembers the id of its current row finds the next one even after deletions.
#include <QAbstractTableModel>
#include <QIcon>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "filelist/TFileItem.h"

using TRowId = std::uint64_t;

class TFileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TFileListModel(QObject* Parent = nullptr);

  // Appends a pending row for the file FileName. The record's field holds it cut to 255 bytes;
  // the row keeps the whole name for the work and the duplicate test.
  TRowId Append(std::string_view FileName);
  int Count() const { return static_cast<int>(Rows.size()); }

  // Walking the rows in display order; a deleted row's id still leads to the rows after it.
  std::optional<TRowId> First() const;
  std::optional<TRowId> Next(TRowId After) const;

  // The row's record, or nullptr once the row is deleted.
  const TFileItem* Item(TRowId Id) const;
  // The whole name of the row's file, never cut; empty once the row is deleted.
  std::string FileName(TRowId Id) const;
  int RowOf(TRowId Id) const;  // -1 once deleted
  TRowId IdAt(int Row) const { return Rows.at(static_cast<std::size_t>(Row)).Id; }

  // Writes a row's result and repaints it; ignored when the row is gone.
  void SetResult(TRowId Id, TFileStatus Status, std::string_view Info);
  void Repaint(TRowId Id);

  // Whether a row's whole file name equals Name, ignoring the case of ASCII letters.
  bool ContainsFileName(std::string_view Name) const;

  // Deletes the rows at the given positions; the other rows keep their order and records.
  void RemoveRowsAt(std::vector<int> Positions);

  int rowCount(const QModelIndex& Parent = {}) const override;
  int columnCount(const QModelIndex& Parent = {}) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
  Qt::ItemFlags flags(const QModelIndex& Index) const override;

 private:
  struct TRow {
    TRowId Id;
    TFileItem Item;
    std::string FileName;
  };
  void Forget(const TRow& Row);

  std::vector<TRow> Rows;
  TRowId NextId = 1;
  std::unordered_map<std::string, int> FileNameIndex;  // ASCII-lower-cased whole name -> rows
  std::array<QIcon, 3> StatusImages;
};
