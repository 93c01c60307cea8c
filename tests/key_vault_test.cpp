// Certificates in Azure Key Vault, end to end through signtool.exe: the certificate and its chain
// from the vault, the digests signed by the vault's key, the token from where Azure's own tools
// take it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <cstdlib>

#include "authenticode/VerifySignature.h"
#include "support/CabFixtures.h"
#include "support/EntraTokenService.h"
#include "support/KeyVaultService.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/ScopedEnvironment.h"
#include "support/TestPki.h"

namespace {
constexpr const char* Token = "eyJ0eXAiOiJKV1QiLCJhbGciOiJSUzI1NiJ9.vault";
constexpr const char* Scope = "https://vault.azure.net/.default";

std::string SignTool() { return QCoreApplication::applicationDirPath().toStdString() + "/signtool.exe"; }

// How many certificates the file's signature carries, as openssl lists them.
int CertificatesIn(const std::string& File) {
  const std::string Signature = File + ".p7";
  if (RunProcess("osslsigncode", {"extract-signature", "-in", File, "-out", Signature}).ExitCode != 0) return -1;
  const TProcessResult Listed = RunProcess("openssl", {"pkcs7", "-inform", "DER", "-in", Signature, "-print_certs", "-noout"});
  int Count = 0;
  for (std::size_t At = Listed.Out.find("subject="); At != std::string::npos; At = Listed.Out.find("subject=", At + 1)) ++Count;
  return Count;
}

class KeyVaultTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& Name) const { return Folder.filePath(QString::fromStdString(Name)).toStdString(); }
  std::string Program(const std::string& Name) const {
    WriteBytes(PathOf(Name), BuildPe({TPeKind::Exe64, 16 * 1024}));
    return PathOf(Name);
  }
  TProcessResult Sign(const std::string& Address, const std::vector<std::string>& Files) const {
    std::vector<std::string> Arguments{"sign", "/q", "/kc", Address};
    Arguments.insert(Arguments.end(), Files.begin(), Files.end());
    return RunProcess(SignTool(), Arguments);
  }

  QTemporaryDir Folder;
};

TEST_F(KeyVaultTest, CertificateAndChainFromTheVaultAndEachDigestSignedThere) {
  KeyVaultService Vault(TestPki().SignerCertPath, TestPki().SignerKeyPath, TestPki().CaCertPath, Token);
  const TScopedEnvironment Given("AZURE_ACCESS_TOKEN", Token);
  WriteBytes(PathOf("setup.cab"), BuildCab("setup.inf", "[Version]"));
  const std::vector<std::string> Files{Program("app.exe"), PathOf("setup.cab")};

  const TProcessResult Run = Sign(Vault.Address(), Files);
  ASSERT_EQ(Run.ExitCode, 0) << Run.Err;
  EXPECT_EQ(Vault.CertificateReads(), 1);
  EXPECT_EQ(Vault.SecretReads(), 1);
  EXPECT_EQ(Vault.Signatures(), 2);
  for (const std::string& File : Files) {
    EXPECT_EQ(VerifySignature(File, TestPki().CaCertPath).State, vsValidNoTimestamp) << File;
    EXPECT_TRUE(OsslVerify(File).SignatureOk) << File;
    // The root came from the vault's secret.
    EXPECT_EQ(CertificatesIn(File), 2) << File;
  }
}

// Client credentials at the authority the environment names; an EC key whose secret is PKCS #12.
TEST_F(KeyVaultTest, ClientCredentialsGrantOneTokenPerRun) {
  KeyVaultService Vault(TestPki().EcSignerCertPath, TestPki().EcSignerKeyPath, TestPki().CaCertPath, Token,
                        TVaultSecret::Pkcs12);
  EntraTokenService Entra("contoso-tenant", "build-machine", "s3cret&=+", Scope, Token);
  const TScopedEnvironment Authority("AZURE_AUTHORITY_HOST", Entra.Authority() + "/");
  const TScopedEnvironment Tenant("AZURE_TENANT_ID", "contoso-tenant");
  const TScopedEnvironment Client("AZURE_CLIENT_ID", "build-machine");
  std::optional<TScopedEnvironment> Secret(std::in_place, "AZURE_CLIENT_SECRET", "s3cret&=+");
  const std::vector<std::string> Files{Program("a.exe"), Program("b.exe"), Program("c.exe")};

  const TProcessResult Run = Sign(Vault.Address(), Files);
  ASSERT_EQ(Run.ExitCode, 0) << Run.Err;
  EXPECT_EQ(Entra.Grants(), 1);
  EXPECT_EQ(Vault.Signatures(), 3);
  for (const std::string& File : Files) EXPECT_TRUE(OsslVerify(File).SignatureOk) << File;

  Secret.emplace("AZURE_CLIENT_SECRET", "wrong");
  const std::string Other = Program("other.exe");
  const std::vector<std::uint8_t> Before = ReadBytes(Other);
  const TProcessResult Refused = Sign(Vault.Address(), {Other});
  EXPECT_EQ(Refused.ExitCode, 1);
  EXPECT_NE(Refused.Err.find("Azure Key Vault did not accept the access token or credentials (401)"), std::string::npos) << Refused.Err;
  EXPECT_NE(Refused.Err.find("AADSTS7000215"), std::string::npos) << Refused.Err;
  EXPECT_EQ(ReadBytes(Other), Before);
}

TEST_F(KeyVaultTest, WithoutTheRightToReadSecretsTheCertificateSignsAlone) {
  KeyVaultService Vault(TestPki().SignerCertPath, TestPki().SignerKeyPath, TestPki().CaCertPath, Token,
                        TVaultSecret::Forbidden);
  const TScopedEnvironment Given("AZURE_ACCESS_TOKEN", Token);
  const std::string File = Program("alone.exe");
  const TProcessResult Run = Sign(Vault.Address(), {File});
  ASSERT_EQ(Run.ExitCode, 0) << Run.Err;
  EXPECT_EQ(VerifySignature(File, TestPki().CaCertPath).State, vsValidNoTimestamp);
  EXPECT_EQ(CertificatesIn(File), 1);

  // A missing token, and an az that is not signed in, are each said.
  const TScopedEnvironment NoToken("AZURE_ACCESS_TOKEN", "");
  const TScopedEnvironment NoTool("PATH", "/nonexistent");
  const TProcessResult Nowhere = Sign(Vault.Address(), {Program("nowhere.exe")});
  EXPECT_EQ(Nowhere.ExitCode, 1);
  EXPECT_NE(Nowhere.Err.find("No credentials for Azure Key Vault were found"), std::string::npos) << Nowhere.Err;
  EXPECT_NE(Nowhere.Err.find("az is not on PATH"), std::string::npos) << Nowhere.Err;
}
}  // namespace
