#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>

#include <openssl/pkcs7.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <variant>

#include "authenticode/VerifySignature.h"
#include "common/PeHeaders.h"
#include "common/uPubFunc.h"
#include "support/CabFixtures.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"

namespace {
std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::int64_t ParseIso(const std::string& Text) {
  const QDateTime Time = QDateTime::fromString(QString::fromStdString(Text), Qt::ISODate);
  return Time.isValid() ? Time.toSecsSinceEpoch() : -1;
}

bool IsValid(TVerifyState State) { return State == vsValid || State == vsValidNoTimestamp; }

// The signer's signature value inside a signed file, as the test's own OpenSSL reads it.
std::size_t SignatureValueOffset(const std::vector<std::uint8_t>& Bytes) {
  const auto Pe = std::get<TPeHeaders>(ReadPeHeaders(Bytes));
  const unsigned char* Der = Bytes.data() + Pe.CertOffset + 8;
  std::unique_ptr<PKCS7, decltype(&PKCS7_free)> Signed(d2i_PKCS7(nullptr, &Der, Pe.CertSize - 8), PKCS7_free);
  if (!Signed) return 0;
  const ASN1_OCTET_STRING* Value = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(Signed.get()), 0)->enc_digest;
  const auto* Start = ASN1_STRING_get0_data(Value);
  const auto Found = std::search(Bytes.begin(), Bytes.end(), Start, Start + ASN1_STRING_length(Value));
  return Found == Bytes.end() ? 0 : static_cast<std::size_t>(Found - Bytes.begin());
}

// Every signed file the tests look at, made once: osslsigncode signs real images with the test PKIs.
class VerifySignatureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Folder = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(Folder->isValid());
    const TTestPki& Pki = TestPki();
    const TBackdatedPki& Backdated = BackdatedPki();
    TrustAll = Path("trust.pem");
    std::ofstream Trust(TrustAll);
    for (const std::string& Root : {Pki.CaCertPath, Pki.TsaCaCertPath, Backdated.RootCertPath})
      Trust << std::ifstream(Root).rdbuf();
    Trust.close();

    WriteBytes(Path("unsigned.exe"), BuildPe({TPeKind::Exe32, 64 * 1024}));
    WriteBytes(Path("unsigned64.exe"), BuildPe({TPeKind::Dll64, 64 * 1024}));
    StartedAt = Now();
    TimestampServer Server;
    ASSERT_TRUE(OsslSign(Path("unsigned.exe"), Path("plain.exe")));
    ASSERT_TRUE(OsslSign(Path("unsigned.exe"), Path("authenticode.exe"), {"-t", Server.Url()}));
    ASSERT_TRUE(OsslSign(Path("unsigned.exe"), Path("rfc3161.exe"), {"-ts", Server.Url()}));
    ASSERT_TRUE(OsslSign(Path("unsigned64.exe"), Path("rfc3161-64.dll"), {"-ts", Server.Url(), "-h", "sha384"}));

    const std::string Pfx = Backdated.ExpiredPfxPath;
    const std::string Password = Backdated.ExpiredPfxPassword;
    ASSERT_TRUE(OsslSignAs(Pfx, Password, Path("unsigned.exe"), Path("expired.exe")));
    ASSERT_TRUE(OsslSignAs(Pfx, Password, Path("unsigned.exe"), Path("expired-stamped-now.exe"), {"-ts", Server.Url()}));
    TimestampServer Backdating(TTimestampBehaviour::Answer,
                               {Backdated.TsaCertPath, Backdated.TsaKeyPath, Backdated.WhileSignerValid});
    ASSERT_TRUE(OsslSignAs(Pfx, Password, Path("unsigned.exe"), Path("expired-stamped-then-rfc.exe"),
                           {"-ts", Backdating.Url()}));
    ASSERT_TRUE(OsslSignAs(Pfx, Password, Path("unsigned.exe"), Path("expired-stamped-then-authenticode.exe"),
                           {"-t", Backdating.Url()}));
    ASSERT_TRUE(OsslSign(Path("rfc3161.exe"), Path("nested.exe"), {"-nest", "-h", "sha1"}));
    ASSERT_TRUE(OsslSignAs(Pfx, Password, Path("rfc3161.exe"), Path("nested-expired.exe"), {"-nest"}));
    FinishedAt = Now();

    auto Bytes = ReadBytes(Path("rfc3161.exe"));
    const auto Pe = std::get<TPeHeaders>(ReadPeHeaders(Bytes));
    auto Changed = Bytes;
    Changed[Pe.CertOffset / 2] ^= 0x01;  // inside the code section
    WriteBytes(Path("section-flipped.exe"), Changed);
    Changed = Bytes;
    const std::size_t Value = SignatureValueOffset(Bytes);
    ASSERT_NE(Value, 0u);
    Changed[Value + 16] ^= 0x01;
    WriteBytes(Path("signature-flipped.exe"), Changed);
    Changed = Bytes;
    Changed.push_back(0);
    WriteBytes(Path("appended.exe"), Changed);
    Changed = Bytes;
    Changed[Pe.CertOffset + 8] = 0x31;  // the PKCS#7 no longer begins with a SEQUENCE
    WriteBytes(Path("garbled.exe"), Changed);

    const auto Cab = BuildCab("readme.txt", std::string(5000, 'q'));
    WriteBytes(Path("unsigned.cab"), Cab);
    ASSERT_TRUE(OsslSign(Path("unsigned.cab"), Path("signed.cab"), {"-ts", Server.Url()}));
    auto CabBytes = ReadBytes(Path("signed.cab"));
    CabBytes[CabBytes.size() / 4] ^= 0x01;  // inside the stored file's data
    WriteBytes(Path("flipped.cab"), CabBytes);
    std::ofstream(Path("notes.txt")) << "not a program\n";
  }

  static void TearDownTestSuite() { Folder.reset(); }

  static std::string Path(const std::string& Name) { return Folder->filePath(QString::fromStdString(Name)).toStdString(); }

  static inline std::unique_ptr<QTemporaryDir> Folder;
  static inline std::string TrustAll;
  static inline std::int64_t StartedAt = 0;
  static inline std::int64_t FinishedAt = 0;
};

TEST_F(VerifySignatureTest, EachTimestampKindOnBothImageFormatsIsValid) {
  for (const char* Name : {"authenticode.exe", "rfc3161.exe", "rfc3161-64.dll", "signed.cab"}) {
    const TVerifyResult Result = VerifySignature(Path(Name), TrustAll);
    EXPECT_EQ(Result.State, vsValid) << Name << ": " << Result.Message;
    EXPECT_EQ(Result.Signer, TestPki().SignerCommonName) << Name;
    const std::int64_t Stamped = ParseIso(Result.TimeStamp);
    EXPECT_GE(Stamped, StartedAt - 1) << Name << ": " << Result.TimeStamp;
    EXPECT_LE(Stamped, FinishedAt + 1) << Name << ": " << Result.TimeStamp;
    EXPECT_NE(Result.Message.find(Result.TimeStamp), std::string::npos) << Result.Message;
  }
}

TEST_F(VerifySignatureTest, WithoutTimestampIsValidButSaysSo) {
  const TVerifyResult Result = VerifySignature(Path("plain.exe"), TrustAll);
  EXPECT_EQ(Result.State, vsValidNoTimestamp) << Result.Message;
  EXPECT_EQ(Result.Signer, TestPki().SignerCommonName);
  EXPECT_TRUE(Result.TimeStamp.empty());
}

TEST_F(VerifySignatureTest, FilesWithoutSignaturesOrBeyondReach) {
  EXPECT_EQ(VerifySignature(Path("unsigned.exe"), TrustAll).State, vsUnsigned);
  EXPECT_EQ(VerifySignature(Path("unsigned64.exe"), TrustAll).State, vsUnsigned);
  EXPECT_EQ(VerifySignature(Path("unsigned.cab"), TrustAll).State, vsUnsigned);
  EXPECT_EQ(VerifySignature(Path("notes.txt"), TrustAll).State, vsUnsupported);
  EXPECT_EQ(VerifySignature(Path("missing.exe"), TrustAll).State, vsUnreadable);
  EXPECT_EQ(VerifySignature(Folder->path().toStdString(), TrustAll).State, vsUnreadable);
  std::ofstream(Path("empty.exe")).close();
  EXPECT_EQ(VerifySignature(Path("empty.exe"), TrustAll).State, vsUnsupported);
  std::vector<std::uint8_t> BrokenPe = ReadBytes(Path("unsigned.exe"));
  BrokenPe.resize(0x80);
  WriteBytes(Path("broken.exe"), BrokenPe);
  EXPECT_EQ(VerifySignature(Path("broken.exe"), TrustAll).State, vsUnsupported);
  for (const char* Name : {"unsigned.exe", "notes.txt", "missing.exe"}) {
    const TVerifyResult Result = VerifySignature(Path(Name), TrustAll);
    EXPECT_FALSE(Result.Message.empty()) << Name;
    EXPECT_TRUE(Result.Signer.empty() && Result.TimeStamp.empty()) << Name;
  }
}

TEST_F(VerifySignatureTest, ChangesAfterSigningAreCaught) {
  for (const char* Name : {"section-flipped.exe", "signature-flipped.exe", "appended.exe", "flipped.cab"}) {
    const TVerifyResult Result = VerifySignature(Path(Name), TrustAll);
    EXPECT_EQ(Result.State, vsTampered) << Name << ": " << Result.Message;
    EXPECT_TRUE(Result.TimeStamp.empty()) << Name;
  }
  EXPECT_EQ(VerifySignature(Path("garbled.exe"), TrustAll).State, vsUnreadable);

  auto Bytes = ReadBytes(Path("rfc3161.exe"));
  const auto Pe = std::get<TPeHeaders>(ReadPeHeaders(Bytes));
  Bytes.resize(Pe.CertOffset + Pe.CertSize / 2);  // the table now reaches past the end
  WriteBytes(Path("cut.exe"), Bytes);
  EXPECT_EQ(VerifySignature(Path("cut.exe"), TrustAll).State, vsUnreadable);
}

TEST_F(VerifySignatureTest, TrustComesFromTheSystemAndTheExtraFile) {
  const TVerifyResult Untrusted = VerifySignature(Path("rfc3161.exe"));
  EXPECT_EQ(Untrusted.State, vsUntrusted) << Untrusted.Message;
  EXPECT_EQ(Untrusted.Signer, TestPki().SignerCommonName);
  EXPECT_EQ(VerifySignature(Path("rfc3161.exe"), Path("no-such-trust.pem")).State, vsUntrusted);

  // Only the signer's root: the timestamp cannot be trusted, the signature still can.
  const TVerifyResult SignerOnly = VerifySignature(Path("rfc3161.exe"), TestPki().CaCertPath);
  EXPECT_EQ(SignerOnly.State, vsValidNoTimestamp) << SignerOnly.Message;
  EXPECT_TRUE(SignerOnly.TimeStamp.empty());

  // A trust file replaced under the same name is read again.
  const std::string Replaced = Path("replaced.pem");
  std::filesystem::copy_file(TestPki().TsaCaCertPath, Replaced);
  EXPECT_EQ(VerifySignature(Path("rfc3161.exe"), Replaced).State, vsUntrusted);
  std::filesystem::copy_file(TrustAll, Replaced, std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(VerifySignature(Path("rfc3161.exe"), Replaced).State, vsValid);
}

TEST_F(VerifySignatureTest, TrustFromSeveralFilesOrAFolderOfPemAndDer) {
  const TTestPki& Pki = TestPki();
  const TVerifyResult Listed = VerifySignature(Path("rfc3161.exe"), Pki.CaCertPath + " ; " + Pki.TsaCaCertPath);
  EXPECT_EQ(Listed.State, vsValid) << Listed.Message;

  const std::string Roots = Path("roots");
  std::filesystem::create_directory(Roots);
  std::filesystem::copy_file(Pki.CaCertPath, Roots + "/signer-root.pem");
  const TProcessResult Der = RunProcess("openssl", {"x509", "-in", Pki.TsaCaCertPath, "-outform", "DER", "-out",
                                                    Roots + "/tsa-root.cer"});
  ASSERT_EQ(Der.ExitCode, 0) << Der.Err;
  std::ofstream(Roots + "/README") << "not a certificate\n";
  const TVerifyResult FromFolder = VerifySignature(Path("rfc3161.exe"), Roots);
  EXPECT_EQ(FromFolder.State, vsValid) << FromFolder.Message;

  // The signer's chain holds and the timestamp's does not: the message says whose trust is missing.
  const TVerifyResult SignerOnly = VerifySignature(Path("rfc3161.exe"), Pki.CaCertPath);
  const TVerifyResult Unstamped = VerifySignature(Path("plain.exe"), Pki.CaCertPath);
  EXPECT_EQ(SignerOnly.State, vsValidNoTimestamp);
  EXPECT_NE(SignerOnly.Message, Unstamped.Message);
  EXPECT_NE(SignerOnly.Message.find("颁发者"), std::string::npos) << SignerOnly.Message;

  // A folder added to meanwhile is read again.
  std::filesystem::remove(Roots + "/tsa-root.cer");
  EXPECT_EQ(VerifySignature(Path("rfc3161.exe"), Roots).State, vsValidNoTimestamp);
  std::filesystem::copy_file(Pki.TsaCaCertPath, Roots + "/tsa-root.pem");
  EXPECT_EQ(VerifySignature(Path("rfc3161.exe"), Roots).State, vsValid);
}

TEST_F(VerifySignatureTest, ExpiredSignerNeedsATimestampFromItsValidity) {
  for (const char* Name : {"expired.exe", "expired-stamped-now.exe"}) {
    const TVerifyResult Result = VerifySignature(Path(Name), TrustAll);
    EXPECT_EQ(Result.State, vsExpired) << Name << ": " << Result.Message;
    EXPECT_EQ(Result.Signer, BackdatedPki().ExpiredSignerCommonName) << Name;
    EXPECT_TRUE(Result.TimeStamp.empty()) << Name;
  }
  for (const char* Name : {"expired-stamped-then-rfc.exe", "expired-stamped-then-authenticode.exe"}) {
    const TVerifyResult Result = VerifySignature(Path(Name), TrustAll);
    EXPECT_EQ(Result.State, vsValid) << Name << ": " << Result.Message;
    EXPECT_EQ(ParseIso(Result.TimeStamp), BackdatedPki().WhileSignerValid) << Name << ": " << Result.TimeStamp;
  }
  // An expired certificate from an untrusted root is reported as untrusted.
  EXPECT_EQ(VerifySignature(Path("expired.exe"), TestPki().CaCertPath).State, vsUntrusted);
}

TEST_F(VerifySignatureTest, PrimaryDecidesAndNestedAreMentioned) {
  const TVerifyResult Valid = VerifySignature(Path("nested.exe"), TrustAll);
  EXPECT_EQ(Valid.State, vsValid) << Valid.Message;
  const TVerifyResult Primary = VerifySignature(Path("rfc3161.exe"), TrustAll);
  EXPECT_GT(Valid.Message.size(), Primary.Message.size()) << Valid.Message;

  const TVerifyResult Expired = VerifySignature(Path("nested-expired.exe"), TrustAll);
  EXPECT_EQ(Expired.State, vsValid) << Expired.Message;
  EXPECT_EQ(Expired.Signer, TestPki().SignerCommonName);
  EXPECT_NE(Expired.Message.find(BackdatedPki().ExpiredSignerCommonName), std::string::npos) << Expired.Message;
  EXPECT_NE(Expired.Message, Valid.Message);
}

TEST_F(VerifySignatureTest, AgreesWithOsslsigncodeOnValidity) {
  const std::map<std::string, std::string> Trusts{{"extra trust", TrustAll},
                                                  {"system only", "/etc/ssl/certs/ca-certificates.crt"}};
  for (const auto& [Label, TrustFile] : Trusts) {
    for (const char* Name : {"plain.exe", "authenticode.exe", "rfc3161.exe", "rfc3161-64.dll", "expired.exe",
                             "expired-stamped-now.exe", "expired-stamped-then-rfc.exe",
                             "expired-stamped-then-authenticode.exe", "nested.exe", "section-flipped.exe",
                             "signature-flipped.exe", "unsigned.exe", "signed.cab", "flipped.cab"}) {
      const bool Ours = IsValid(VerifySignature(Path(Name), Label == "system only" ? "" : TrustFile).State);
      const TOsslVerdict Theirs = OsslVerifyTrusting(Path(Name), TrustFile);
      EXPECT_EQ(Ours, Theirs.SignatureOk) << Name << " with " << Label << ":\n" << Theirs.Output;
    }
  }
}
}  // namespace
