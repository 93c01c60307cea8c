#include "support/SoftToken.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <QTemporaryDir>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "keys/TokenCatalog.h"
#include "support/Process.h"
#include "support/TestPki.h"

namespace {
std::string Run(const std::string& Program, const std::vector<std::string>& Args) {
  const TProcessResult Result = RunProcess(Program, Args);
  if (!Result.Started || Result.ExitCode != 0) {
    std::string Command = Program;
    for (const std::string& Arg : Args) Command += " " + Arg;
    throw std::runtime_error(Command + " failed: " + Result.Err);
  }
  return Result.Out;
}

std::string FirstPresent(const std::vector<std::string>& Candidates, const std::string& Missing) {
  for (const std::string& Candidate : Candidates)
    if (std::filesystem::exists(Candidate)) return Candidate;
  throw std::runtime_error(Missing);
}

std::string SpyModulePath() {
  const char* const Candidates[] = {"/usr/lib/x86_64-linux-gnu/pkcs11/pkcs11-spy.so",
                                    "/usr/lib/aarch64-linux-gnu/pkcs11/pkcs11-spy.so"};
  for (const char* Candidate : Candidates)
    if (std::filesystem::exists(Candidate)) return Candidate;
  return Candidates[0];
}

std::string SoftHsmModule() {
  return FirstPresent({"/usr/lib/softhsm/libsofthsm2.so", "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so",
                       "/usr/lib/aarch64-linux-gnu/softhsm/libsofthsm2.so"},
                      "SoftHSM2's module is not installed (package softhsm2)");
}

std::string Sha1Of(const std::string& CertPath) {
  const std::string Line = Run("openssl", {"x509", "-in", CertPath, "-noout", "-fingerprint", "-sha1"});
  std::string Digits;
  for (char C : Line.substr(Line.find('=') + 1))
    if (std::isxdigit(static_cast<unsigned char>(C))) Digits += C;
  return Digits;
}

void Store(const TSoftToken& Token, const std::string& Folder, const std::string& KeyPem,
           const std::string& CertPem, const std::string& Id, const std::string& Name,
           const std::string& KeyLabel, const std::string& CertLabel) {
  const std::string KeyDer = Folder + "/" + Name + ".key.der", CertDer = Folder + "/" + Name + ".cert.der";
  Run("openssl", {"pkey", "-in", KeyPem, "-outform", "DER", "-out", KeyDer});
  Run("openssl", {"x509", "-in", CertPem, "-outform", "DER", "-out", CertDer});
  for (const auto& [File, Type, Label] : {std::tuple{KeyDer, "privkey", KeyLabel},
                                          std::tuple{CertDer, "cert", CertLabel}})
    Run("pkcs11-tool", {"--module", Token.Module, "--token-label", Token.Label, "--login", "--pin", Token.Pin,
                        "--write-object", File, "--type", Type, "--id", Id, "--label", Label});
}

std::unique_ptr<QTemporaryDir>& TokenFolder() {
  static std::unique_ptr<QTemporaryDir> Folder;
  return Folder;
}

TSoftToken MakeToken() {
  const TTestPki& Pki = TestPki();
  TokenFolder() = std::make_unique<QTemporaryDir>();
  if (!TokenFolder()->isValid()) throw std::runtime_error("cannot create a temporary folder for the token");
  const std::string Folder = TokenFolder()->path().toStdString();
  std::filesystem::create_directory(Folder + "/tokens");
  std::ofstream(Folder + "/softhsm2.conf") << "directories.tokendir = " << Folder << "/tokens\n"
                                           << "objectstore.backend = file\nlog.level = ERROR\n";
  ::setenv("SOFTHSM2_CONF", (Folder + "/softhsm2.conf").c_str(), 1);

  TSoftToken Token;
  Token.Module = SoftHsmModule();
  Token.Label = "Quillory Test Token";
  Token.Pin = "4711 0815";
  Run("softhsm2-util", {"--init-token", "--free", "--label", Token.Label, "--pin", Token.Pin, "--so-pin", "12345678"});
  const std::string Slots = Run("softhsm2-util", {"--show-slots"});
  const std::size_t Serial = Slots.find("Serial number:");
  if (Serial == std::string::npos) throw std::runtime_error("the new token has no serial number:\n" + Slots);
  Token.Serial = Slots.substr(Serial + 14, Slots.find('\n', Serial) - Serial - 14);
  Token.Serial.erase(0, Token.Serial.find_first_not_of(' '));
  Token.Serial.erase(Token.Serial.find_last_not_of(' ') + 1);

  Token.RsaKeyLabel = "RSA key";
  Token.EcLabel = "EC signing";
  Store(Token, Folder, Pki.SignerKeyPath, Pki.SignerCertPath, "01", "rsa", Token.RsaKeyLabel, "RSA certificate");
  Store(Token, Folder, Pki.EcSignerKeyPath, Pki.EcSignerCertPath, "02", "ec", Token.EcLabel, Token.EcLabel);
  Token.RsaKeyUri = "pkcs11:token=Quillory%20Test%20Token;id=%01";
  Token.EcKeyUri = "pkcs11:token=Quillory%20Test%20Token;id=%02";
  Token.RsaSha1 = Sha1Of(Pki.SignerCertPath);
  Token.EcSha1 = Sha1Of(Pki.EcSignerCertPath);
  return Token;
}

// The modules a test process loads stay mapped until it ends, so that what they keep to the end
// is named as theirs (and left to them by the sanitizer settings), not as an unknown module's.
void KeepModulesMapped(const std::vector<std::string>& Modules) {
  for (const std::string& Module : Modules) ::dlopen(Module.c_str(), RTLD_NOW | RTLD_NODELETE);
}
}  // namespace

const TSoftToken& SoftToken() {
  static const TSoftToken Token = [] {
    TSoftToken Made = MakeToken();
    KeepModulesMapped({Made.Module, SpyModulePath(), DefaultPkcs11Module()});
    return Made;
  }();
  return Token;
}

std::string Pkcs11SpyModule() {
  const std::string Module = SpyModulePath();
  if (!std::filesystem::exists(Module)) throw std::runtime_error("OpenSC's pkcs11-spy module is not installed (package opensc-pkcs11)");
  return Module;
}
