#pragma once
// vstFiles: a two-column list with a header, full-row multi-selection, a focused row and a drop
// target. Drag and drop events are handed to the window through signals. The pop-up menu is
// asked for through customContextMenuRequested, with a point in the viewport, by the mouse and by
// the keyboard (the Menu key, Shift+F10).
#include <QTreeView>
#include <optional>
#include <vector>

#include "filelist/TFileListModel.h"

class TFileListView : public QTreeView {
  Q_OBJECT

 public:
  static constexpr int RowHeight = 22;
  static constexpr int HeaderHeight = 22;
  // The list's width in the window's design, where the two columns are 350 and 240 wide.
  static constexpr int DesignWidth = 622;
  static constexpr int FileNameWidth = 350;
  static constexpr int InfoWidth = 240;

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
  // The person using the list moved its view up or down: by the wheel, the scroll bar, a key or
  // a click that brought a row into view.
  void ScrolledByUser();

 protected:
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dragMoveEvent(QDragMoveEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;
  // A double-click in the empty space below the last row also reports doubleClicked (with an
  // invalid index), so the window can act on the focused row.
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  bool event(QEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  void SelectRange(QItemSelectionModel::SelectionFlags How);
  QPoint KeyboardMenuPoint() const;
  // The message column takes whatever width the list has beyond its design width, so a wider
  // window shows more of each message; it never gets narrower than in the design.
  void FitInfoColumn(int ViewportWidth);
  // Runs the base class's handling of an input event and reports whether it moved the view.
  template <class THandle>
  void NoticingScroll(THandle Handle);

  TFileListModel* Model;
};
