// Keys on a PKCS#11 token through libp11: SoftHSM2 tokens, with OpenSC's pkcs11-spy in front of
// the module where the calls to the token are counted.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <openssl/pem.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "authenticode/FileSigning.h"
#include "authenticode/VerifySignature.h"
#include "keys/PfxKey.h"
#include "keys/Pkcs11Key.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/ScopedEnvironment.h"
#include "support/SoftToken.h"
#include "support/TestPki.h"

namespace {
constexpr std::int64_t SigningTime = 1700000000;

TX509 ReadPemCertificate(const std::string& Path) {
  const TBio File(BIO_new_file(Path.c_str(), "r"));
  return TX509(File ? PEM_read_bio_X509(File.get(), nullptr, nullptr, nullptr) : nullptr);
}

std::string Slurp(const std::string& Path, std::uintmax_t From = 0) {
  std::ifstream Stream(Path, std::ios::binary);
  Stream.seekg(static_cast<std::streamoff>(From));
  return std::string(std::istreambuf_iterator<char>(Stream), {});
}

std::string Run(const std::string& Program, const std::vector<std::string>& Args) {
  const TProcessResult Result = RunProcess(Program, Args);
  EXPECT_EQ(Result.ExitCode, 0) << Program << ": " << Result.Err;
  return Result.Out;
}

// One C_Login as the spy logged it.
struct TLogin {
  std::string UserType;  // CKU_USER, CKU_CONTEXT_SPECIFIC...
  std::string Returned;  // CKR_OK, CKR_PIN_INCORRECT...
};

// The spy reads where to log when it is loaded, so the whole process logs into one file.
const std::string& SpyLog() {
  static const QTemporaryDir Folder;
  static const std::string Path = [] {
    const std::string File = Folder.filePath("pkcs11-calls.log").toStdString();
    ::setenv("PKCS11SPY", SoftToken().Module.c_str(), 1);
    ::setenv("PKCS11SPY_OUTPUT", File.c_str(), 1);
    return File;
  }();
  return Path;
}

// What the spy logs from now on.
class TCallLog {
 public:
  TCallLog() : LogPath(SpyLog()) {
    Start = std::filesystem::exists(LogPath) ? std::filesystem::file_size(LogPath) : 0;
  }

  std::vector<TLogin> Logins() const {
    std::vector<TLogin> Result;
    const std::string Log = Slurp(LogPath, Start);
    for (std::size_t At = Log.find(": C_Login\n"); At != std::string::npos; At = Log.find(": C_Login\n", At + 1)) {
      const std::size_t Type = Log.find("userType = ", At);
      const std::size_t Returned = Log.find("Returned:", At);
      if (Type == std::string::npos || Returned == std::string::npos) break;
      TLogin Login;
      Login.UserType = Log.substr(Type + 11, Log.find('\n', Type) - Type - 11);
      const std::size_t Name = Log.find("CKR_", Returned);
      Login.Returned = Log.substr(Name, Log.find('\n', Name) - Name);
      Result.push_back(Login);
    }
    return Result;
  }

 private:
  std::string LogPath;
  std::uintmax_t Start = 0;
};

// The key on the shared token through the spy.
TPkcs11KeyRequest SpiedRequest(const std::string& KeyUri, const std::string& Pin) {
  TPkcs11KeyRequest Request;
  Request.Uri = ParsePkcs11Uri(KeyUri).value();
  SpyLog();
  Request.Module = Pkcs11SpyModule();
  Request.Pin = Pin;
  return Request;
}

bool Verifies(X509* Certificate, const std::vector<std::uint8_t>& Signature, const std::vector<std::uint8_t>& Digest) {
  using TContext = std::unique_ptr<EVP_PKEY_CTX, TOpenSslFree<EVP_PKEY_CTX_free>>;
  const TContext Context(EVP_PKEY_CTX_new(X509_get0_pubkey(Certificate), nullptr));
  return Context && EVP_PKEY_verify_init(Context.get()) == 1 &&
         EVP_PKEY_CTX_set_signature_md(Context.get(), EVP_sha256()) == 1 &&
         EVP_PKEY_verify(Context.get(), Signature.data(), Signature.size(), Digest.data(), Digest.size()) == 1;
}

// SoftHSM2 tokens of a test's own, in a store that SOFTHSM2_CONF names while the object lives:
// for what the shared token must not have (a twin, a key that wants a login for each use).
class TScratchTokens {
 public:
  // A new token; its serial number.
  std::string AddToken(const std::string& Label) {
    const std::set<std::string> Before = Serials();
    Run("softhsm2-util", {"--init-token", "--free", "--label", Label, "--pin", Pin, "--so-pin", "12345678"});
    for (const std::string& Serial : Serials())
      if (!Before.contains(Serial)) return Serial;
    ADD_FAILURE() << "no new token";
    return {};
  }

  // The test PKI's RSA signer under id 01, its key with CKA_ALWAYS_AUTHENTICATE.
  void StoreAlwaysAuthenticatingSigner(const std::string& Label) {
    const std::string Key = Folder.filePath("key.der").toStdString(), Cert = Folder.filePath("cert.der").toStdString();
    Run("openssl", {"pkey", "-in", TestPki().SignerKeyPath, "-outform", "DER", "-out", Key});
    Run("openssl", {"x509", "-in", TestPki().SignerCertPath, "-outform", "DER", "-out", Cert});
    const std::vector<std::string> Common{"--module", SoftToken().Module, "--token-label", Label, "--login", "--pin", Pin,
                                          "--id", "01", "--label", "signer"};
    std::vector<std::string> WriteKey = Common, WriteCert = Common;
    WriteKey.insert(WriteKey.end(), {"--write-object", Key, "--type", "privkey", "--usage-sign", "--always-auth"});
    WriteCert.insert(WriteCert.end(), {"--write-object", Cert, "--type", "cert"});
    Run("pkcs11-tool", WriteKey);
    Run("pkcs11-tool", WriteCert);
  }

  const std::string Pin = "2468";

 private:
  std::set<std::string> Serials() const {
    std::set<std::string> Result;
    const std::string Slots = Run("softhsm2-util", {"--show-slots"});
    for (std::size_t At = Slots.find("Serial number:"); At != std::string::npos; At = Slots.find("Serial number:", At + 1)) {
      std::string Serial = Slots.substr(At + 14, Slots.find('\n', At) - At - 14);
      Serial.erase(0, Serial.find_first_not_of(' '));
      Serial.erase(Serial.find_last_not_of(' ') + 1);
      if (!Serial.empty()) Result.insert(Serial);
    }
    return Result;
  }

  // The store's configuration in Folder; its path.
  static std::string WriteConfig(const QTemporaryDir& Folder) {
    SoftToken();  // sets the shared store's SOFTHSM2_CONF first, which is put back afterwards
    std::filesystem::create_directory(Folder.filePath("tokens").toStdString());
    const std::string Config = Folder.filePath("softhsm2.conf").toStdString();
    std::ofstream(Config) << "directories.tokendir = " << Folder.filePath("tokens").toStdString() << "\n"
                          << "objectstore.backend = file\nlog.level = ERROR\n";
    return Config;
  }

  QTemporaryDir Folder;
  TScopedEnvironment Store{"SOFTHSM2_CONF", WriteConfig(Folder)};
};

class Pkcs11KeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    ASSERT_FALSE(SoftToken().Serial.empty());
  }

  std::string Program(const std::string& Name) const {
    const std::string Path = Folder.filePath(QString::fromStdString(Name)).toStdString();
    WriteBytes(Path, BuildPe({TPeKind::Exe32, 64 * 1024}));
    return Path;
  }

  static TSignatureSettings Settings(std::vector<X509*> Extra = {}) {
    TSignatureSettings Result;
    Result.Md = EVP_sha256();
    Result.Description = "Token key";
    Result.SigningTime = SigningTime;
    Result.ExtraCertificates = std::move(Extra);
    return Result;
  }

  static void ExpectAcceptedByBoth(const std::string& File) {
    const TVerifyResult Ours = VerifySignature(File, TestPki().CaCertPath);
    EXPECT_EQ(Ours.State, vsValidNoTimestamp) << Ours.Message;
    const TOsslVerdict Theirs = OsslVerify(File);
    EXPECT_TRUE(Theirs.SignatureOk) << Theirs.Output;
  }

  QTemporaryDir Folder;
};
}  // namespace

TEST_F(Pkcs11KeyTest, FiftySignaturesFromSeveralThreadsShareOneLogin) {
  const TCallLog Calls;
  TPkcs11OpenResult Opened = OpenPkcs11Key(SpiedRequest(SoftToken().RsaKeyUri, SoftToken().Pin));
  ASSERT_TRUE(Opened.Key) << Opened.Message;
  TPkcs11Key& Key = *Opened.Key;

  std::vector<std::vector<std::uint8_t>> Digests(50), Signatures(50);
  std::vector<std::string> Errors(50);
  for (std::size_t I = 0; I < Digests.size(); ++I) {
    Digests[I].resize(32);
    const std::string Text = "file " + std::to_string(I);
    EVP_Digest(Text.data(), Text.size(), Digests[I].data(), nullptr, EVP_sha256(), nullptr);
  }
  std::vector<std::thread> Threads;
  for (std::size_t First = 0; First < 5; ++First)
    Threads.emplace_back([&, First] {
      for (std::size_t I = First; I < Digests.size(); I += 5) {
        TKeySignature Signature = Key.SignDigest(Digests[I], EVP_sha256());
        Signatures[I] = std::move(Signature.Value);
        Errors[I] = Signature.Error;
      }
    });
  for (std::thread& Thread : Threads) Thread.join();
  for (std::size_t I = 0; I < Digests.size(); ++I)
    EXPECT_TRUE(Verifies(Key.Certificate(), Signatures[I], Digests[I])) << I << ": " << Errors[I];

  const std::vector<TLogin> Logins = Calls.Logins();
  ASSERT_EQ(Logins.size(), 1u);
  EXPECT_EQ(Logins[0].UserType, "CKU_USER");
  EXPECT_EQ(Logins[0].Returned, "CKR_OK");
}

TEST_F(Pkcs11KeyTest, SignedFileIsTheOneThePfxKeyMakesAndBothVerifiersAcceptIt) {
  const TTestPki& Pki = TestPki();
  TPfxOpenResult Pfx = OpenPfx(Pki.PfxPath, Pki.PfxPassword);
  ASSERT_TRUE(Pfx.Key) << Pfx.Message;
  const std::string WithPfx = Program("pfx.exe");
  ASSERT_EQ(SignFile(WithPfx, Settings(), *Pfx.Key).Failure, TSignFailure::None);

  // The token holds the same key; the PFX's CA comes as a further certificate, or in the
  // certificate file with the signer's.
  const TX509 Signer = ReadPemCertificate(Pki.SignerCertPath), Ca = ReadPemCertificate(Pki.CaCertPath);
  TPkcs11KeyRequest FromToken = SpiedRequest(SoftToken().RsaKeyUri, SoftToken().Pin);
  FromToken.Module.clear();  // p11-kit's proxy
  TPkcs11KeyRequest FromFile = SpiedRequest(SoftToken().RsaKeyUri, SoftToken().Pin);
  FromFile.Certificates = {Ca.get(), Signer.get()};
  for (const auto& [Name, Request, Extra] :
       {std::tuple{"token-certificate.exe", FromToken, std::vector<X509*>{Ca.get()}},
        std::tuple{"file-certificates.exe", FromFile, std::vector<X509*>{}}}) {
    SCOPED_TRACE(Name);
    TPkcs11OpenResult Opened = OpenPkcs11Key(Request);
    ASSERT_TRUE(Opened.Key) << Opened.Message;
    const std::string WithToken = Program(Name);
    const TSignFileResult Signed = SignFile(WithToken, Settings(Extra), *Opened.Key);
    ASSERT_EQ(Signed.Failure, TSignFailure::None) << Signed.Message;
    EXPECT_EQ(ReadBytes(WithToken), ReadBytes(WithPfx));
    ExpectAcceptedByBoth(WithToken);
  }
}

TEST_F(Pkcs11KeyTest, EcKeySignsAFileBothVerifiersAccept) {
  TPkcs11OpenResult Opened = OpenPkcs11Key(SpiedRequest(SoftToken().EcKeyUri, SoftToken().Pin));
  ASSERT_TRUE(Opened.Key) << Opened.Message;
  EXPECT_EQ(EVP_PKEY_get_base_id(X509_get0_pubkey(Opened.Key->Certificate())), EVP_PKEY_EC);
  const TX509 Ca = ReadPemCertificate(TestPki().CaCertPath);
  const std::string File = Program("ec.exe");
  const TSignFileResult Signed = SignFile(File, Settings({Ca.get()}), *Opened.Key);
  ASSERT_EQ(Signed.Failure, TSignFailure::None) << Signed.Message;
  ExpectAcceptedByBoth(File);
}

TEST_F(Pkcs11KeyTest, WrongPinIsTriedOnceAndSaidSo) {
  const TCallLog Calls;
  const TPkcs11OpenResult Opened = OpenPkcs11Key(SpiedRequest(SoftToken().RsaKeyUri, "1111 2222"));
  EXPECT_FALSE(Opened.Key);
  EXPECT_EQ(Opened.Failure, TPkcs11Failure::WrongPin);
  EXPECT_EQ(Opened.Message, "The card cannot be accessed because the wrong PIN was presented.");
  const std::vector<TLogin> Logins = Calls.Logins();
  ASSERT_EQ(Logins.size(), 1u);
  EXPECT_EQ(Logins[0].Returned, "CKR_PIN_INCORRECT");

  // Without a PIN nothing is tried at all: the attempt would count against the token's limit.
  const TPkcs11OpenResult NoPin = OpenPkcs11Key(SpiedRequest(SoftToken().RsaKeyUri, ""));
  EXPECT_EQ(NoPin.Failure, TPkcs11Failure::PinNeeded);
  EXPECT_EQ(NoPin.Message, "The token \"Quillory Test Token\" needs its PIN, and none was given.");
  EXPECT_EQ(Calls.Logins().size(), 1u);
}

TEST_F(Pkcs11KeyTest, EachProblemFindingTheKeyHasItsOwnError) {
  const TSoftToken& Token = SoftToken();
  const TX509 EcCertificate = ReadPemCertificate(TestPki().EcSignerCertPath);
  struct TCase {
    const char* Name;
    TPkcs11KeyRequest Request;
    TPkcs11Failure Failure;
    std::string Message;
  };
  TPkcs11KeyRequest MissingModule = SpiedRequest(Token.RsaKeyUri, Token.Pin);
  MissingModule.Module = "/nonexistent/pkcs11-module.so";
  TPkcs11KeyRequest ForeignCertificate = SpiedRequest(Token.RsaKeyUri, Token.Pin);
  ForeignCertificate.Certificates = {EcCertificate.get()};
  const std::vector<TCase> Cases{
      {"missing-module", MissingModule, TPkcs11Failure::ModuleNotLoaded,
       "The PKCS#11 module could not be loaded: /nonexistent/pkcs11-module.so"},
      {"unknown-label", SpiedRequest("pkcs11:token=Not%20Plugged%20In;id=%01", Token.Pin), TPkcs11Failure::TokenNotFound,
       "No token holding the key is present: pkcs11:token=Not%20Plugged%20In;id=%01;type=private"},
      {"unknown-serial", SpiedRequest("pkcs11:serial=0000;id=%01", Token.Pin), TPkcs11Failure::TokenNotFound,
       "No token holding the key is present: pkcs11:serial=0000;id=%01;type=private"},
      {"missing-key", SpiedRequest("pkcs11:token=Quillory%20Test%20Token;id=%09", Token.Pin), TPkcs11Failure::KeyNotFound,
       "The private key was not found on the token: pkcs11:token=Quillory%20Test%20Token;id=%09;type=private"},
      {"two-keys", SpiedRequest("pkcs11:token=Quillory%20Test%20Token", Token.Pin), TPkcs11Failure::KeyAmbiguous,
       "Several private keys on the token fit pkcs11:token=Quillory%20Test%20Token;type=private; name the one to use "
       "by its id."},
      {"foreign-certificate", ForeignCertificate, TPkcs11Failure::CertificateMismatch,
       "The given certificate does not belong to the private key on the token: "
       "pkcs11:token=Quillory%20Test%20Token;id=%01;type=private"}};
  for (const TCase& Case : Cases) {
    const TPkcs11OpenResult Opened = OpenPkcs11Key(Case.Request);
    EXPECT_FALSE(Opened.Key) << Case.Name;
    EXPECT_EQ(Opened.Failure, Case.Failure) << Case.Name;
    EXPECT_EQ(Opened.Message, Case.Message) << Case.Name;
  }
}

TEST_F(Pkcs11KeyTest, TwoTokensUnderOneLabelAreNamedByTheirSerials) {
  TScratchTokens Tokens;
  const std::string First = Tokens.AddToken("Twin"), Second = Tokens.AddToken("Twin");
  Tokens.AddToken("Other");
  TPkcs11KeyRequest Request;
  Request.Uri = ParsePkcs11Uri("pkcs11:token=Twin;id=%01").value();
  Request.Module = SoftToken().Module;
  Request.Pin = Tokens.Pin;
  const TPkcs11OpenResult Opened = OpenPkcs11Key(Request);
  EXPECT_EQ(Opened.Failure, TPkcs11Failure::TokenAmbiguous);
  // The order is the module's.
  const std::string Text = "The token label \"Twin\" is ambiguous: 2 present tokens carry it. Name the one to use by "
                           "its serial number in the URI: serial=";
  EXPECT_TRUE(Opened.Message == Text + First + " or serial=" + Second + "." ||
              Opened.Message == Text + Second + " or serial=" + First + ".")
      << Opened.Message;

  // With the serial the token is found, and the key is what is missing on it.
  Request.Uri.Set("serial", Second);
  EXPECT_EQ(OpenPkcs11Key(Request).Failure, TPkcs11Failure::KeyNotFound);
}

TEST_F(Pkcs11KeyTest, KeyThatWantsALoginForEachUseGetsItFromTheHeldPin) {
  TScratchTokens Tokens;
  Tokens.AddToken("Always");
  Tokens.StoreAlwaysAuthenticatingSigner("Always");
  const TCallLog Calls;
  TPkcs11OpenResult Opened = OpenPkcs11Key(SpiedRequest("pkcs11:token=Always;object=signer", Tokens.Pin));
  ASSERT_TRUE(Opened.Key) << Opened.Message;
  std::vector<std::uint8_t> Digest(32, 0x5A);
  for (int I = 0; I < 3; ++I) {
    const TKeySignature Signature = Opened.Key->SignDigest(Digest, EVP_sha256());
    EXPECT_TRUE(Verifies(Opened.Key->Certificate(), Signature.Value, Digest)) << Signature.Error;
  }
  const std::vector<TLogin> Logins = Calls.Logins();
  ASSERT_EQ(Logins.size(), 4u);
  EXPECT_EQ(Logins[0].UserType, "CKU_USER");
  for (std::size_t I = 1; I < Logins.size(); ++I) {
    EXPECT_EQ(Logins[I].UserType, "CKU_CONTEXT_SPECIFIC");
    EXPECT_EQ(Logins[I].Returned, "CKR_OK");
  }
}
