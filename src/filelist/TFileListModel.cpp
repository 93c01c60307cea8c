#include "filelist/TFileListModel.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstring>

#include "common/TextUtil.h"
#include "filelist/FileListDisplay.h"

namespace {
constexpr std::array<const char*, 2> ColumnHeaders = {QT_TRANSLATE_NOOP("TFileListModel", "文件路径"),
                                                     QT_TRANSLATE_NOOP("TFileListModel", "操作信息")};

}  // namespace

TFileListModel::TFileListModel(QObject* Parent)
    : QAbstractTableModel(Parent),
      StatusImages{QIcon(":/res/status-ok.png"), QIcon(":/res/status-failed.png"),
                   QIcon(":/res/status-warning.png")} {}

TRowId TFileListModel::Append(std::string_view FileName) {
  TRow Row{NextId++, {}, std::string(FileName)};
  std::memset(&Row.Item, 0, sizeof Row.Item);
  Assign(Row.Item.FileName, FileName);
  const int Position = Count();
  beginInsertRows({}, Position, Position);
  ++FileNameIndex[AsciiLower(Row.FileName)];
  Rows.push_back(std::move(Row));
  endInsertRows();
  return Row.Id;
}

std::optional<TRowId> TFileListModel::First() const {
  if (Rows.empty()) return std::nullopt;
  return Rows.front().Id;
}

std::optional<TRowId> TFileListModel::Next(TRowId After) const {
  const auto It = std::upper_bound(Rows.begin(), Rows.end(), After,
                                   [](TRowId Id, const TRow& Row) { return Id < Row.Id; });
  if (It == Rows.end()) return std::nullopt;
  return It->Id;
}

int TFileListModel::RowOf(TRowId Id) const {
  const auto It = std::lower_bound(Rows.begin(), Rows.end(), Id,
                                   [](const TRow& Row, TRowId Wanted) { return Row.Id < Wanted; });
  if (It == Rows.end() || It->Id != Id) return -1;
  return static_cast<int>(It - Rows.begin());
}

const TFileItem* TFileListModel::Item(TRowId Id) const {
  const int Row = RowOf(Id);
  return Row < 0 ? nullptr : &Rows[static_cast<std::size_t>(Row)].Item;
}

std::string TFileListModel::FileName(TRowId Id) const {
  const int Row = RowOf(Id);
  return Row < 0 ? std::string() : Rows[static_cast<std::size_t>(Row)].FileName;
}

void TFileListModel::SetResult(TRowId Id, TFileStatus Status, std::string_view Info) {
  const int Row = RowOf(Id);
  if (Row < 0) return;
  TFileItem& Target = Rows[static_cast<std::size_t>(Row)].Item;
  Target.Status = Status;
  Assign(Target.Info, Info);
  Repaint(Id);
}

void TFileListModel::Repaint(TRowId Id) {
  const int Row = RowOf(Id);
  if (Row >= 0) emit dataChanged(index(Row, 0), index(Row, columnCount() - 1));
}

bool TFileListModel::ContainsFileName(std::string_view Name) const {
  return FileNameIndex.count(AsciiLower(Name)) > 0;
}

void TFileListModel::Forget(const TRow& Row) {
  const auto It = FileNameIndex.find(AsciiLower(Row.FileName));
  if (It != FileNameIndex.end() && --It->second == 0) FileNameIndex.erase(It);
}

void TFileListModel::RemoveRowsAt(std::vector<int> Positions) {
  std::sort(Positions.begin(), Positions.end());
  Positions.erase(std::unique(Positions.begin(), Positions.end()), Positions.end());
  // From the back, one contiguous run at a time, so earlier positions stay valid.
  for (auto End = Positions.rbegin(); End != Positions.rend();) {
    auto Start = End;
    while (std::next(Start) != Positions.rend() && *std::next(Start) == *Start - 1) ++Start;
    const int Last = *End;
    const int FirstOfRun = *Start;
    End = std::next(Start);
    if (FirstOfRun < 0 || Last >= Count()) continue;
    beginRemoveRows({}, FirstOfRun, Last);
    for (int Row = FirstOfRun; Row <= Last; ++Row) Forget(Rows[static_cast<std::size_t>(Row)]);
    Rows.erase(Rows.begin() + FirstOfRun, Rows.begin() + Last + 1);
    endRemoveRows();
  }
}

int TFileListModel::rowCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : Count(); }

int TFileListModel::columnCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : static_cast<int>(ColumnHeaders.size());
}

QVariant TFileListModel::data(const QModelIndex& Index, int Role) const {
  if (!Index.isValid() || Index.row() >= Count()) return {};
  const TRow& Row = Rows[static_cast<std::size_t>(Index.row())];
  const TFileItem& Item = Row.Item;
  // The record's field may hold a cut name; the tip names the whole file.
  if (Role == Qt::ToolTipRole && Index.column() == fcFileName) return QString::fromStdString(Row.FileName);
  if (Role == Qt::DisplayRole || Role == Qt::ToolTipRole) {
    const auto Text = FileCellText(Item, Index.column());
    if (!Text) return {};
    // The stripper's messages are shown in the user's language; any other text is not in the
    // catalogue and comes back unchanged.
    if (Index.column() == fcInfo) return QCoreApplication::translate("StripSignature", Text->c_str());
    return QString::fromStdString(*Text);
  }
  if (Role == Qt::DecorationRole) {
    const int Image = FileCellImage(Item, Index.column());
    return Image == siNone ? QVariant() : QVariant(StatusImages[static_cast<std::size_t>(Image)]);
  }
  return {};
}

QVariant TFileListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole || Section < 0 ||
      Section >= columnCount())
    return {};
  return tr(ColumnHeaders[static_cast<std::size_t>(Section)]);
}

Qt::ItemFlags TFileListModel::flags(const QModelIndex& Index) const {
  return Index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled
                         : Qt::ItemIsDropEnabled;
}
