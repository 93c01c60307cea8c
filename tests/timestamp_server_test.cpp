#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/TimestampServer.h"

namespace {
std::string WriteProgram(const QTemporaryDir& Folder, const std::string& Name) {
  const std::string Path = Folder.filePath(QString::fromStdString(Name)).toStdString();
  WriteBytes(Path, BuildPe({TPeKind::Exe32, 4096}));
  return Path;
}
}  // namespace

TEST(TimestampServer, AuthenticodeAndRfc3161TimestampsVerify) {
  TimestampServer Server;
  QTemporaryDir Folder;
  const std::string Legacy = WriteProgram(Folder, "legacy.exe");
  const std::string Rfc = WriteProgram(Folder, "rfc.exe");
  ASSERT_TRUE(OsslSign(Legacy, Legacy, {"-t", Server.Url()}));
  ASSERT_TRUE(OsslSign(Rfc, Rfc, {"-ts", Server.Url()}));
  EXPECT_EQ(Server.RequestCount(), 2);
  for (const std::string& Path : {Legacy, Rfc}) {
    const TOsslVerdict Verify = OsslVerify(Path);
    EXPECT_TRUE(Verify.SignatureOk) << Verify.Output;
    EXPECT_TRUE(Verify.TimestampOk) << Verify.Output;
  }
}

TEST(TimestampServer, RefusingServerMakesTimestampingFail) {
  QTemporaryDir Folder;
  TimestampServer Server(TTimestampBehaviour::Refuse);
  const std::string Path = WriteProgram(Folder, "unstamped.exe");
  const std::vector<std::uint8_t> Before = ReadBytes(Path);
  EXPECT_FALSE(OsslSign(Path, Path, {"-t", Server.Url()}));
  EXPECT_FALSE(OsslSign(Path, Path, {"-ts", Server.Url()}));
  EXPECT_EQ(Server.RequestCount(), 2);
  EXPECT_EQ(ReadBytes(Path), Before);
}
