#include "support/TestPki.h"

#include <QTemporaryDir>

#include <atomic>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "support/Process.h"

namespace {
constexpr char Extensions[] = R"([signer]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tsa]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,nonRepudiation
extendedKeyUsage = critical,timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
)";

void OpenSsl(const std::vector<std::string>& Args, const std::string& StdIn = {}) {
  const TProcessResult Result = RunProcess("openssl", Args, StdIn);
  if (!Result.Started || Result.ExitCode != 0) {
    std::string Command = "openssl";
    for (const std::string& Arg : Args) Command += " " + Arg;
    throw std::runtime_error(Command + " failed: " + Result.Err);
  }
}

void MakeRootCa(const std::string& Name, const std::string& CertPath, const std::string& KeyPath) {
  OpenSsl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", KeyPath, "-out", CertPath,
           "-days", "3650", "-subj", "/CN=" + Name, "-addext", "basicConstraints=critical,CA:TRUE",
           "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
}

void MakeLeaf(const std::string& Folder, const std::string& Name, const std::string& Section,
              const std::string& Serial, const std::string& CaCert, const std::string& CaKey,
              const std::string& CertPath, const std::string& KeyPath) {
  const std::string Request = Folder + "/" + Section + ".csr";
  OpenSsl({"req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", KeyPath, "-out", Request,
           "-subj", "/CN=" + Name});
  OpenSsl({"x509", "-req", "-in", Request, "-CA", CaCert, "-CAkey", CaKey, "-set_serial", Serial,
           "-days", "3650", "-out", CertPath, "-extfile", Folder + "/extensions.cnf", "-extensions",
           Section});
}

void ExportPfx(const TTestPki& Pki, const std::string& PfxPath, const std::string& Password) {
  OpenSsl({"pkcs12", "-export", "-inkey", Pki.SignerKeyPath, "-in", Pki.SignerCertPath, "-certfile",
           Pki.CaCertPath, "-name", Pki.SignerCommonName, "-out", PfxPath, "-passout", "stdin"},
          Password + "\n");
}

// The folder must outlive every test; it is removed when the process exits normally.
std::unique_ptr<QTemporaryDir>& PkiFolder() {
  static std::unique_ptr<QTemporaryDir> Folder;
  return Folder;
}

TTestPki MakePki() {
  PkiFolder() = std::make_unique<QTemporaryDir>();
  if (!PkiFolder()->isValid()) throw std::runtime_error("cannot create a temporary folder for the PKI");
  TTestPki Pki;
  Pki.Folder = PkiFolder()->path().toStdString();
  const std::string F = Pki.Folder;
  std::ofstream(F + "/extensions.cnf") << Extensions;

  Pki.CaCertPath = F + "/ca.pem";
  const std::string CaKey = F + "/ca.key";
  MakeRootCa("Quillory Test Root CA", Pki.CaCertPath, CaKey);
  Pki.SignerCommonName = "Quillory Test Signer";
  Pki.SignerCertPath = F + "/signer.pem";
  Pki.SignerKeyPath = F + "/signer.key";
  MakeLeaf(F, Pki.SignerCommonName, "signer", "0x51A7E1", Pki.CaCertPath, CaKey, Pki.SignerCertPath,
           Pki.SignerKeyPath);
  Pki.PfxPath = F + "/signer.pfx";
  Pki.PfxPassword = "Quillory test 1";
  ExportPfx(Pki, Pki.PfxPath, Pki.PfxPassword);

  Pki.TsaCaCertPath = F + "/tsa-ca.pem";
  const std::string TsaCaKey = F + "/tsa-ca.key";
  MakeRootCa("Quillory Test TSA Root CA", Pki.TsaCaCertPath, TsaCaKey);
  Pki.TsaCertPath = F + "/tsa.pem";
  Pki.TsaKeyPath = F + "/tsa.key";
  MakeLeaf(F, "Quillory Test TSA", "tsa", "0x75A001", Pki.TsaCaCertPath, TsaCaKey, Pki.TsaCertPath,
           Pki.TsaKeyPath);
  return Pki;
}
}  // namespace

const TTestPki& TestPki() {
  static const TTestPki Pki = MakePki();
  return Pki;
}

std::string PfxWithPassword(const std::string& Password) {
  static std::atomic<int> Counter{0};
  const TTestPki& Pki = TestPki();
  const std::string Path = Pki.Folder + "/signer-" + std::to_string(++Counter) + ".pfx";
  ExportPfx(Pki, Path, Password);
  return Path;
}
