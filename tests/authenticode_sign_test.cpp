// In-process Authenticode signing against osslsigncode as the oracle: the same file, key,
// description, address and signing time give the same bytes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <openssl/pem.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <variant>

#include "authenticode/FileSigning.h"
#include "authenticode/SignatureBuilder.h"
#include "authenticode/VerifySignature.h"
#include "common/FileReader.h"
#include "common/OpenSslPtr.h"
#include "common/PeHeaders.h"
#include "authenticode/Pkcs7Parts.h"
#include "authenticode/SignedContainer.h"
#include "common/uPubFunc.h"
#include "keys/PfxKey.h"
#include "support/CabFixtures.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/TestPki.h"

namespace {
constexpr std::int64_t SigningTime = 1700000000;  // 2023-11-14 22:13:20 UTC
const std::string Description = "Quillory 测试程序";
const std::string DescriptionUrl = "https://quillory.example/about";

using TCertificate = std::unique_ptr<X509, TOpenSslFree<X509_free>>;

TCertificate ReadPemCertificate(const std::string& Path) {
  const TBio File(BIO_new_file(Path.c_str(), "r"));
  return TCertificate(File ? PEM_read_bio_X509(File.get(), nullptr, nullptr, nullptr) : nullptr);
}

struct TSignedFile {
  TSignedContainer Container;
  std::vector<std::uint8_t> Bytes;
};

TSignedFile ReadSigned(const std::string& Path) {
  TFileReader File;
  EXPECT_TRUE(File.Open(Path));
  std::optional<TSignedContainer> Container = LocateSignature(File.Descriptor(), File.Size());
  EXPECT_TRUE(Container.has_value());
  return {Container.value_or(TSignedContainer{}), ReadBytes(Path)};
}

class AuthenticodeSigning : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Folder = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(Folder->isValid());
    const TTestPki& Pki = TestPki();
    TPfxOpenResult Opened = OpenPfx(Pki.PfxPath, Pki.PfxPassword);
    ASSERT_TRUE(Opened.Key) << Opened.Message;
    Key = std::move(Opened.Key);

    // A program with a few bytes after its last section, so that the copy must be padded.
    std::vector<std::uint8_t> Exe = BuildPe({TPeKind::Exe32, 40 * 1024});
    Exe.insert(Exe.end(), {'t', 'a', 'i', 'l'});
    WriteBytes(Path("unsigned.exe"), Exe);
    WriteBytes(Path("unsigned64.exe"), BuildPe({TPeKind::Exe64, 40 * 1024, true}));
    WriteBytes(Path("unsigned.dll"), BuildPe({TPeKind::Dll32, 8 * 1024}));
    WriteBytes(Path("unsigned.sys"), BuildPe({TPeKind::Dll64, 8 * 1024}));
    const std::vector<std::uint8_t> Cab = BuildCab("readme.txt", std::string(70000, 'q'));
    WriteBytes(Path("unsigned.cab"), Cab);
  }
  static void TearDownTestSuite() {
    Key.reset();
    Folder.reset();
  }

  static std::string Path(const std::string& Name) { return Folder->filePath(QString::fromStdString(Name)).toStdString(); }

  static std::string Copy(const std::string& From, const std::string& To) {
    std::filesystem::copy_file(Path(From), Path(To), std::filesystem::copy_options::overwrite_existing);
    return Path(To);
  }

  static TSignatureSettings Settings(const EVP_MD* Md) {
    TSignatureSettings Result;
    Result.Md = Md;
    Result.Description = Description;
    Result.DescriptionUrl = DescriptionUrl;
    Result.SigningTime = SigningTime;
    return Result;
  }

  static std::vector<std::string> OsslOptions(const std::string& Digest) {
    return {"-h", Digest, "-n", Description, "-i", DescriptionUrl, "-time", std::to_string(SigningTime)};
  }

  // Both verifiers accept the file; Trust holds the test CA.
  static void ExpectAcceptedByBoth(const std::string& File) {
    const TVerifyResult Ours = VerifySignature(File, TestPki().CaCertPath);
    EXPECT_TRUE(Ours.State == vsValidNoTimestamp || Ours.State == vsValid) << File << ": " << Ours.Message;
    const TOsslVerdict Theirs = OsslVerify(File);
    EXPECT_TRUE(Theirs.SignatureOk) << File << ":\n" << Theirs.Output;
  }

  static inline std::unique_ptr<QTemporaryDir> Folder;
  static inline std::unique_ptr<TPfxKey> Key;
};

TEST_F(AuthenticodeSigning, MatchesOsslsigncodeByteForByteForEveryKindAndDigest) {
  const std::vector<std::pair<std::string, const EVP_MD*>> Digests{
      {"sha256", EVP_sha256()}, {"sha384", EVP_sha384()}, {"sha512", EVP_sha512()}};
  for (const std::string Name : {"unsigned.exe", "unsigned64.exe", "unsigned.dll", "unsigned.sys", "unsigned.cab"}) {
    for (const auto& [DigestName, Md] : Digests) {
      SCOPED_TRACE(Name + " " + DigestName);
      const std::string Theirs = Path("oracle-" + DigestName + "-" + Name);
      ASSERT_TRUE(OsslSign(Path(Name), Theirs, OsslOptions(DigestName)));
      const std::string Ours = Copy(Name, "ours-" + DigestName + "-" + Name);
      const TSignFileResult Result = SignFile(Ours, Settings(Md), *Key);
      ASSERT_EQ(Result.Failure, TSignFailure::None) << Result.Message;
      EXPECT_EQ(ReadBytes(Ours), ReadBytes(Theirs));
      ExpectAcceptedByBoth(Ours);
    }
  }
}

TEST_F(AuthenticodeSigning, ResigningReplacesTheSignatureAndAddsFurtherCertificatesAsOsslsigncodeDoes) {
  const TTestPki& Pki = TestPki();
  const TCertificate Extra = ReadPemCertificate(Pki.TsaCaCertPath);
  ASSERT_TRUE(Extra);
  for (const std::string Name : {"unsigned.exe", "unsigned.cab"}) {
    SCOPED_TRACE(Name);
    std::vector<std::string> Options = OsslOptions("sha256");
    Options.insert(Options.end(), {"-ac", Pki.TsaCaCertPath});
    // Both start from a file signed already, without a description.
    const std::string Signed = Path("signed-" + Name);
    ASSERT_TRUE(OsslSign(Path(Name), Signed, {"-time", "1600000000"}));
    const std::string Theirs = Path("oracle-resigned-" + Name);
    ASSERT_TRUE(OsslSign(Signed, Theirs, Options));
    const std::string Ours = Copy("signed-" + Name, "ours-resigned-" + Name);
    TSignatureSettings WithExtra = Settings(EVP_sha256());
    WithExtra.ExtraCertificates = {Extra.get()};
    const TSignFileResult Result = SignFile(Ours, WithExtra, *Key);
    ASSERT_EQ(Result.Failure, TSignFailure::None) << Result.Message;
    EXPECT_EQ(ReadBytes(Ours), ReadBytes(Theirs));
    ExpectAcceptedByBoth(Ours);
  }
}

TEST_F(AuthenticodeSigning, AppendedSignatureIsNestedAsOsslsigncodeNestsIt) {
  for (const std::string Name : {"unsigned64.exe", "unsigned.cab"}) {
    SCOPED_TRACE(Name);
    const std::string Theirs = Path("oracle-dual-" + Name);
    ASSERT_TRUE(OsslSign(Path(Name), Theirs, OsslOptions("sha1")));
    std::vector<std::string> Nest = OsslOptions("sha256");
    Nest.push_back("-nest");
    ASSERT_TRUE(OsslSign(Theirs, Theirs, Nest));

    const std::string Ours = Copy(Name, "ours-dual-" + Name);
    ASSERT_EQ(SignFile(Ours, Settings(EVP_sha1()), *Key).Failure, TSignFailure::None);
    const std::vector<std::uint8_t> FirstSignature = ReadSigned(Ours).Container.SignedData;
    TSignatureSettings Dual = Settings(EVP_sha256());
    Dual.AppendSignature = true;
    const TSignFileResult Result = SignFile(Ours, Dual, *Key);
    ASSERT_EQ(Result.Failure, TSignFailure::None) << Result.Message;
    EXPECT_EQ(ReadBytes(Ours), ReadBytes(Theirs));

    // The first signature is still the primary one, and carries the second nested.
    const TSignedFile Signed = ReadSigned(Ours);
    const TPkcs7 Primary = ParsePkcs7(Signed.Container.SignedData);
    ASSERT_TRUE(Primary);
    PKCS7_SIGNER_INFO* Signer = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(Primary.get()), 0);
    EXPECT_EQ(OBJ_obj2nid(Signer->digest_alg->algorithm), NID_sha1);
    EXPECT_EQ(UnsignedAttributeValues(Signer, NestedSignatureOid).size(), 1u);
    const TPkcs7 First = ParsePkcs7(FirstSignature);
    ASSERT_TRUE(First);
    EXPECT_EQ(ASN1_STRING_cmp(Signer->enc_digest,
                              sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(First.get()), 0)->enc_digest),
              0);
    ExpectAcceptedByBoth(Ours);
    EXPECT_NE(OsslVerify(Ours).Output.find("Signature Index: 1"), std::string::npos);
  }
}

TEST_F(AuthenticodeSigning, AppendingToAFileWithoutSignatureMakesItsSignature) {
  const std::string Plain = Copy("unsigned.dll", "plain.dll");
  const std::string Appended = Copy("unsigned.dll", "appended.dll");
  TSignatureSettings Append = Settings(EVP_sha256());
  Append.AppendSignature = true;
  ASSERT_EQ(SignFile(Plain, Settings(EVP_sha256()), *Key).Failure, TSignFailure::None);
  ASSERT_EQ(SignFile(Appended, Append, *Key).Failure, TSignFailure::None);
  EXPECT_EQ(ReadBytes(Appended), ReadBytes(Plain));
}

// ECDSA signatures are randomised: everything else is the same.
TEST_F(AuthenticodeSigning, EcKeyGivesTheSameSignatureButForItsValue) {
  const TTestPki& Pki = TestPki();
  const std::string EcPfx = Path("ec.pfx");
  const TProcessResult Export =
      RunProcess("openssl", {"pkcs12", "-export", "-inkey", Pki.EcSignerKeyPath, "-in", Pki.EcSignerCertPath,
                             "-certfile", Pki.CaCertPath, "-out", EcPfx, "-passout", "pass:ec-secret"});
  ASSERT_EQ(Export.ExitCode, 0) << Export.Err;
  TPfxOpenResult EcKey = OpenPfx(EcPfx, "ec-secret");
  ASSERT_TRUE(EcKey.Key) << EcKey.Message;

  for (const std::string Name : {"unsigned.exe", "unsigned.cab"}) {
    SCOPED_TRACE(Name);
    const std::string Theirs = Path("oracle-ec-" + Name);
    ASSERT_TRUE(OsslSignAs(EcPfx, "ec-secret", Path(Name), Theirs, OsslOptions("sha256")));
    const std::string Ours = Copy(Name, "ours-ec-" + Name);
    ASSERT_EQ(SignFile(Ours, Settings(EVP_sha256()), *EcKey.Key).Failure, TSignFailure::None);
    ExpectAcceptedByBoth(Ours);

    const TSignedFile OurFile = ReadSigned(Ours);
    const TSignedFile TheirFile = ReadSigned(Theirs);
    // The same signed bytes, hence the same content before the signature.
    ASSERT_EQ(OurFile.Container.DigestedParts.size(), TheirFile.Container.DigestedParts.size());
    for (std::size_t Index = 0; Index + 1 < OurFile.Container.DigestedParts.size(); ++Index) {
      const TByteRange Part = OurFile.Container.DigestedParts[Index];
      EXPECT_EQ(Part.Pos, TheirFile.Container.DigestedParts[Index].Pos);
      EXPECT_TRUE(std::equal(OurFile.Bytes.begin() + Part.Pos, OurFile.Bytes.begin() + Part.Pos + Part.Length,
                             TheirFile.Bytes.begin() + Part.Pos));
    }
    // With their signature value put in ours, the signatures are the same.
    const TPkcs7 OurSignature = ParsePkcs7(OurFile.Container.SignedData);
    const TPkcs7 TheirSignature = ParsePkcs7(TheirFile.Container.SignedData);
    ASSERT_TRUE(OurSignature && TheirSignature);
    PKCS7_SIGNER_INFO* OurSigner = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(OurSignature.get()), 0);
    PKCS7_SIGNER_INFO* TheirSigner = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(TheirSignature.get()), 0);
    EXPECT_NE(ASN1_STRING_cmp(OurSigner->enc_digest, TheirSigner->enc_digest), 0);
    ASSERT_EQ(ASN1_STRING_copy(OurSigner->enc_digest, TheirSigner->enc_digest), 1);
    EXPECT_EQ(SignatureDer(OurSignature.get()), SignatureDer(TheirSignature.get()));
  }
}

class AuthenticodeSigningFailure : public AuthenticodeSigning {
 protected:
  // Signs a copy of Name; expects Failure and the copy unchanged; returns the message.
  static std::string ExpectRefused(const std::string& File, TSigningKey& With, TSignFailure Failure) {
    const std::vector<std::uint8_t> Before = ReadBytes(File);
    const TSignFileResult Result = SignFile(File, Settings(EVP_sha256()), With);
    EXPECT_EQ(Result.Failure, Failure) << Result.Message;
    EXPECT_FALSE(Result.Message.empty());
    EXPECT_EQ(ReadBytes(File), Before);
    return Result.Message;
  }
};

// A key that lets the test act while the file is being signed.
class TInterruptingKey final : public TSigningKey {
 public:
  TInterruptingKey(TSigningKey& Inner, std::function<void()> WhileSigning)
      : Inner(Inner), WhileSigning(std::move(WhileSigning)) {}
  X509* Certificate() const override { return Inner.Certificate(); }
  std::vector<X509*> Chain() const override { return Inner.Chain(); }
  TKeySignature SignDigest(std::span<const std::uint8_t> Digest, const EVP_MD* Md) override {
    WhileSigning();
    return Inner.SignDigest(Digest, Md);
  }

 private:
  TSigningKey& Inner;
  std::function<void()> WhileSigning;
};

TEST_F(AuthenticodeSigningFailure, EachFailureHasItsOwnMessageAndLeavesTheFileAlone) {
  std::set<std::string> Messages;

  const std::string ReadOnly = Copy("unsigned.exe", "read-only.exe");
  ::chmod(ReadOnly.c_str(), 0444);
  Messages.insert(ExpectRefused(ReadOnly, *Key, TSignFailure::NotWritable));

  // Another program rewrites the file between its digest and the signature's end.
  const std::string Changing = Copy("unsigned.dll", "changing.dll");
  TInterruptingKey Interrupting(*Key, [&Changing] { std::ofstream(Changing, std::ios::app) << "appended"; });
  const TSignFileResult Changed = SignFile(Changing, Settings(EVP_sha256()), Interrupting);
  EXPECT_EQ(Changed.Failure, TSignFailure::Changed) << Changed.Message;
  std::vector<std::uint8_t> Expected = ReadBytes(Path("unsigned.dll"));
  Expected.insert(Expected.end(), {'a', 'p', 'p', 'e', 'n', 'd', 'e', 'd'});
  EXPECT_EQ(ReadBytes(Changing), Expected);
  Messages.insert(Changed.Message);

  const std::string Text = Path("notes.txt");
  WriteBytes(Text, std::vector<std::uint8_t>(4096, 'x'));
  Messages.insert(ExpectRefused(Text, *Key, TSignFailure::NotSignable));


  // A certificate table that does not end the file cannot be cut off without loss.
  const std::string Misplaced = Path("misplaced.exe");
  ASSERT_TRUE(OsslSign(Path("unsigned.exe"), Misplaced));
  std::ofstream(Misplaced, std::ios::app) << "overlay after the table";
  Messages.insert(ExpectRefused(Misplaced, *Key, TSignFailure::DamagedSignature));

  const TPfxOpenResult Wrong = OpenPfx(TestPki().PfxPath, "not the password");
  EXPECT_FALSE(Wrong.Key);
  EXPECT_EQ(Wrong.Failure, TPfxFailure::WrongPassword);
  Messages.insert(Wrong.Message);
  const TPfxOpenResult NotPfx = OpenPfx(Text, "x");
  EXPECT_EQ(NotPfx.Failure, TPfxFailure::NotPfx);
  Messages.insert(NotPfx.Message);

  EXPECT_EQ(Messages.size(), 6u);
}

#ifndef __has_feature
#define __has_feature(Feature) 0
#endif

// The file is streamed through: a file far larger than the limit signs within it.
TEST_F(AuthenticodeSigning, PeakMemoryDoesNotGrowWithTheFile) {
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
  GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine";
#endif
  constexpr std::uint64_t FileSize = std::uint64_t{256} << 20;
  constexpr long LimitKiB = 32 * 1024;
  const std::string Large = Copy("unsigned64.exe", "large.exe");
  std::filesystem::resize_file(Large, FileSize);  // a sparse overlay of zeros
  const TProcessResult Probe =
      RunProcess(QCoreApplication::applicationDirPath().toStdString() + "/sign_probe",
                 {Large, TestPki().PfxPath, TestPki().PfxPassword});
  ASSERT_EQ(Probe.ExitCode, 0) << Probe.Err;
  EXPECT_LT(std::stol(Probe.Out), LimitKiB);
  EXPECT_GT(std::filesystem::file_size(Large), FileSize);
  ExpectAcceptedByBoth(Large);
  std::filesystem::remove(Large);
}

TEST(PfxKey, OpensWithoutPasswordWhenItHasNone) {
  const std::string Pfx = PfxWithPassword("");
  EXPECT_TRUE(OpenPfx(Pfx, std::nullopt).Key);
  EXPECT_TRUE(OpenPfx(Pfx, "").Key);
  EXPECT_EQ(OpenPfx(Pfx, "something").Failure, TPfxFailure::WrongPassword);
}
}  // namespace
