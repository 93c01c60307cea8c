#include "ui/TFileListView.h"

#include <QDragEnterEvent>
#include <QHeaderView>
#include <QStyledItemDelegate>

#include "filelist/FileListDisplay.h"

namespace {
// Fixed row height, and no focus rectangle around the focused cell.
class TRowDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override {
    return {QStyledItemDelegate::sizeHint(Option, Index).width(), TFileListView::RowHeight};
  }
  void paint(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const override {
    QStyleOptionViewItem Plain(Option);
    Plain.state &= ~QStyle::State_HasFocus;
    QStyledItemDelegate::paint(Painter, Plain, Index);
  }
};
}  // namespace

TFileListView::TFileListView(QWidget* Parent) : QTreeView(Parent), Model(new TFileListModel(this)) {
  setModel(Model);
  setItemDelegate(new TRowDelegate(this));
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setAllColumnsShowFocus(true);
  setSortingEnabled(false);
  setAcceptDrops(true);
  setDropIndicatorShown(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setContextMenuPolicy(Qt::CustomContextMenu);

  QHeaderView* Header = header();
  QFont HeaderFont("Tahoma");
  HeaderFont.setPixelSize(11);
  Header->setFont(HeaderFont);
  Header->setFixedHeight(HeaderHeight);
  Header->setSectionsMovable(true);
  Header->setSectionResizeMode(QHeaderView::Interactive);
  Header->setStretchLastSection(false);
  Header->setSortIndicatorShown(true);
  Header->setSortIndicator(-1, Qt::AscendingOrder);
  Header->setSectionsClickable(true);
  Header->resizeSection(fcFileName, 350);
  Header->resizeSection(fcInfo, 240);
}

std::optional<TRowId> TFileListView::FocusedRow() const {
  const QModelIndex Current = currentIndex();
  if (!Current.isValid()) return std::nullopt;
  return Model->IdAt(Current.row());
}

std::vector<int> TFileListView::SelectedPositions() const {
  std::vector<int> Positions;
  for (const QModelIndex& Index : selectionModel()->selectedRows()) Positions.push_back(Index.row());
  return Positions;
}

void TFileListView::DeleteSelected() { Model->RemoveRowsAt(SelectedPositions()); }

void TFileListView::SelectRange(QItemSelectionModel::SelectionFlags How) {
  if (Model->Count() == 0) return;
  const QItemSelection All(Model->index(0, 0), Model->index(Model->Count() - 1, Model->columnCount() - 1));
  selectionModel()->select(All, How | QItemSelectionModel::Rows);
}

void TFileListView::SelectAllRows() { SelectRange(QItemSelectionModel::Select); }
void TFileListView::ClearSelection() { selectionModel()->clearSelection(); }
void TFileListView::InvertSelection() { SelectRange(QItemSelectionModel::Toggle); }

void TFileListView::dragEnterEvent(QDragEnterEvent* Event) { emit DragOver(Event); }
void TFileListView::dragMoveEvent(QDragMoveEvent* Event) { emit DragOver(Event); }
void TFileListView::dropEvent(QDropEvent* Event) { emit Dropped(Event); }

void TFileListView::mouseDoubleClickEvent(QMouseEvent* Event) {
  QTreeView::mouseDoubleClickEvent(Event);
  if (Event->button() != Qt::LeftButton) return;
  const int BelowRows = Model->Count() == 0 ? 0 : visualRect(Model->index(Model->Count() - 1, 0)).bottom() + 1;
  if (Event->position().y() >= BelowRows) emit doubleClicked(QModelIndex());
}
