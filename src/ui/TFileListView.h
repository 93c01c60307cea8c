#pragma once
// vstFiles: a two-column list with a header, full-row multi-selection, a focused row and a drop
// target. Drag and drop events are handed to the window through signals.
#include <QTreeView>
#include <optional>
#include <vector>

#include "filelist/TFileListModel.h"

class TFileListView : public QTreeView {
  Q_OBJECT

 public:
  static constexpr int RowHeight = 22;
  static constexpr int HeaderHeight = 22;

  explicit TFileListView(QWidget* Parent = nullptr);

  TFileListModel* Files() const { return Model; }

  std::optional<TRowId> FocusedRow() const;
  void DeleteSelected();
  void SelectAllRows();
  void ClearSelection();
  void InvertSelection();
  std::vector<int> SelectedPositions() const;

 signals:
  void DragOver(QDragMoveEvent* Event);
  void Dropped(QDropEvent* Event);

 protected:
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dragMoveEvent(QDragMoveEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;
  // A double-click in the empty space below the last row also reports doubleClicked (with an
  // invalid index), so the window can act on the focused row.
  void mouseDoubleClickEvent(QMouseEvent* Event) override;

 private:
  void SelectRange(QItemSelectionModel::SelectionFlags How);

  TFileListModel* Model;
};
