// The signing tool's command line for one file and how its answer is read.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>

#include "common/WindowsCommandLine.h"
#include "signing/SignCommand.h"
#include "support/PeFixtures.h"

namespace {
using TArgs = std::vector<std::string>;

TArgs Expected(const TSignSettings& S, const std::string& File) {
  TArgs Args = {"signtool.exe", "sign", "/q", "/f", S.CertFile, "/t", S.TimeStamp, "/d", S.Description};
  if (!File.empty()) Args.push_back(File);
  return Args;
}

TEST(SignCommandLine, OrdinaryValuesFollowTheFormatByteForByte) {
  const TSignSettings Settings{"D:\\certs\\company.pfx", "http://timestamp.example/tsa", "Product"};
  EXPECT_EQ(SignCommandLine(Settings, "/work/out/app.exe"),
            "signtool.exe sign /q /f D:\\certs\\company.pfx /t \"http://timestamp.example/tsa\" "
            "/d \"Product\" /work/out/app.exe");
  // The description may be empty; a missing file leaves the line ending after the description.
  EXPECT_EQ(SignCommandLine({"c.pfx", "http://t", ""}, ""), "signtool.exe sign /q /f c.pfx /t \"http://t\" /d \"\" ");
  // Blanks inside the two quoted values need nothing more than the format's quotes.
  EXPECT_EQ(SignCommandLine({"c.pfx", "http://t", "My Product 2"}, "a.exe"),
            "signtool.exe sign /q /f c.pfx /t \"http://t\" /d \"My Product 2\" a.exe");
}

TEST(SignCommandLine, EveryAwkwardValueReachesTheToolAsOneArgument) {
  const std::vector<TSignSettings> Cases = {
      {"/certs/my company.pfx", "http://t", "say \"hi\""},
      {"/certs/q\"uote.pfx", "http://t/\\", "ends with a backslash\\"},
      {"c.pfx", "  http://t  ", "back\\\"slash and quote"},
      {"c.pfx", "http://t", "\\\\server\\share\\"},
      {"c.pfx", "http://t", "two\\\\\"quotes\"\""},
      {"c.pfx", "\"", "\""},
  };
  for (const TSignSettings& Case : Cases) {
    const std::string File = "/files/with blank/and \"quote\".exe";
    EXPECT_EQ(SplitCommandLine(SignCommandLine(Case, File)), Expected(Case, File)) << SignCommandLine(Case, File);
  }
}

TEST(SignCommandLine, TheCertificatePathGoesAsTheCheckSawIt) {
  const TSignSettings Settings{"  my cert.pfx\t", "http://t", "d"};
  EXPECT_EQ(SplitCommandLine(SignCommandLine(Settings, "a.exe"))[4], "my cert.pfx");
  EXPECT_EQ(SignCommandLine({" c.pfx ", "http://t", "d"}, "a.exe"),
            "signtool.exe sign /q /f c.pfx /t \"http://t\" /d \"d\" a.exe");
}

TEST(SignCommandLine, ATokenCertificateGoesAsTheKey) {
  const TSignSettings Settings{" pkcs11:token=My%20Key;id=%01 ", "http://t", "d"};
  EXPECT_EQ(SignCommandLine(Settings, "/w/a.exe"),
            "signtool.exe sign /q /kc pkcs11:token=My%20Key;id=%01 /t \"http://t\" /d \"d\" /w/a.exe");
  // The scheme is recognised in any case, and a URI with blanks stays one argument.
  const TArgs Args = SplitCommandLine(SignCommandLine({"PKCS11:object=my key", "http://t", "d"}, "a.exe"));
  EXPECT_EQ(Args[3], "/kc");
  EXPECT_EQ(Args[4], "PKCS11:object=my key");
}

TEST(SignCommandLine, AnAddressFollowsTheDescriptionQuotedLikeIt) {
  EXPECT_EQ(SignCommandLine({"c.pfx", "http://t", "Product", "https://example.com/app"}, "a.exe"),
            "signtool.exe sign /q /f c.pfx /t \"http://t\" /d \"Product\" /du \"https://example.com/app\" a.exe");
  // An address of blanks is no address: the line is the one without it.
  EXPECT_EQ(SignCommandLine({"c.pfx", "http://t", "Product", " \t "}, "a.exe"),
            SignCommandLine({"c.pfx", "http://t", "Product"}, "a.exe"));
  const TSignSettings Awkward{"c.pfx", "http://t", "d", "https://x/a b?q=\"1\"\\"};
  TArgs Args = Expected(Awkward, "/w/a.exe");
  Args.insert(Args.end() - 1, {"/du", Awkward.Url});
  EXPECT_EQ(SplitCommandLine(SignCommandLine(Awkward, "/w/a.exe")), Args);
}

TEST(SignCommandLine, Rfc3161AsksTheServersTypedWithSha256) {
  TSignSettings Settings{"c.pfx", " http://a.example/ts;  \"http://b.example\" ", "My Product"};
  Settings.Rfc3161 = true;
  const TArgs Args = SplitCommandLine(SignCommandLine(Settings, "/w/a b.exe"));
  const auto Tr = std::find(Args.begin(), Args.end(), "/tr");
  ASSERT_NE(Tr, Args.end()) << SignCommandLine(Settings, "a.exe");
  EXPECT_EQ(TArgs(Tr, Args.end()),
            (TArgs{"/tr", Settings.TimeStamp, "/td", "sha256", "/d", "My Product", "/w/a b.exe"}));
  EXPECT_EQ(std::find(Args.begin(), Args.end(), "/t"), Args.end());
}

TEST(ShortPathOf, AnExistingFileGivesItsAbsolutePathAMissingOneNothing) {
  QTemporaryDir Folder;
  const std::string Path = QDir(Folder.path()).filePath("app.exe").toStdString();
  EXPECT_EQ(ShortPathOf(Path), "");
  WriteBytes(Path, BuildPe({}));
  EXPECT_EQ(ShortPathOf(Path), Path);
  const QString Previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(Folder.path()));
  EXPECT_EQ(ShortPathOf("./app.exe"), QDir(QDir::currentPath()).filePath("app.exe").toStdString());
  QDir::setCurrent(Previous);
  EXPECT_EQ(ShortPathOf(""), "");
}

TEST(ClassifySignRun, CleanWarningAndFailure) {
  const TSignOutcome Clean = ClassifySignRun(true, "");
  EXPECT_EQ(Clean.Status, fsOk);
  EXPECT_EQ(Clean.Info, "");
  EXPECT_TRUE(Clean.Succeeded);

  for (const char* Warning : {"SignTool Warning: no timestamp", "signtool warning", "SIGNTOOL WARNINGxyz"}) {
    const TSignOutcome Outcome = ClassifySignRun(false, Warning);
    EXPECT_EQ(Outcome.Status, fsWarning) << Warning;
    EXPECT_EQ(Outcome.Info, Warning);
    EXPECT_TRUE(Outcome.Succeeded);
  }
  for (const char* Failure : {"SignTool Error: bad password\r\n", "SignTool Warnin", " SignTool Warning", ""}) {
    const TSignOutcome Outcome = ClassifySignRun(false, Failure);
    EXPECT_EQ(Outcome.Status, fsFailed) << Failure;
    EXPECT_EQ(Outcome.Info, Failure);
    EXPECT_FALSE(Outcome.Succeeded);
  }
}

TEST(ClassifySignRun, ATokenRefusingThePinIsToldOnlyByALineOfItsOwn) {
  const std::string Wrong = "SignTool Error: The card cannot be accessed because the wrong PIN was presented.";
  const std::string Locked =
      "SignTool Error: The card cannot be accessed because the maximum number of PIN entry attempts has been reached.";
  EXPECT_EQ(ClassifySignRun(false, Wrong + "\n").PinRefusal, TPinRefusal::Wrong);
  EXPECT_EQ(ClassifySignRun(false, "SignTool Error: first\r\n" + Locked + "\r\n").PinRefusal, TPinRefusal::Locked);
  for (const std::string& Other :
       {std::string("SignTool Error: The specified PFX password is not correct.\n"),
        "SignTool Error: An error occurred while attempting to sign: /tmp/" + Wrong + "\n",
        "SignTool Warning: " + Wrong.substr(16) + "\n", Wrong.substr(0, Wrong.size() - 1)})
    EXPECT_EQ(ClassifySignRun(false, Other).PinRefusal, TPinRefusal::None) << Other;
}
}  // namespace
