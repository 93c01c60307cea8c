// signtool.exe timestamp: a timestamp added to files signed without one, checked by the project's
// verifier and by osslsigncode.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "authenticode/AuthenticodeInfo.h"
#include "authenticode/PaceFile.h"
#include "common/FileReader.h"
#include "common/OpenSslPtr.h"
#include "authenticode/Pkcs7Parts.h"
#include "authenticode/SignedContainer.h"
#include "authenticode/VerifySignature.h"
#include "support/CabFixtures.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/ScopedEnvironment.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"

namespace {
std::string SignTool() { return QCoreApplication::applicationDirPath().toStdString() + "/signtool.exe"; }

std::string BothRoots() { return TestPki().CaCertPath + ";" + TestPki().TsaCaCertPath; }

TProcessResult SignWithoutTimestamp(const std::vector<std::string>& Extra, const std::string& File) {
  std::vector<std::string> Args{"sign", "/q", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword};
  Args.insert(Args.end(), Extra.begin(), Extra.end());
  Args.push_back(File);
  return RunProcess(SignTool(), Args);
}

// The file's signature as the locator finds it.
TSignedContainer Located(const std::string& File) {
  TFileReader Reader;
  if (!Reader.Open(File)) return {};
  std::optional<TSignedContainer> Container = LocateSignature(Reader.Descriptor(), Reader.Size());
  return Container ? std::move(*Container) : TSignedContainer{};
}

// The primary signer's signature value: a timestamp must not change it.
std::vector<std::uint8_t> SignatureValue(const std::string& File) {
  const TPkcs7 Signature = ParsePkcs7(Located(File).SignedData);
  if (!Signature) return {};
  const PKCS7_SIGNER_INFO* Signer = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(Signature.get()), 0);
  const ASN1_OCTET_STRING* Value = Signer->enc_digest;
  return {Value->data, Value->data + Value->length};
}

class SignToolTimestampTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& Name) const { return Folder.filePath(QString::fromStdString(Name)).toStdString(); }

  std::string WriteProgram(const std::string& Name, TPeKind Kind) const {
    const std::string Path = PathOf(Name);
    WriteBytes(Path, BuildPe({Kind, 40 * 1024 + 3}));
    return Path;
  }

  std::string WriteCabinet(const std::string& Name) const {
    const std::string Path = PathOf(Name);
    WriteBytes(Path, BuildCab("readme.txt", std::string(30000, 'c')));
    return Path;
  }

  QTemporaryDir Folder;
};
}  // namespace

TEST_F(SignToolTimestampTest, SignedFilesGainATimestampAndStayValid) {
  TimestampServer Server;
  for (const std::string Switch : {"/t", "/tr"}) {
    const std::vector<std::string> Files{WriteProgram("app32" + Switch.substr(1) + ".exe", TPeKind::Exe32),
                                         WriteProgram("lib64" + Switch.substr(1) + ".dll", TPeKind::Dll64),
                                         WriteCabinet("setup" + Switch.substr(1) + ".cab")};
    std::vector<std::vector<std::uint8_t>> Before;
    for (const std::string& File : Files) {
      const TProcessResult Signed = SignWithoutTimestamp({}, File);
      ASSERT_EQ(Signed.ExitCode, 0) << Signed.Err;
      ASSERT_EQ(VerifySignature(File, BothRoots()).State, vsValidNoTimestamp);
      Before.push_back(ReadBytes(File));
    }
    std::vector<std::string> Args{"timestamp", Switch, Server.Url()};
    if (Switch == "/tr") Args.insert(Args.end(), {"/td", "sha384"});
    Args.insert(Args.end(), Files.begin(), Files.end());
    const TProcessResult Stamped = RunProcess(SignTool(), Args);
    EXPECT_EQ(Stamped.ExitCode, 0) << Stamped.Err;
    EXPECT_EQ(Stamped.Err, "");

    for (std::size_t I = 0; I < Files.size(); ++I) {
      const std::string& File = Files[I];
      EXPECT_NE(Stamped.Out.find("Successfully timestamped: " + File + "\n"), std::string::npos) << Stamped.Out;
      const TVerifyResult Verified = VerifySignature(File, BothRoots());
      EXPECT_EQ(Verified.State, vsValid) << File << ": " << Verified.Message;
      EXPECT_FALSE(Verified.TimeStamp.empty());
      const TOsslVerdict Oracle = OsslVerify(File);
      EXPECT_TRUE(Oracle.SignatureOk) << Oracle.Output;
      EXPECT_TRUE(Oracle.TimestampOk) << Oracle.Output;
      EXPECT_EQ(Oracle.Output.find("MISMATCH"), std::string::npos) << Oracle.Output;

      // Only the signature area changed, and for a PE image the fields that describe it.
      const TSignedContainer After = Located(File);
      ASSERT_EQ(After.Slot, TSignatureSlot::Present);
      if (After.Kind == TContainerKind::Pe) {
        EXPECT_EQ(After.Signature.Pos % 8, 0u);
      }
      std::vector<std::uint8_t> Content = ReadBytes(File);
      Content.resize(After.Signature.Pos);
      std::vector<std::uint8_t> Original = Before[I];
      Original.resize(After.Signature.Pos);
      for (const std::uint64_t Field : {After.CheckSumPos, After.CertEntryPos + 4})
        if (After.Kind == TContainerKind::Pe)
          for (std::uint64_t Byte = Field; Byte < Field + 4; ++Byte) Content[Byte] = Original[Byte];
      if (After.Kind == TContainerKind::Cab)
        for (std::uint64_t Byte = 48; Byte < 52; ++Byte) Content[Byte] = Original[Byte];  // the signature's size
      EXPECT_EQ(Content, Original) << File;
    }
  }
  EXPECT_EQ(Server.RequestCount(), 6);
}

TEST_F(SignToolTimestampTest, OnlyThePrimarySignatureIsStampedAndTheNestedOneStaysAsItWas) {
  TimestampServer Server;
  const std::string File = WriteProgram("dual.exe", TPeKind::Exe32);
  ASSERT_EQ(SignWithoutTimestamp({"/fd", "sha1"}, File).ExitCode, 0);
  ASSERT_EQ(SignWithoutTimestamp({"/as"}, File).ExitCode, 0);
  const std::vector<std::uint8_t> PrimaryValue = SignatureValue(File);
  const TAuthenticodeInfo Before = ReadAuthenticodeInfo(Located(File));

  const TProcessResult Stamped = RunProcess(SignTool(), {"timestamp", "/q", "/tr", Server.Url(), File});
  EXPECT_EQ(Stamped.ExitCode, 0) << Stamped.Err;
  EXPECT_EQ(Stamped.Out + Stamped.Err, "");

  EXPECT_EQ(SignatureValue(File), PrimaryValue);
  const TAuthenticodeInfo After = ReadAuthenticodeInfo(Located(File));
  ASSERT_EQ(After.Signatures.size(), 2u);
  EXPECT_TRUE(After.Signatures[0].TimestampTime.has_value());
  EXPECT_FALSE(After.Signatures[1].TimestampTime.has_value());
  EXPECT_EQ(After.Signatures[1].DigestAlgorithm, Before.Signatures[1].DigestAlgorithm);
  const TOsslVerdict Oracle = OsslVerify(File);
  EXPECT_TRUE(Oracle.SignatureOk) << Oracle.Output;
  EXPECT_NE(Oracle.Output.find("Number of verified signatures: 2"), std::string::npos) << Oracle.Output;
}

TEST_F(SignToolTimestampTest, FilesItCannotStampAreLeftAsTheyWere) {
  TimestampServer Server;
  TimestampServer Refusing(TTimestampBehaviour::Refuse);
  const std::string Unsigned = WriteProgram("unsigned.exe", TPeKind::Exe64);
  const std::string UnsignedCab = WriteCabinet("unsigned.cab");
  const std::string Stamped = WriteProgram("stamped.exe", TPeKind::Exe32);
  ASSERT_EQ(SignWithoutTimestamp({"/t", Server.Url()}, Stamped).ExitCode, 0);
  const std::string Unstamped = WriteProgram("unstamped.exe", TPeKind::Exe32);
  ASSERT_EQ(SignWithoutTimestamp({}, Unstamped).ExitCode, 0);
  const int RequestsBefore = Server.RequestCount();
  std::map<std::string, std::vector<std::uint8_t>> Before;
  for (const std::string& File : {Unsigned, UnsignedCab, Stamped, Unstamped}) Before[File] = ReadBytes(File);
  const auto Entries = [this] {
    std::set<std::string> Names;
    for (const auto& Entry : std::filesystem::directory_iterator(Folder.path().toStdString()))
      Names.insert(Entry.path().filename().string());
    return Names;
  };
  const std::set<std::string> NamesBefore = Entries();

  // No signature: an error per file, and no server is asked.
  const TProcessResult Refused = RunProcess(SignTool(), {"timestamp", "/t", Server.Url(), Unsigned, UnsignedCab});
  EXPECT_EQ(Refused.ExitCode, 1);
  for (const std::string& File : {Unsigned, UnsignedCab})
    EXPECT_NE(Refused.Err.find("SignTool Error: No signature found: " + File + "\nSignTool Error: An error occurred "
                               "while attempting to timestamp: " + File + "\n"),
              std::string::npos)
        << Refused.Err;
  EXPECT_EQ(Server.RequestCount(), RequestsBefore);

  // A timestamp already there: left alone, a success.
  const TProcessResult Again = RunProcess(SignTool(), {"timestamp", "/t", Server.Url(), Stamped});
  EXPECT_EQ(Again.ExitCode, 0) << Again.Err;
  EXPECT_EQ(Again.Out, "The file is already timestamped and was left as it is: " + Stamped + "\n");
  EXPECT_EQ(Server.RequestCount(), RequestsBefore);

  // No server grants one: an error, the signature as it was.
  const TProcessResult Failed = [&] {
    const TScopedEnvironment NoWait("QUILLORY_TIMESTAMP_RETRY_WAIT", "0");
    return RunProcess(SignTool(), {"timestamp", "/q", "/t", Refusing.Url(), Unstamped});
  }();
  EXPECT_EQ(Failed.ExitCode, 1);
  EXPECT_EQ(Failed.Err, "SignTool Error: An error occurred while attempting to timestamp: " + Unstamped + "\n");

  for (const auto& [File, Bytes] : Before) EXPECT_EQ(ReadBytes(File), Bytes) << File;
  EXPECT_EQ(Entries(), NamesBefore);
}

TEST_F(SignToolTimestampTest, RunsSharingAPaceFileTryAServerThatIsDownOnceBetweenThem) {
  TimestampServer Server;
  const std::string Down = "http://127.0.0.1:9/";
  const std::string PaceFile = PathOf("pace");
  std::ofstream(PaceFile).flush();
  ASSERT_EQ(::chmod(PaceFile.c_str(), 0600), 0);
  const TScopedEnvironment SharedPace(TimestampPaceVariable, PaceFile);
  int DownTries = 0;
  for (const std::string Name : {"first.exe", "second.exe", "third.exe"}) {
    const std::string File = WriteProgram(Name, TPeKind::Exe32);
    ASSERT_EQ(SignWithoutTimestamp({}, File).ExitCode, 0);
    const TProcessResult Run = RunProcess(SignTool(), {"timestamp", "/v", "/t", Down + " ; " + Server.Url(), File});
    EXPECT_EQ(Run.ExitCode, 0) << Run.Err;
    // /v names each failed try's server.
    for (std::size_t At = Run.Out.find(Down); At != std::string::npos; At = Run.Out.find(Down, At + 1)) ++DownTries;
    EXPECT_EQ(VerifySignature(File, BothRoots()).State, vsValid) << File;
  }
  EXPECT_EQ(DownTries, 1);
  EXPECT_EQ(Server.RequestCount(), 3);
}

TEST_F(SignToolTimestampTest, CommandLine) {
  const std::string File = WriteProgram("options.exe", TPeKind::Exe32);
  const auto Error = [&File](std::vector<std::string> Args) {
    Args.insert(Args.begin(), "timestamp");
    Args.push_back(File);
    const TProcessResult Result = RunProcess(SignTool(), Args);
    EXPECT_EQ(Result.ExitCode, 1);
    return Result.Err;
  };
  EXPECT_EQ(Error({}), "SignTool Error: A timestamp server is required: use the /t or /tr option.\n");
  EXPECT_EQ(Error({"/t", "http://127.0.0.1:9/", "/td", "sha256"}), "SignTool Error: The /td option requires the /tr option.\n");
  EXPECT_EQ(Error({"/t", "http://127.0.0.1:9/", "/tr", "http://127.0.0.1:9/"}),
            "SignTool Error: The /t and /tr options are incompatible.\n");
  // The signing options belong to sign.
  EXPECT_EQ(Error({"/f", TestPki().PfxPath, "/t", "http://127.0.0.1:9/"}), "SignTool Error: Invalid option: /f\n");

  const TProcessResult Help = RunProcess(SignTool(), {"TimeStamp", "/?"});
  EXPECT_EQ(Help.ExitCode, 0);
  EXPECT_NE(Help.Out.find("Usage: signtool timestamp"), std::string::npos) << Help.Out;
  EXPECT_NE(RunProcess(SignTool(), {"/?"}).Out.find("timestamp  --"), std::string::npos);
}
