#include "ui/TFileListView.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <algorithm>

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
  Header->resizeSection(fcFileName, FileNameWidth);
  Header->resizeSection(fcInfo, InfoWidth);

  connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this, &TFileListView::ScrolledByUser);
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

template <class THandle>
void TFileListView::NoticingScroll(THandle Handle) {
  const int Before = verticalScrollBar()->value();
  Handle();
  if (verticalScrollBar()->value() != Before) emit ScrolledByUser();
}

void TFileListView::mousePressEvent(QMouseEvent* Event) {
  NoticingScroll([&] { QTreeView::mousePressEvent(Event); });
}

void TFileListView::keyPressEvent(QKeyEvent* Event) {
  const bool MenuKey = Event->key() == Qt::Key_Menu && Event->modifiers() == Qt::NoModifier;
  const bool ShiftF10 = Event->key() == Qt::Key_F10 && Event->modifiers() == Qt::ShiftModifier;
  if (MenuKey || ShiftF10) {
    Event->accept();
    emit customContextMenuRequested(KeyboardMenuPoint());
    return;
  }
  NoticingScroll([&] { QTreeView::keyPressEvent(Event); });
}

bool TFileListView::event(QEvent* Event) {
  // Some window systems turn the Menu key into a context-menu event of their own as well; the
  // key press above is what opens the menu, on every platform and once.
  if (Event->type() == QEvent::ContextMenu &&
      static_cast<QContextMenuEvent*>(Event)->reason() == QContextMenuEvent::Keyboard) {
    Event->accept();
    return true;
  }
  return QTreeView::event(Event);
}

void TFileListView::resizeEvent(QResizeEvent* Event) {
  QTreeView::resizeEvent(Event);
  FitInfoColumn(Event->size().width());
}

void TFileListView::FitInfoColumn(int ViewportWidth) {
  const int DesignViewportWidth = DesignWidth - 2 * frameWidth();
  const int SpareInDesign = DesignViewportWidth - FileNameWidth - InfoWidth;
  const int Others = header()->length() - header()->sectionSize(fcInfo);
  header()->resizeSection(fcInfo, std::max(InfoWidth, ViewportWidth - Others - SpareInDesign));
}

QPoint TFileListView::KeyboardMenuPoint() const {
  // Just below the focused row's start when it is in view, else the list's top left corner.
  const QRect Row = visualRect(currentIndex());
  if (Row.isValid() && viewport()->rect().intersects(Row)) return {Row.left() + 8, Row.bottom()};
  return {0, 0};
}
