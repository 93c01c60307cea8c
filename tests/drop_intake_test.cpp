#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include <unistd.h>

#include "filelist/DropIntake.h"
#include "ui/FileDialogs.h"
#include "ui/TFileListView.h"
#include "support/PeFixtures.h"
#include "support/PromptRecorder.h"
#include "support/ShellLinkFiles.h"
#include "ui/uFrmMain.h"

namespace {
std::string AsciiUpper(std::string Text) {
  for (char& C : Text)
    if (C >= 'a' && C <= 'z') C = static_cast<char>(C - 'a' + 'A');
  return Text;
}

class DropIntake : public ::testing::Test {
 protected:
  std::string PathOf(const QString& Name) const { return Folder.filePath(Name).toStdString(); }

  std::string MakeFile(const QString& Name, const std::vector<std::uint8_t>& Bytes = {}) {
    WriteBytes(PathOf(Name), Bytes);
    return PathOf(Name);
  }

  std::string MakeFolder(const QString& Name) {
    QDir(Folder.path()).mkpath(Name);
    return PathOf(Name);
  }

  std::string MakeLink(const QString& Name, const std::string& Target) {
    return MakeFile(Name, ShellLinkTo(Target));
  }

  // Drags Data into the list's viewport and drops it there, as a drag from another program
  // arrives. Qt delivers a drop only to the widget that accepted the drag's entry.
  bool DropData(QMimeData& Data, Qt::DropActions Possible = Qt::CopyAction | Qt::MoveAction) {
    QDragEnterEvent Enter(QPoint(20, 20), Possible, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Form.vstFiles->viewport(), &Enter);
    EXPECT_TRUE(Enter.isAccepted());
    QDropEvent Event(QPointF(20, 20), Possible, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Form.vstFiles->viewport(), &Event);
    LastAction = Event.dropAction();
    return Event.isAccepted();
  }

  bool Drop(const std::vector<std::string>& Names) {
    QList<QUrl> Urls;
    for (const std::string& Name : Names) Urls.append(QUrl::fromLocalFile(QString::fromStdString(Name)));
    QMimeData Data;
    Data.setUrls(Urls);
    return DropData(Data);
  }

  std::vector<std::string> Rows() const {
    std::vector<std::string> Names;
    const TFileListModel& Files = *Form.vstFiles->Files();
    for (auto Id = Files.First(); Id; Id = Files.Next(*Id)) Names.push_back(ToString(Files.Item(*Id)->FileName));
    return Names;
  }

  QTemporaryDir Folder;
  PromptRecorder Prompts;
  TFrmMain Form;
  Qt::DropAction LastAction = Qt::IgnoreAction;
};
}  // namespace

TEST(DropExtension, TakenAfterTheLastSeparatorAndLowerCased) {
  EXPECT_EQ(LowerExtension("/a/b/App.EXE"), ".exe");
  EXPECT_EQ(LowerExtension("C:\\Tools\\x.Tar.GZ"), ".gz");
  EXPECT_EQ(LowerExtension("/a.dll/readme"), "");
  EXPECT_EQ(LowerExtension("C:\\tools.dll\\bin"), "");
  EXPECT_EQ(LowerExtension("C:app.EXE"), ".exe");
  EXPECT_EQ(LowerExtension("C:.exe"), ".exe");
  EXPECT_EQ(LowerExtension("/a/b/trailing."), ".");
  EXPECT_EQ(LowerExtension(""), "");
  EXPECT_EQ(LowerExtension("/a/程序.ÉXE"), ".Éxe");  // only A-Z are folded
}

TEST_F(DropIntake, TakesTheFourTypesIgnoringCaseInTheGivenOrder) {
  const std::vector<std::string> Names = {MakeFile("A.EXE"), MakeFile("b.Dll"), MakeFile("c.sys"), MakeFile("d.cab")};
  EXPECT_TRUE(Drop(Names));
  EXPECT_EQ(Rows(), Names);
  const TFileItem* First = Form.vstFiles->Files()->Item(*Form.vstFiles->Files()->First());
  EXPECT_EQ(First->Status, fsPending);
  EXPECT_EQ(First->Info.Length, 0);
}

TEST_F(DropIntake, SkipsOtherTypesAndPlainFoldersButListsAFolderNamedLikeAProgram) {
  Drop({MakeFile("e.ocx"), MakeFile("f.msi"), MakeFile("g.txt"), MakeFile("noext"), MakeFile("h.exe.bak"),
        MakeFolder("tools"), MakeFolder("bin.exe/inner")});
  EXPECT_EQ(Rows(), std::vector<std::string>{});
  const std::string ToolsDll = MakeFolder("tools.dll");
  Drop({ToolsDll});
  EXPECT_EQ(Rows(), std::vector<std::string>{ToolsDll});
}

TEST_F(DropIntake, NamesNeedNotExistAndKeepTheirOrder) {
  const std::vector<std::string> Names = {"/nowhere/z.exe", "/nowhere/a.sys", "/nowhere/m/程序.exe"};
  Drop(Names);
  EXPECT_EQ(Rows(), Names);
  Drop({"/nowhere/b.cab"});
  EXPECT_EQ(Rows().back(), "/nowhere/b.cab");
  EXPECT_EQ(Rows().size(), 4u);
}

TEST_F(DropIntake, DuplicatesAreSkippedIgnoringAsciiCaseOnly) {
  const std::string App = MakeFile("App.exe");
  Drop({App, App});
  Drop({App});
  EXPECT_EQ(Rows(), std::vector<std::string>{App});

  Drop({"/x/A.exe", "/X/a.EXE"});
  EXPECT_EQ(Rows().size(), 2u);
  Drop({"/x/Ä.exe", "/x/ä.exe"});  // not ASCII letters: different names
  EXPECT_EQ(Rows().size(), 4u);
}

TEST_F(DropIntake, RemovedNameCanBeDroppedAgain) {
  Drop({"/w/a.exe", "/w/b.exe"});
  Form.vstFiles->Files()->RemoveRowsAt({0});
  Drop({"/W/A.EXE"});
  EXPECT_EQ(Rows(), (std::vector<std::string>{"/w/b.exe", "/W/A.EXE"}));
}

TEST_F(DropIntake, TheAddEntriesTakeFilesAndFoldersByTheDropsRules) {
  const std::string App = MakeFile("a.exe");
  const std::string Dll = MakeFile("c.DLL");
  QString AskedFilter;
  SetOpenFilesHandler([&](const QString& Filter) {
    AskedFilter = Filter;
    return QStringList{QString::fromStdString(App), QString::fromStdString(MakeFile("b.txt")),
                       QString::fromStdString(Dll), QString::fromStdString(App)};
  });
  Form.pmiAddFiles->trigger();
  EXPECT_EQ(Rows(), (std::vector<std::string>{App, Dll}));
  EXPECT_TRUE(AskedFilter.contains("*.exe *.dll *.sys *.cab *.lnk")) << AskedFilter.toStdString();
  SetOpenFilesHandler([](const QString&) { return QStringList(); });
  Form.pmiAddFiles->trigger();
  EXPECT_EQ(Rows().size(), 2u);

  // Below the folder, in every sub-folder: the four types and shortcuts to them; other files,
  // folders named like programs, and a second name of a listed file are passed over.
  MakeFolder("elsewhere");
  MakeFolder("top/sub/deeper");
  const std::string Elsewhere = MakeFile("elsewhere/t.exe");
  MakeLink("top/link.lnk", Elsewhere);
  MakeFile("top/notes.txt");
  const std::string Deeper = MakeFile("top/sub/deeper/z.exe");
  const std::string Cab = MakeFile("top/sub/y.cab");
  MakeFolder("top/tools.dll/empty");
  const std::string Sys = MakeFile("top/x.sys");
  ASSERT_EQ(::symlink(App.c_str(), PathOf("top/again.exe").c_str()), 0);
  SetFolderHandler([&] { return std::optional<QString>(QString::fromStdString(PathOf("top"))); });
  Form.pmiAddFolder->trigger();
  EXPECT_EQ(Rows(), (std::vector<std::string>{App, Dll, Elsewhere, Deeper, Cab, Sys}));
  // Again: everything is listed already.
  Form.pmiAddFolder->trigger();
  EXPECT_EQ(Rows().size(), 6u);
  SetFolderHandler([] { return std::optional<QString>(); });
  Form.pmiAddFolder->trigger();
  EXPECT_EQ(Rows().size(), 6u);
  SetOpenFilesHandler({});
  SetFolderHandler({});
  EXPECT_TRUE(Prompts.Shown().empty());
}

TEST_F(DropIntake, OneFileUnderSeveralNamesIsListedOnceUnderItsFirstName) {
  const std::string App = MakeFile("s.exe", BuildPe({}));
  MakeFolder("sub");
  const std::string Symbolic = PathOf("link.exe");
  const std::string Hard = PathOf("hard.EXE");
  ASSERT_EQ(::symlink(App.c_str(), Symbolic.c_str()), 0);
  ASSERT_EQ(::link(App.c_str(), Hard.c_str()), 0);
  Drop({Symbolic, App, Hard, PathOf("sub/../s.exe"), PathOf("./sub//.././s.exe")});
  EXPECT_EQ(Rows(), std::vector<std::string>{Symbolic});

  // Against rows already listed too, also once the file was replaced by a new one, as signing
  // does.
  const std::string Other = MakeFile("other.dll");
  Drop({Other});
  const std::string Replacement = MakeFile("new.dll");
  ASSERT_EQ(::rename(Replacement.c_str(), Other.c_str()), 0);
  const std::string OtherLink = PathOf("other-link.dll");
  ASSERT_EQ(::symlink(Other.c_str(), OtherLink.c_str()), 0);
  Drop({Hard, OtherLink, PathOf("sub/../other.dll")});
  EXPECT_EQ(Rows(), (std::vector<std::string>{Symbolic, Other}));
}

TEST_F(DropIntake, DotSegmentsAreTakenOutOnlyWhereTheNameStillLeadsToTheSameFile) {
  const std::string Top = MakeFile("s.exe");
  MakeFolder("sub");
  Drop({PathOf("sub/./../s.exe")});
  EXPECT_EQ(Rows(), std::vector<std::string>{Top});

  // "jump/.." is the parent of jump's target, not this folder: another file of the same name.
  MakeFolder("elsewhere/inner");
  const std::string Elsewhere = MakeFile("elsewhere/s.exe");
  ASSERT_EQ(::symlink(PathOf("elsewhere/inner").c_str(), PathOf("jump").c_str()), 0);
  const std::string ThroughLink = PathOf("jump/../s.exe");
  // Through a folder that is not there the name leads nowhere, whatever follows the "..".
  const std::string ThroughNothing = PathOf("missing/../s.exe");
  Drop({ThroughLink, Elsewhere, ThroughNothing});
  EXPECT_EQ(Rows(), (std::vector<std::string>{Top, ThroughLink, ThroughNothing}));

  // Names that lead nowhere are compared as they read without their dot segments.
  Drop({"/nowhere/a/../b.exe", "/nowhere/./b.exe", "/nowhere/b.exe"});
  EXPECT_EQ(Rows().back(), "/nowhere/b.exe");
  EXPECT_EQ(Rows().size(), 4u);
}

TEST_F(DropIntake, ShortcutIsReplacedByItsTarget) {
  const std::string App = MakeFile("app.exe", BuildPe({}));
  Drop({MakeLink("App.LNK", App)});
  EXPECT_EQ(Rows(), std::vector<std::string>{App});
  Drop({App});
  Drop({MakeLink("again.lnk", AsciiUpper(App))});
  EXPECT_EQ(Rows(), std::vector<std::string>{App});

  // The target needs only the right extension.
  Drop({MakeLink("windows.lnk", "C:\\tools\\app.exe")});
  EXPECT_EQ(Rows().back(), "C:\\tools\\app.exe");
}

TEST_F(DropIntake, ShortcutsToAnythingElseAddNothing) {
  TShellLinkLayout WebPage;
  WebPage.WithLinkInfo = false;
  Drop({MakeLink("folder.lnk", MakeFolder("tools")), MakeLink("notes.lnk", MakeFile("notes.txt")),
        MakeFile("web.lnk", BuildShellLink(WebPage).Bytes), MakeFile("broken.lnk", {'x'}),
        MakeLink("chain.lnk", MakeLink("inner.lnk", "/w/app.exe"))});
  EXPECT_EQ(Rows(), std::vector<std::string>{});
  EXPECT_TRUE(Prompts.Shown().empty());
}

TEST_F(DropIntake, TextDropAddsNothingAndShowsNothing) {
  QMimeData Text;
  Text.setText("/w/app.exe");
  EXPECT_FALSE(DropData(Text));
  QMimeData Nothing;
  EXPECT_FALSE(DropData(Nothing));
  EXPECT_EQ(Rows(), std::vector<std::string>{});
  EXPECT_TRUE(Prompts.Shown().empty());
}

TEST_F(DropIntake, AddressesThatAreNoLocalFilesAreLeftOut) {
  QMimeData Data;
  Data.setUrls({QUrl("https://example.com/setup.exe"), QUrl::fromLocalFile("/w/a.exe"), QUrl("ftp://host/b.dll")});
  DropData(Data);
  EXPECT_EQ(Rows(), std::vector<std::string>{"/w/a.exe"});
}

TEST_F(DropIntake, DropIsReportedAsACopySoTheSourceKeepsItsFiles) {
  EXPECT_TRUE(Drop({"/w/a.exe"}));
  EXPECT_EQ(LastAction, Qt::CopyAction);

  QMimeData MoveOnly;
  MoveOnly.setUrls({QUrl::fromLocalFile("/w/b.exe")});
  EXPECT_FALSE(DropData(MoveOnly, Qt::MoveAction));
  EXPECT_EQ(Rows(), (std::vector<std::string>{"/w/a.exe", "/w/b.exe"}));
}

TEST_F(DropIntake, DragOverAcceptsEveryDrag) {
  QMimeData Text;
  Text.setText("anything");
  for (const Qt::DropActions Possible : {Qt::DropActions(Qt::MoveAction), Qt::CopyAction | Qt::LinkAction}) {
    QDragEnterEvent Event(QPoint(5, 5), Possible, &Text, Qt::LeftButton, Qt::NoModifier);
    Event.ignore();
    QApplication::sendEvent(Form.vstFiles->viewport(), &Event);
    EXPECT_TRUE(Event.isAccepted());
    EXPECT_TRUE(Possible.testFlag(Event.dropAction()));
  }
}
