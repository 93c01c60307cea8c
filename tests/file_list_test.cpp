#include <gtest/gtest.h>

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>

#include "common/TextUtil.h"
#include "filelist/FileListDisplay.h"
#include "ui/TFileListView.h"

namespace {
TFileItem MakeItem(const std::string& Name, std::uint8_t Status, const std::string& Info) {
  TFileItem Item{};
  Assign(Item.FileName, Name);
  Item.Status = Status;
  Assign(Item.Info, Info);
  return Item;
}
}  // namespace

TEST(FileItem, RecordIsPackedAsLengthPrefixedStrings) {
  TFileItem Item{};
  Assign(Item.FileName, "C:/a.exe");
  const auto* Bytes = reinterpret_cast<const std::uint8_t*>(&Item);
  EXPECT_EQ(Bytes[0], 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Bytes + 1), 8), "C:/a.exe");
  Item.Status = fsWarning;
  EXPECT_EQ(Bytes[256], 3);
}

TEST(FileItem, LongTextIsCutTo255BytesOnACharacterBoundary) {
  const std::string Ascii(300, 'a');
  TShortString Value{};
  Assign(Value, Ascii);
  EXPECT_EQ(ToString(Value), Ascii.substr(0, 255));

  // 84 three-byte characters fill 252 bytes; the 85th would end at byte 255 exactly.
  std::string Chinese;
  for (int I = 0; I < 90; ++I) Chinese += "签";
  Assign(Value, Chinese);
  EXPECT_EQ(Value.Length, 255);
  // With one ASCII byte in front, the 85th character would straddle the cut and is dropped.
  Assign(Value, "x" + Chinese);
  EXPECT_EQ(Value.Length, 253);
  EXPECT_EQ(ToString(Value), "x" + Chinese.substr(0, 252));
  EXPECT_EQ(CutUtf8("ab", 5), "ab");
}

TEST(FileListDisplay, TextPerColumn) {
  const TFileItem Item = MakeItem("/w/a.exe", fsFailed, "SignTool Error: x");
  EXPECT_EQ(FileCellText(Item, 0), "/w/a.exe");
  EXPECT_EQ(FileCellText(Item, 1), "SignTool Error: x");
  EXPECT_EQ(FileCellText(Item, 2), std::nullopt);
  EXPECT_EQ(FileCellText(Item, -1), std::nullopt);
}

TEST(FileListDisplay, ImagePerStatusAndColumn) {
  const std::pair<std::uint8_t, int> Expected[] = {{fsPending, -1}, {fsOk, 0}, {fsFailed, 1}, {fsWarning, 2}};
  for (const auto& [Status, Image] : Expected) {
    const TFileItem Item = MakeItem("/w/a.exe", Status, "");
    EXPECT_EQ(FileCellImage(Item, 0), Image) << int(Status);
    EXPECT_EQ(FileCellImage(Item, 2), Image) << "every column but the message column";
    EXPECT_EQ(FileCellImage(Item, 1), -1);
  }
}

TEST(FileListModel, NewRowShowsItsPathOnlyAndLaterResultsReplaceEachOther) {
  TFileListModel Model;
  const TRowId Id = Model.Append("/w/a.exe");
  EXPECT_EQ(Model.data(Model.index(0, 0), Qt::DisplayRole).toString(), "/w/a.exe");
  EXPECT_EQ(Model.data(Model.index(0, 1), Qt::DisplayRole).toString(), "");
  EXPECT_FALSE(Model.data(Model.index(0, 0), Qt::DecorationRole).isValid());

  QSignalSpy Repaints(&Model, &QAbstractItemModel::dataChanged);
  Model.SetResult(Id, fsFailed, "文件没有签名");
  EXPECT_EQ(Repaints.count(), 1);
  EXPECT_EQ(Model.data(Model.index(0, 1), Qt::DisplayRole).toString(), "文件没有签名");
  EXPECT_TRUE(Model.data(Model.index(0, 0), Qt::DecorationRole).isValid());
  EXPECT_FALSE(Model.data(Model.index(0, 1), Qt::DecorationRole).isValid());

  Model.SetResult(Id, fsOk, "");
  EXPECT_EQ(Model.data(Model.index(0, 1), Qt::DisplayRole).toString(), "");
  EXPECT_EQ(Model.Item(Id)->Status, fsOk);
  EXPECT_EQ(Model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "文件路径");
  EXPECT_EQ(Model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "操作信息");
}

TEST(FileListModel, WalkKeepsItsPlaceWhenRowsAreDeleted) {
  TFileListModel Model;
  std::vector<TRowId> Ids;
  for (const char* Name : {"/a.exe", "/b.exe", "/c.exe", "/d.exe", "/e.exe"}) Ids.push_back(Model.Append(Name));

  // The walk stands on b; b, c and e are deleted meanwhile: the next row is d.
  Model.RemoveRowsAt({1, 2, 4});
  EXPECT_EQ(Model.Item(Ids[1]), nullptr);
  EXPECT_EQ(Model.Next(Ids[1]), Ids[3]);
  EXPECT_EQ(Model.Next(Ids[3]), std::nullopt);
  const TRowId Added = Model.Append("/f.exe");
  EXPECT_EQ(Model.Next(Ids[3]), Added);
  EXPECT_EQ(Model.First(), Ids[0]);
  EXPECT_EQ(Model.Count(), 3);
  EXPECT_EQ(Model.RowOf(Added), 2);
}

TEST(FileListModel, FileNameIndexFollowsAppendsAndDeletions) {
  TFileListModel Model;
  Model.Append("/X/A.exe");
  Model.Append("/x/a.EXE");
  EXPECT_TRUE(Model.ContainsFileName("/x/A.exe"));
  EXPECT_FALSE(Model.ContainsFileName("/x/a.ex"));
  Model.RemoveRowsAt({0});
  EXPECT_TRUE(Model.ContainsFileName("/x/a.exe"));
  Model.RemoveRowsAt({0});
  EXPECT_FALSE(Model.ContainsFileName("/x/a.exe"));
}

TEST(FileListModel, NamesLongerThanARecordStayWholeAndApart) {
  TFileListModel Model;
  const std::string Shared = "/" + std::string(254, 'd');
  const TRowId First = Model.Append(Shared + "/one.exe");
  const TRowId Second = Model.Append(Shared + "/two.exe");
  EXPECT_EQ(Model.FileName(First), Shared + "/one.exe");
  EXPECT_EQ(Model.FileName(Second), Shared + "/two.exe");
  EXPECT_EQ(Model.data(Model.index(1, fcFileName), Qt::ToolTipRole).toString().toStdString(), Shared + "/two.exe");
  EXPECT_TRUE(Model.ContainsFileName(Shared + "/ONE.exe"));
  EXPECT_FALSE(Model.ContainsFileName(Shared));
  Model.RemoveRowsAt({0});
  EXPECT_EQ(Model.FileName(First), "");
  EXPECT_FALSE(Model.ContainsFileName(Shared + "/one.exe"));
  EXPECT_TRUE(Model.ContainsFileName(Shared + "/two.exe"));
}

TEST(FileListView, AppearanceAndHeader) {
  TFileListView View;
  View.resize(622, 179);
  View.show();
  View.Files()->Append("/a.exe");
  EXPECT_EQ(View.header()->sectionSize(0), 350);
  EXPECT_EQ(View.header()->sectionSize(1), 240);
  EXPECT_EQ(View.header()->height(), 22);
  EXPECT_EQ(View.visualRect(View.Files()->index(0, 0)).height(), 22);
  EXPECT_EQ(View.header()->font().pixelSize(), 11);
  EXPECT_TRUE(View.header()->sectionsMovable());
  EXPECT_EQ(View.header()->sectionResizeMode(0), QHeaderView::Interactive);
  EXPECT_EQ(View.selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(View.selectionMode(), QAbstractItemView::ExtendedSelection);
}

TEST(FileListView, HeaderClickKeepsRowOrder) {
  TFileListView View;
  View.resize(622, 179);
  View.show();
  for (const char* Name : {"/c.exe", "/a.exe", "/b.exe"}) View.Files()->Append(Name);
  const QPoint OnFirstHeader(View.header()->sectionViewportPosition(0) + 10, 10);
  QTest::mouseClick(View.header()->viewport(), Qt::LeftButton, {}, OnFirstHeader);
  EXPECT_EQ(View.Files()->data(View.Files()->index(0, 0), Qt::DisplayRole).toString(), "/c.exe");
  EXPECT_EQ(View.Files()->data(View.Files()->index(2, 0), Qt::DisplayRole).toString(), "/b.exe");
}

TEST(FileListView, SelectionCommandsReachRowsOutOfView) {
  TFileListView View;
  View.resize(622, 179);
  View.show();
  for (int I = 0; I < 200; ++I) View.Files()->Append("/f" + std::to_string(I) + ".exe");
  View.SelectAllRows();
  EXPECT_EQ(View.SelectedPositions().size(), 200u);
  View.ClearSelection();
  EXPECT_TRUE(View.SelectedPositions().empty());

  View.selectionModel()->select(View.Files()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  View.selectionModel()->select(View.Files()->index(199, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  View.InvertSelection();
  auto Selected = View.SelectedPositions();
  std::sort(Selected.begin(), Selected.end());
  ASSERT_EQ(Selected.size(), 198u);
  EXPECT_EQ(Selected.front(), 1);
  EXPECT_EQ(Selected.back(), 198);

  View.DeleteSelected();
  ASSERT_EQ(View.Files()->Count(), 2);
  EXPECT_EQ(View.Files()->data(View.Files()->index(1, 0), Qt::DisplayRole).toString(), "/f199.exe");
}

TEST(FileListView, FocusedRowIsNoneUntilARowIsCurrent) {
  TFileListView View;
  const TRowId Id = View.Files()->Append("/a.exe");
  EXPECT_EQ(View.FocusedRow(), std::nullopt);
  View.setCurrentIndex(View.Files()->index(0, 0));
  EXPECT_EQ(View.FocusedRow(), Id);
}
