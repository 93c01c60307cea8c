#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <sys/stat.h>

#include "common/ByteWriter.h"
#include "common/ShellLinkReader.h"
#include "common/uPubFunc.h"
#include "support/PeFixtures.h"
#include "support/ShellLinkFiles.h"

namespace {
class ShellLinkFile : public ::testing::Test {
 protected:
  std::string Save(const std::string& Name, const std::vector<std::uint8_t>& Bytes) {
    const std::string Path = Folder.filePath(QString::fromStdString(Name)).toStdString();
    WriteBytes(Path, Bytes);
    return Path;
  }
  std::string Resolve(const TShellLinkLayout& Layout) { return ResolveShortcut(Save("t.lnk", BuildShellLink(Layout).Bytes)); }

  QTemporaryDir Folder;
};

TShellLinkLayout LocalLayout(const std::string& Target) {
  TShellLinkLayout Layout;
  Layout.LocalBasePath = Target;
  return Layout;
}
}  // namespace

TEST(IsShortcut, OnlyTheLinkExtensionIgnoringAsciiCase) {
  EXPECT_TRUE(IsShortcut(".lnk"));
  EXPECT_TRUE(IsShortcut(".LNK"));
  EXPECT_TRUE(IsShortcut(".LnK"));
  for (const char* Other : {"", "lnk", ".lnk ", ".lnkx", ".ln", ".exe", "..lnk"}) EXPECT_FALSE(IsShortcut(Other)) << Other;
}

TEST_F(ShellLinkFile, LocalBasePath) {
  TShellLinkLayout Layout;
  Layout.LocalBasePath = "C:\\tools\\app.exe";
  EXPECT_EQ(Resolve(Layout), "C:\\tools\\app.exe");
  Layout.WithIdList = false;
  EXPECT_EQ(Resolve(Layout), "C:\\tools\\app.exe");
}

TEST_F(ShellLinkFile, LocalBasePathWithCommonSuffix) {
  TShellLinkLayout Layout;
  Layout.LocalBasePath = "C:\\tools";
  Layout.CommonPathSuffix = "bin\\app.exe";
  EXPECT_EQ(Resolve(Layout), "C:\\tools\\bin\\app.exe");
  Layout.LocalBasePath = "C:\\tools\\";
  EXPECT_EQ(Resolve(Layout), "C:\\tools\\bin\\app.exe");
}

TEST_F(ShellLinkFile, EightBitPathIsTakenByteForByte) {
  TShellLinkLayout Layout;
  Layout.LocalBasePath = "/srv/签名/app.exe";
  EXPECT_EQ(Resolve(Layout), "/srv/签名/app.exe");
}

TEST_F(ShellLinkFile, UnicodeFormsArePreferred) {
  TShellLinkLayout Layout;
  Layout.LocalBasePath = "C:\\??\\app.exe";
  Layout.LocalBasePathUnicode = u"C:\\工具\\app.exe";
  EXPECT_EQ(Resolve(Layout), "C:\\工具\\app.exe");

  Layout.LocalBasePathUnicode = u"C:\\x";
  Layout.CommonPathSuffix = "ignored.txt";
  Layout.CommonPathSuffixUnicode = u"\U0001F600.exe";  // a surrogate pair
  EXPECT_EQ(Resolve(Layout), "C:\\x\\\U0001F600.exe");
}

TEST_F(ShellLinkFile, UnpairedSurrogateBecomesReplacementCharacter) {
  TShellLinkLayout Layout;
  Layout.LocalBasePathUnicode = std::u16string(u"C:\\a") + char16_t(0xD800) + u".exe";
  EXPECT_EQ(Resolve(Layout), "C:\\a\uFFFD.exe");
}

TEST_F(ShellLinkFile, NetworkShareWithSuffix) {
  TShellLinkLayout Layout;
  Layout.NetName = "\\\\server\\share";
  Layout.CommonPathSuffix = "tools\\app.exe";
  EXPECT_EQ(Resolve(Layout), "\\\\server\\share\\tools\\app.exe");

  Layout.NetNameUnicode = u"\\\\服务器\\share";
  EXPECT_EQ(Resolve(Layout), "\\\\服务器\\share\\tools\\app.exe");
}

TEST_F(ShellLinkFile, LocalPathWinsOverNetworkShare) {
  TShellLinkLayout Layout;
  Layout.LocalBasePath = "Z:\\app.exe";
  Layout.NetName = "\\\\server\\share";
  EXPECT_EQ(Resolve(Layout), "Z:\\app.exe");
}

TEST_F(ShellLinkFile, FolderAndTextFileTargets) {
  TShellLinkLayout Layout;
  Layout.LocalBasePath = "C:\\tools";
  EXPECT_EQ(Resolve(Layout), "C:\\tools");
  Layout.LocalBasePath = "C:\\notes.txt";
  EXPECT_EQ(Resolve(Layout), "C:\\notes.txt");
}

TEST_F(ShellLinkFile, LinkWithoutTargetPathGivesEmptyText) {
  TShellLinkLayout Layout;
  Layout.WithLinkInfo = false;  // like a link to a web page: only an ID list
  EXPECT_EQ(Resolve(Layout), "");
  Layout.WithLinkInfo = true;   // LinkInfo naming neither a local path nor a share
  EXPECT_EQ(Resolve(Layout), "");

  auto Forced = BuildShellLink(LocalLayout("C:\\a.exe")).Bytes;
  Forced[0x15] |= 0x01;  // ForceNoLinkInfo
  EXPECT_EQ(ReadShellLinkTarget(Forced), "");
}

TEST_F(ShellLinkFile, TruncatedLinkIsNoLink) {
  TShellLinkLayout Layout;
  Layout.LocalBasePath = "C:\\tools\\app.exe";
  Layout.CommonPathSuffixUnicode = u"";
  Layout.LocalBasePathUnicode = u"C:\\tools\\app.exe";
  const TShellLinkBytes Link = BuildShellLink(Layout);
  for (std::size_t Size = 0; Size < Link.LinkInfoEnd; ++Size) {
    const std::span<const std::uint8_t> Cut(Link.Bytes.data(), Size);
    ASSERT_EQ(ReadShellLinkTarget(Cut), std::nullopt) << "cut at " << Size;
  }
  EXPECT_EQ(ReadShellLinkTarget(Link.Bytes), "C:\\tools\\app.exe");

  const std::string Path = Save("cut.lnk", {Link.Bytes.begin(), Link.Bytes.begin() + 100});
  EXPECT_EQ(ResolveShortcut(Path), Path);
}

TEST_F(ShellLinkFile, OffsetsOutsideLinkInfoAreRejected) {
  const TShellLinkBytes Link = BuildShellLink(LocalLayout("C:\\a.exe"));
  const std::size_t Info = Link.LinkInfoPos;
  const auto InfoSize = static_cast<std::uint32_t>(Link.LinkInfoEnd - Info);

  auto Bytes = Link.Bytes;
  PutLe32(Bytes, Info + 0x10, InfoSize);  // local base path just past LinkInfo
  EXPECT_EQ(ReadShellLinkTarget(Bytes), std::nullopt);

  Bytes = Link.Bytes;
  PutLe32(Bytes, Info + 0x10, 0xFFFFFFF0);
  EXPECT_EQ(ReadShellLinkTarget(Bytes), std::nullopt);

  Bytes = Link.Bytes;
  PutLe32(Bytes, Info, InfoSize + 0x1000);  // LinkInfo longer than the file
  EXPECT_EQ(ReadShellLinkTarget(Bytes), std::nullopt);

  Bytes = Link.Bytes;
  PutLe32(Bytes, Info + 4, InfoSize + 4);  // header bigger than the structure
  EXPECT_EQ(ReadShellLinkTarget(Bytes), std::nullopt);

  // The suffix is the last string; without its terminator inside LinkInfo it is unreadable.
  Bytes = Link.Bytes;
  PutLe32(Bytes, Info, InfoSize - 1);
  EXPECT_EQ(ReadShellLinkTarget(Bytes), std::nullopt);

  Bytes = Link.Bytes;
  Bytes[0x4C] = 0xFF;  // the ID list's size now reaches past the end
  Bytes[0x4D] = 0xFF;
  EXPECT_EQ(ReadShellLinkTarget(Bytes), std::nullopt);
}

TEST_F(ShellLinkFile, NetworkLinkSizeIsChecked) {
  TShellLinkLayout Layout;
  Layout.NetName = "\\\\server\\share";
  const TShellLinkBytes Link = BuildShellLink(Layout);
  const std::size_t NetworkLink = Link.LinkInfoPos + 0x1C;  // right after a 0x1C header
  auto Bytes = Link.Bytes;
  PutLe32(Bytes, NetworkLink, 0x10);  // smaller than its fixed fields
  EXPECT_EQ(ReadShellLinkTarget(Bytes), std::nullopt);
  PutLe32(Bytes, NetworkLink, 0x10000);
  EXPECT_EQ(ReadShellLinkTarget(Bytes), std::nullopt);
  EXPECT_EQ(ReadShellLinkTarget(Link.Bytes), "\\\\server\\share");
}

TEST_F(ShellLinkFile, AnythingElseComesBackUnchanged) {
  const std::string Text = Save("notes.lnk", {'h', 'e', 'l', 'l', 'o'});
  EXPECT_EQ(ResolveShortcut(Text), Text);
  const std::string Empty = Save("empty.lnk", {});
  EXPECT_EQ(ResolveShortcut(Empty), Empty);
  const std::string Program = Save("app.lnk", BuildPe({}));
  EXPECT_EQ(ResolveShortcut(Program), Program);

  auto WrongClsid = ShellLinkTo("C:\\a.exe");
  WrongClsid[4] ^= 1;
  const std::string Other = Save("other.lnk", WrongClsid);
  EXPECT_EQ(ResolveShortcut(Other), Other);

  const std::string Missing = Folder.filePath("missing.lnk").toStdString();
  EXPECT_EQ(ResolveShortcut(Missing), Missing);
  const std::string FolderPath = Folder.path().toStdString();
  EXPECT_EQ(ResolveShortcut(FolderPath), FolderPath);
  const std::string Pipe = Folder.filePath("pipe.lnk").toStdString();
  ASSERT_EQ(::mkfifo(Pipe.c_str(), 0600), 0);
  EXPECT_EQ(ResolveShortcut(Pipe), Pipe);  // not opened: reading it would wait for a writer
}
