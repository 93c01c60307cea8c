// config.ini and the four drop-down histories of the main window.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

#include "history/HistoryList.h"
#include "history/HistoryStore.h"
#include "support/PromptRecorder.h"
#include "support/ScopedEnvironment.h"
#include "ui/ConfigFile.h"
#include "ui/uFrmMain.h"

namespace {
std::string ReadText(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

void WriteText(const std::string& Path, const std::string& Text) {
  std::ofstream Out(Path, std::ios::binary);
  Out << Text;
}

// The file's lines without blank lines and line ends.
std::vector<std::string> Lines(const std::string& Path) {
  std::vector<std::string> Result;
  std::string Text = ReadText(Path);
  std::size_t Start = 0;
  while (Start < Text.size()) {
    std::size_t End = Text.find('\n', Start);
    if (End == std::string::npos) End = Text.size();
    std::string Line = Text.substr(Start, End - Start);
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    if (!Line.empty()) Result.push_back(Line);
    Start = End + 1;
  }
  return Result;
}

using TLines = std::vector<std::string>;
using namespace std::string_literals;

class HistoryStoreTest : public ::testing::Test {
 protected:
  QTemporaryDir Folder;
  std::string Path = QDir(Folder.path()).filePath("config.ini").toStdString();
};

TEST_F(HistoryStoreTest, MissingFileReadsEmptyAndIsCreatedOnSave) {
  THistoryStore Store(Path);
  EXPECT_TRUE(Store.Keys("File").empty());
  EXPECT_EQ(Store.Read("File", "1"), "");
  Store.Write("File", "1", "D:\\certs\\company.pfx");
  Store.Save();
  EXPECT_EQ(Lines(Path), (TLines{"[File]", "1=D:\\certs\\company.pfx"}));
}

TEST_F(HistoryStoreTest, NamesMatchWithoutCaseAndWritesReplaceInPlace) {
  WriteText(Path, "[description]\n1=First\n2=Second\n[File]\n1=a.pfx\n");
  THistoryStore Store(Path);
  EXPECT_EQ(Store.Read("DESCRIPTION", "1"), "First");
  EXPECT_EQ(Store.Keys("Description"), (TLines{"1", "2"}));
  Store.Write("Description", "1", "Changed");
  Store.Save();
  EXPECT_EQ(Lines(Path), (TLines{"[description]", "1=Changed", "2=Second", "[File]", "1=a.pfx"}));
}

TEST_F(HistoryStoreTest, NewKeysGoToTheEndOfTheirSectionAndNewSectionsToTheEndOfTheFile) {
  WriteText(Path, "[Description]\n1=First\n[File]\n1=a.pfx\n");
  THistoryStore Store(Path);
  Store.Write("Description", "2", "Second");
  Store.Write("URL", "1", "");
  Store.Write("file", "2", "b.pfx");
  Store.Save();
  EXPECT_EQ(Lines(Path),
            (TLines{"[Description]", "1=First", "2=Second", "[File]", "1=a.pfx", "2=b.pfx", "[URL]", "1="}));
}

TEST_F(HistoryStoreTest, KeysComeInFileOrderAndDeletingKeepsTheHeader) {
  WriteText(Path, "[File]\nzeta=z\n10=ten\nalpha=a\n[URL]\n1=u\n");
  THistoryStore Store(Path);
  EXPECT_EQ(Store.Keys("file"), (TLines{"zeta", "10", "alpha"}));
  for (const std::string& Key : Store.Keys("File")) Store.Delete("File", Key);
  Store.Save();
  EXPECT_EQ(Lines(Path), (TLines{"[File]", "[URL]", "1=u"}));
  EXPECT_TRUE(THistoryStore(Path).Keys("File").empty());
}

TEST_F(HistoryStoreTest, ValuesAreTrimmedAndCutAt2047Bytes) {
  const std::string Long(3000, 'x');
  // 2046 ASCII bytes and then a three-byte character that does not fit.
  const std::string Wide = std::string(2046, 'y') + "签";
  WriteText(Path, "[TimeStamp]\n1=\t  http://ts.example  \x01\n2=" + Long + "\n3=" + Wide + "\n4=\n");
  THistoryStore Store(Path);
  EXPECT_EQ(Store.Read("TimeStamp", "1"), "http://ts.example");
  EXPECT_EQ(Store.Read("TimeStamp", "2"), std::string(2047, 'x'));
  EXPECT_EQ(Store.Read("TimeStamp", "3"), std::string(2046, 'y'));
  EXPECT_EQ(Store.Read("TimeStamp", "4"), "");
  EXPECT_EQ(Store.Read("TimeStamp", "5"), "");
}

TEST_F(HistoryStoreTest, AWindowsFileLoadsAndKeepsItsByteOrderMark) {
  WriteText(Path, "\xEF\xBB\xBF[Description]\r\n1 = 第一个产品 \r\n2= Second\r\n\r\n[File]\r\n1 =c.pfx\r\n");
  THistoryStore Store(Path);
  EXPECT_EQ(Store.Keys("Description"), (TLines{"1", "2"}));
  EXPECT_EQ(Store.Read("Description", "1"), "第一个产品");
  EXPECT_EQ(Store.Read("Description", "2"), "Second");
  EXPECT_EQ(Store.Read("File", "1"), "c.pfx");
  Store.Write("Description", "3", "Third");
  Store.Save();
  EXPECT_EQ(ReadText(Path).substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(THistoryStore(Path).Read("Description", "3"), "Third");
}

TEST_F(HistoryStoreTest, AValueStaysOnOneLine) {
  THistoryStore Store(Path);
  Store.Write("Description", "1", "one\r\n[File]\n1=injected");
  Store.Save();
  THistoryStore Reread(Path);
  EXPECT_EQ(Reread.Keys("Description"), (TLines{"1"}));
  EXPECT_TRUE(Reread.Keys("File").empty());
  EXPECT_EQ(Reread.Read("Description", "1"), "one  [File] 1=injected");
}

TEST_F(HistoryStoreTest, AFailedWriteNamesTheFullPath) {
  const std::string Missing = QDir(Folder.path()).filePath("no-such-folder/config.ini").toStdString();
  THistoryStore Store(Missing);
  Store.Write("File", "1", "a.pfx");
  try {
    Store.Save();
    FAIL() << "saving into a missing folder succeeded";
  } catch (const std::runtime_error& Error) {
    EXPECT_EQ(std::string(Error.what()), "Unable to write to " + Missing);
  }

  // A relative name is reported with the folder it resolves against.
  const QString Previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(Folder.path()));
  THistoryStore Relative("missing/config.ini");
  std::string Message;
  try {
    Relative.Save();
  } catch (const std::runtime_error& Error) {
    Message = Error.what();
  }
  EXPECT_EQ(Message, "Unable to write to " + QDir(QDir::currentPath()).filePath("missing/config.ini").toStdString());
  QDir::setCurrent(Previous);
}

TEST_F(HistoryStoreTest, AFileThatCannotBeReadIsNotOverwritten) {
  // A folder where the file should be: it reads as empty, and saving must fail, not replace it.
  ASSERT_TRUE(QDir(Folder.path()).mkdir("config.ini"));
  THistoryStore Store(Path);
  EXPECT_TRUE(Store.Keys("File").empty());
  Store.Write("File", "1", "a.pfx");
  EXPECT_THROW(Store.Save(), std::runtime_error);
  EXPECT_TRUE(QFileInfo(QString::fromStdString(Path)).isDir());
}

// Whatever the file holds beyond the entries the store is asked for stays as it was.
TEST_F(HistoryStoreTest, ASaveKeepsEverythingItWasNotAskedToChange) {
  const std::string Before = "; kept by hand\n[Description]\n1=first\0after the NUL\n"s +
                             "not an entry\n[File]\n1=old.pfx\n; about the next section\n"
                             "[description]\n2=second\n[Options]\nSignParallelism=4\n";
  WriteText(Path, Before);
  THistoryStore Store(Path);
  EXPECT_EQ(Store.Keys("Description"), (TLines{"1", "2"}));
  EXPECT_EQ(Store.Read("Description", "1"), "first");
  EXPECT_EQ(Store.Read("options", "signparallelism"), "4");

  Store.Write("Description", "1", "first");  // reads the same: the line stays whole
  Store.Write("File", "1", "new.pfx");
  Store.Write("File", "2", "b.pfx");
  Store.Write("Options", "Language", "en");
  Store.Save();
  const std::string After = "; kept by hand\n[Description]\n1=first\0after the NUL\n"s +
                            "not an entry\n[File]\n1=new.pfx\n2=b.pfx\n; about the next section\n"
                            "[description]\n2=second\n[Options]\nSignParallelism=4\nLanguage=en\n";
  EXPECT_EQ(ReadText(Path), After);
}

TEST_F(HistoryStoreTest, TheFilesLineEndsAreKept) {
  WriteText(Path, "[Description]\r\n1=a\r\n\r\n[File]\r\n1=x.pfx");
  THistoryStore Store(Path);
  Store.Write("File", "2", "y.pfx");
  Store.Write("URL", "1", "http://u.example");
  Store.Save();
  EXPECT_EQ(ReadText(Path),
            "[Description]\r\n1=a\r\n\r\n[File]\r\n1=x.pfx\r\n2=y.pfx\r\n[URL]\r\n1=http://u.example\r\n");
}

TEST_F(HistoryStoreTest, WhatIsNoRegularFileOfSaneSizeIsNeitherReadNorReplaced) {
  // Each would block, never end, or exhaust memory if it were read as a file.
  ASSERT_EQ(::mkfifo(Path.c_str(), 0644), 0);
  THistoryStore Pipe(Path);
  EXPECT_TRUE(Pipe.Keys("File").empty());
  Pipe.Write("File", "1", "a.pfx");
  EXPECT_THROW(Pipe.Save(), std::runtime_error);
  EXPECT_TRUE(std::filesystem::is_fifo(std::filesystem::symlink_status(Path)));

  const std::string Device = QDir(Folder.path()).filePath("device.ini").toStdString();
  ASSERT_EQ(::symlink("/dev/zero", Device.c_str()), 0);
  THistoryStore Zero(Device);
  EXPECT_TRUE(Zero.Keys("File").empty());
  EXPECT_THROW(Zero.Save(), std::runtime_error);

  const std::string Huge = QDir(Folder.path()).filePath("huge.ini").toStdString();
  WriteText(Huge, "[File]\n1=a.pfx\n");
  std::filesystem::resize_file(Huge, THistoryStore::MaxFileSize + 1);
  THistoryStore Big(Huge);
  EXPECT_TRUE(Big.Keys("File").empty());
  EXPECT_THROW(Big.Save(), std::runtime_error);
  EXPECT_EQ(std::filesystem::file_size(Huge), THistoryStore::MaxFileSize + 1);
}

TEST_F(HistoryStoreTest, ALinkStaysALinkAndItsTargetIsWritten) {
  const std::string Target = QDir(Folder.path()).filePath("real.ini").toStdString();
  WriteText(Target, "[File]\n1=a.pfx\n");
  ASSERT_EQ(::symlink("real.ini", Path.c_str()), 0);
  THistoryStore Store(Path);
  EXPECT_EQ(Store.Read("File", "1"), "a.pfx");
  Store.Write("File", "2", "b.pfx");
  Store.Save();
  EXPECT_TRUE(std::filesystem::is_symlink(Path));
  EXPECT_EQ(ReadText(Target), "[File]\n1=a.pfx\n2=b.pfx\n");

  // A link to a file not yet there creates the file.
  const std::string Dangling = QDir(Folder.path()).filePath("dangling.ini").toStdString();
  const std::string Later = QDir(Folder.path()).filePath("later.ini").toStdString();
  ASSERT_EQ(::symlink(Later.c_str(), Dangling.c_str()), 0);
  THistoryStore Fresh(Dangling);
  Fresh.Write("URL", "1", "http://u.example");
  Fresh.Save();
  EXPECT_TRUE(std::filesystem::is_symlink(Dangling));
  EXPECT_EQ(ReadText(Later), "[URL]\n1=http://u.example\n");
}

TEST_F(HistoryStoreTest, AFileWithoutWritePermissionIsLeftAlone) {
  const std::string Before = "[File]\n1=a.pfx\n";
  WriteText(Path, Before);
  std::filesystem::permissions(Path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  THistoryStore Store(Path);
  Store.Write("File", "2", "b.pfx");
  try {
    Store.Save();
    FAIL() << "a read-only file was replaced";
  } catch (const std::runtime_error& Error) {
    EXPECT_EQ(std::string(Error.what()), "Unable to write to " + Path);
  }
  EXPECT_EQ(ReadText(Path), Before);
}

TEST_F(HistoryStoreTest, CrOnlyLineEndsAreLinesToo) {
  WriteText(Path, "[File]\r1=a.pfx\r2=b.pfx\r[URL]\r\n1=u\n2=v");
  THistoryStore Store(Path);
  EXPECT_EQ(Store.Keys("File"), (TLines{"1", "2"}));
  EXPECT_EQ(Store.Read("File", "2"), "b.pfx");
  EXPECT_EQ(Store.Keys("URL"), (TLines{"1", "2"}));
  Store.Write("File", "3", "c.pfx");
  Store.Write("URL", "3", "w");
  Store.Save();
  // Each line keeps its own end; added lines take the file's first.
  EXPECT_EQ(ReadText(Path), "[File]\r1=a.pfx\r2=b.pfx\r3=c.pfx\r[URL]\r\n1=u\n2=v\r3=w\r");
}

TEST_F(HistoryStoreTest, SavesFromSeparateLoadsKeepEachOthersEdits) {
  WriteText(Path, "[Description]\n1=shared\n[Options]\nSignParallelism=2\n");
  THistoryStore First(Path);
  THistoryStore Second(Path);
  WriteHistory(First, "Description", {"shared", "first"});
  First.Write("Options", "Language", "en");
  WriteHistory(Second, "Description", {"shared", "second"});
  Second.Write("Options", "SignParallelism", "4");
  First.Save();
  Second.Save();
  // The second save puts its own entries first and then the ones it did not have.
  EXPECT_EQ(ReadText(Path), "[Description]\n1=shared\n2=second\n3=first\n"
                            "[Options]\nSignParallelism=4\nLanguage=en\n");
  EXPECT_EQ(Second.Read("Options", "Language"), "en");

  // Both made the file, which was not there when they read it.
  ASSERT_EQ(::unlink(Path.c_str()), 0);
  THistoryStore Third(Path);
  THistoryStore Fourth(Path);
  WriteHistory(Third, "URL", {"http://third.example"});
  WriteHistory(Fourth, "URL", {"http://fourth.example"});
  Third.Save();
  Fourth.Save();
  EXPECT_EQ(HistoryEntries(THistoryStore(Path), "URL"), (TLines{"http://fourth.example", "http://third.example"}));
}

// Without a file at first: both also make it at the same time.
TEST_F(HistoryStoreTest, TwoProgramsSavingAtTheSameTimeKeepEveryEntry) {
  constexpr int Rounds = 25;
  std::array<QProcess, 2> Savers;
  for (std::size_t I = 0; I < Savers.size(); ++I) {
    Savers[I].start(QCoreApplication::applicationDirPath() + "/history_saver",
                    {QString::fromStdString(Path), QString("window%1").arg(I), QString::number(Rounds)});
    ASSERT_TRUE(Savers[I].waitForStarted());
  }
  for (QProcess& Saver : Savers) Saver.write("go\n");
  for (QProcess& Saver : Savers) {
    ASSERT_TRUE(Saver.waitForFinished(120000));
    EXPECT_EQ(Saver.exitCode(), 0) << Saver.readAllStandardError().toStdString();
  }
  TLines Entries = HistoryEntries(THistoryStore(Path), "Description");
  std::sort(Entries.begin(), Entries.end());
  TLines Expected;
  for (int I = 0; I < 2; ++I)
    for (int N = 1; N <= Rounds; ++N) Expected.push_back("window" + std::to_string(I) + "-" + std::to_string(N));
  std::sort(Expected.begin(), Expected.end());
  EXPECT_EQ(Entries, Expected);
}

TEST_F(HistoryStoreTest, ALockHeldByAnotherProgramIsWaitedForOnlySoLong) {
  const std::string Before = "[File]\n1=a.pfx\n";
  WriteText(Path, Before);
  QProcess Holder;
  Holder.start("flock", {QString::fromStdString(Path), "-c", "echo held; exec cat"});
  const auto Stop = qScopeGuard([&] {
    Holder.closeWriteChannel();
    Holder.waitForFinished();
  });
  ASSERT_TRUE(Holder.waitForReadyRead(10000));
  THistoryStore Store(Path);
  Store.Write("File", "2", "b.pfx");
  EXPECT_THROW(Store.Save(), std::runtime_error);
  EXPECT_EQ(ReadText(Path), Before);
}

// The histories as the window shows them.
class HistoryWindowTest : public ::testing::Test {
 protected:
  QTemporaryDir Folder;
  std::string Path = QDir(Folder.path()).filePath("config.ini").toStdString();
  TFrmMain Frm;
  PromptRecorder Prompts;

  void Reload() {
    Frm.FConfigFile = Path;
    Frm.LoadHistory();
  }
  static std::vector<std::string> Items(const QComboBox* Box) {
    std::vector<std::string> Result;
    for (int I = 0; I < Box->count(); ++I) Result.push_back(Box->itemText(I).toStdString());
    return Result;
  }
  static void Pick(QComboBox* Box, int Index) {
    Box->setCurrentIndex(Index);
    emit Box->activated(Index);
  }
};

const std::string Clear = "<清空记录>";

TEST_F(HistoryWindowTest, FirstStartShowsOnlyTheCommandEntry) {
  Reload();
  for (const QComboBox* Box : {Frm.cbDescription, Frm.cbFile, Frm.cbURL, Frm.cbTimeStamp}) {
    EXPECT_EQ(Items(Box), (TLines{Clear})) << Box->objectName().toStdString();
    EXPECT_EQ(Box->currentText(), "");
  }
}

TEST_F(HistoryWindowTest, LoadingTakesEveryKeyTrimsAndSkipsEmptyValues) {
  WriteText(Path,
            "[Description]\na=  x  \nb=\n[File]\n1=one.pfx\n7=one.pfx\nname=two.pfx\n"
            "[URL]\n1=http://u.example\n[TimeStamp]\n1=http://t.example\n");
  Reload();
  EXPECT_EQ(Items(Frm.cbDescription), (TLines{Clear, "x"}));
  EXPECT_EQ(Items(Frm.cbFile), (TLines{Clear, "one.pfx", "one.pfx", "two.pfx"}));
  EXPECT_EQ(Items(Frm.cbURL), (TLines{Clear, "http://u.example"}));
  EXPECT_EQ(Items(Frm.cbTimeStamp), (TLines{Clear, "http://t.example"}));
  EXPECT_EQ(Frm.cbFile->currentText(), "");
  EXPECT_EQ(Frm.cbFile->currentIndex(), -1);
}

TEST_F(HistoryWindowTest, AnEmptyTextIsRememberedOnce) {
  WriteText(Path, "[URL]\n1=http://u.example\n");
  Reload();
  Frm.cbFile->setEditText("a.pfx");
  Frm.SaveHistory();
  EXPECT_EQ(Items(Frm.cbURL), (TLines{Clear, "http://u.example", ""}));
  Frm.SaveHistory();
  EXPECT_EQ(Items(Frm.cbURL), (TLines{Clear, "http://u.example", ""}));
  EXPECT_EQ(Lines(Path), (TLines{"[URL]", "1=http://u.example", "2=", "[Description]", "1=", "[File]",
                                 "1=a.pfx", "[TimeStamp]", "1="}));
  // Loading again skips the empty values.
  Reload();
  EXPECT_EQ(Items(Frm.cbURL), (TLines{Clear, "http://u.example"}));
}

TEST_F(HistoryWindowTest, RememberingIgnoresAsciiCaseButNotLengthOrBlanks) {
  WriteText(Path, "[Description]\n1=foo\n2=Ärger\n");
  Reload();
  Frm.cbDescription->setEditText("Foo");
  Frm.RememberText(Frm.cbDescription);
  Frm.cbDescription->setEditText("ärger");  // only A-Z fold
  Frm.RememberText(Frm.cbDescription);
  Frm.cbDescription->setEditText("foo ");  // untrimmed: a different text
  Frm.RememberText(Frm.cbDescription);
  EXPECT_EQ(Items(Frm.cbDescription), (TLines{Clear, "foo", "Ärger", "ärger", "foo "}));
  EXPECT_EQ(Frm.cbDescription->currentText(), "foo ");

  Frm.cbDescription->setEditText("FOO");
  Frm.SaveHistory();
  const TLines Saved = Lines(Path);
  ASSERT_GE(Saved.size(), 5u);
  EXPECT_EQ(TLines(Saved.begin(), Saved.begin() + 5), (TLines{"[Description]", "1=foo", "2=Ärger", "3=ärger", "4=foo "}));
}

TEST_F(HistoryWindowTest, SavingNumbersTheItemsFromOneAndDropsNumberedKeysBeyondThem) {
  WriteText(Path, "[File]\n1=\n2=a.pfx\n3=\n9=old.pfx\n");
  Reload();
  EXPECT_EQ(Items(Frm.cbFile), (TLines{Clear, "a.pfx", "old.pfx"}));
  Frm.cbFile->setEditText("b.pfx");
  Frm.SaveHistory();
  // Keys 1..3 now hold the three items; key 9's value is one of them, so it goes.
  const TLines Saved = Lines(Path);
  EXPECT_EQ(TLines(Saved.begin(), Saved.begin() + 5),
            (TLines{"[File]", "1=a.pfx", "2=old.pfx", "3=b.pfx", "[Description]"}));
}

TEST_F(HistoryWindowTest, AKeyOfAnotherNameIsNeitherCopiedNorChanged) {
  WriteText(Path, "[Description]\nbig=Shared by hand\n1=first\nnote=\n01=zero-one\n");
  Reload();
  EXPECT_EQ(Items(Frm.cbDescription), (TLines{Clear, "Shared by hand", "first", "zero-one"}));
  Frm.cbDescription->setEditText("second");
  Frm.SaveHistory();
  Frm.cbDescription->setEditText("SHARED BY HAND");
  Frm.SaveHistory();
  const TLines Saved = Lines(Path);
  EXPECT_EQ(TLines(Saved.begin(), Saved.begin() + 6),
            (TLines{"[Description]", "big=Shared by hand", "1=first", "note=", "01=zero-one", "2=second"}));
  Reload();
  EXPECT_EQ(Items(Frm.cbDescription), (TLines{Clear, "Shared by hand", "first", "zero-one", "second"}));
}

TEST_F(HistoryWindowTest, AValueThatIsNoUtf8KeepsItsBytes) {
  // "签名" in GBK, as an older tool wrote it, with a blank the reading trims.
  const std::string Gbk = "\xC7\xA9\xC3\xFB";
  WriteText(Path, "[Description]\n1=" + Gbk + " \n2=plain\n");
  Reload();
  ASSERT_EQ(Frm.cbDescription->count(), 3);
  EXPECT_EQ(Frm.cbDescription->itemText(1), QString::fromStdString(Gbk));
  // Picked from the list, it is signed with as shown, and is no new entry.
  Pick(Frm.cbDescription, 1);
  Frm.SaveHistory();
  Frm.cbDescription->setEditText("new");
  Frm.SaveHistory();
  const std::string Expected = "[Description]\n1=" + Gbk + " \n2=plain\n3=new\n";
  EXPECT_EQ(ReadText(Path).substr(0, Expected.size()), Expected);
}

TEST_F(HistoryWindowTest, TwoWindowsSavingKeepBothWindowsEntries) {
  WriteText(Path, "[File]\n1=old.pfx\n");
  Reload();
  TFrmMain Other;
  Other.FConfigFile = Path;
  Other.LoadHistory();

  Frm.cbFile->setEditText("a.pfx");
  Frm.SaveHistory();
  Other.cbFile->setEditText("b.pfx");
  Other.SaveHistory();
  Frm.cbFile->setEditText("c.pfx");
  Frm.SaveHistory();

  // Each save writes its window's list first, then what only the file had.
  Reload();
  EXPECT_EQ(Items(Frm.cbFile), (TLines{Clear, "old.pfx", "a.pfx", "c.pfx", "b.pfx"}));
}

TEST_F(HistoryWindowTest, PickingTheCommandAndAnsweringNoKeepsTheHistory) {
  WriteText(Path, "[File]\n1=a.pfx\n2=b.pfx\n");
  Reload();
  const std::string Before = ReadText(Path);
  Prompts.QueueAnswer(idNo);
  Pick(Frm.cbFile, 0);
  ASSERT_EQ(Prompts.Shown().size(), 1u);
  EXPECT_EQ(Prompts.Last().Text, "你确定要清除历史记录吗?");
  EXPECT_EQ(Prompts.Last().Style, static_cast<unsigned>(mbYesNo | mbIconQuestion));
  EXPECT_EQ(Items(Frm.cbFile), (TLines{Clear, "a.pfx", "b.pfx"}));
  EXPECT_EQ(Frm.cbFile->currentText(), "");
  EXPECT_EQ(Frm.cbFile->currentIndex(), -1);
  EXPECT_EQ(ReadText(Path), Before);
}

TEST_F(HistoryWindowTest, ClearingOneBoxDeletesOnlyItsSection) {
  WriteText(Path, "[Description]\n1=d\n[File]\n1=a.pfx\nextra=b.pfx\n[URL]\n1=u\n[TimeStamp]\n1=t\n");
  Reload();
  Prompts.QueueAnswer(idYes);
  Pick(Frm.cbFile, 0);
  EXPECT_EQ(Items(Frm.cbFile), (TLines{Clear}));
  EXPECT_EQ(Frm.cbFile->currentText(), "");
  EXPECT_EQ(Lines(Path), (TLines{"[Description]", "1=d", "[File]", "[URL]", "1=u", "[TimeStamp]", "1=t"}));
  EXPECT_EQ(Items(Frm.cbTimeStamp), (TLines{Clear, "t"}));
}

TEST_F(HistoryWindowTest, APipeOrADeviceInPlaceOfTheFileGivesEmptyHistories) {
  ASSERT_EQ(::mkfifo(Path.c_str(), 0644), 0);
  Reload();
  EXPECT_EQ(Items(Frm.cbFile), (TLines{Clear}));
  ASSERT_EQ(::unlink(Path.c_str()), 0);
  ASSERT_EQ(::symlink("/dev/zero", Path.c_str()), 0);
  Reload();
  for (const QComboBox* Box : {Frm.cbDescription, Frm.cbFile, Frm.cbURL, Frm.cbTimeStamp})
    EXPECT_EQ(Items(Box), (TLines{Clear})) << Box->objectName().toStdString();
}

TEST_F(HistoryWindowTest, SavingIntoAReadOnlyFileFailsOnceAndChangesNothing) {
  const std::string Before = "[File]\n1=a.pfx\n";
  WriteText(Path, Before);
  ::chmod(Path.c_str(), 0444);
  Reload();
  Frm.cbFile->setEditText("b.pfx");
  EXPECT_THROW(Frm.SaveHistory(), std::runtime_error);
  EXPECT_EQ(ReadText(Path), Before);
}

TEST_F(HistoryWindowTest, PickingARememberedValueAsksNothing) {
  WriteText(Path, "[TimeStamp]\n1=http://a.example\n2=http://b.example\n");
  Reload();
  Pick(Frm.cbTimeStamp, 2);
  EXPECT_TRUE(Prompts.Shown().empty());
  EXPECT_EQ(Frm.cbTimeStamp->currentText(), "http://b.example");
}

}  // namespace

namespace {
TEST(HistoryWindowClosing, ABoxLosingTheFocusAsTheWindowGoesRunsNoHandler) {
  PromptRecorder Prompts;
  auto Frm = std::make_unique<TFrmMain>();
  Frm->show();
  Frm->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Frm.get()));
  Frm->cbFile->setFocus();
  // Text equal to an item: the box reports the item as picked when editing ends.
  Frm->cbFile->setEditText("<清空记录>");
  Frm.reset();
  EXPECT_TRUE(Prompts.Shown().empty());
}
}  // namespace

TEST(ConfigFileLocation, BesideAProgramOfItsOwnFolderButNeverInsideInstalledSoftware) {
  QTemporaryDir Home, Program;
  const TScopedEnvironment ConfigHome("XDG_CONFIG_HOME", Home.path().toStdString());

  EXPECT_EQ(ConfigFilePathFor(Program.path()), QDir(Program.path()).filePath("config.ini").toStdString());
  // Run as root the program could write below /usr; its settings still go to the user's folder.
  for (const QString Installed : {"/usr/lib", "/usr/lib/../lib/quillory"}) {
    const std::string Path = ConfigFilePathFor(Installed);
    EXPECT_EQ(Path.rfind(Home.path().toStdString() + "/", 0), 0u) << Path;
    EXPECT_TRUE(QFileInfo(QFileInfo(QString::fromStdString(Path)).path()).isDir()) << Path;
  }
}
