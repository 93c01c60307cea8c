#include "support/TestPki.h"

#include <QTemporaryDir>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "support/Process.h"
#include "support/ScopedEnvironment.h"

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
[tls]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1,DNS:localhost
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[root]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
)";

// "openssl ca" is the one command that sets a certificate's start date; it keeps its books in
// the folder named first.
constexpr char BackdatingCa[] = R"(
[ca]
default_ca = backdated
[backdated]
database = $dir/index.txt
new_certs_dir = $dir
serial = $dir/serial
default_md = sha256
policy = anything
unique_subject = no
email_in_dn = no
[anything]
commonName = supplied
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
              const std::string& CertPath, const std::string& KeyPath,
              const std::vector<std::string>& KeyKind = {"-newkey", "rsa:2048"}) {
  const std::string Request = Folder + "/" + Section + "-" + Serial + ".csr";
  std::vector<std::string> Args{"req", "-new"};
  Args.insert(Args.end(), KeyKind.begin(), KeyKind.end());
  Args.insert(Args.end(), {"-nodes", "-keyout", KeyPath, "-out", Request, "-subj", "/CN=" + Name});
  OpenSsl(Args);
  OpenSsl({"x509", "-req", "-in", Request, "-CA", CaCert, "-CAkey", CaKey, "-set_serial", Serial,
           "-days", "3650", "-out", CertPath, "-extfile", Folder + "/extensions.cnf", "-extensions",
           Section});
}

// The password goes through the environment, which openssl takes byte for byte: line breaks,
// byte-order marks and great lengths included.
void ExportPfx(const TTestPki& Pki, const std::string& PfxPath, const std::string& Password) {
  static std::mutex Environment;
  const std::lock_guard Lock(Environment);
  const TScopedEnvironment PasswordVariable("QUILLORY_TEST_PFX_PASSWORD", Password);
  OpenSsl({"pkcs12", "-export", "-inkey", Pki.SignerKeyPath, "-in", Pki.SignerCertPath, "-certfile",
           Pki.CaCertPath, "-name", Pki.SignerCommonName, "-out", PfxPath, "-passout",
           Password.empty() ? "pass:" : "env:QUILLORY_TEST_PFX_PASSWORD"});
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
  Pki.EcSignerCommonName = "Quillory Test EC Signer";
  Pki.EcSignerCertPath = F + "/ec-signer.pem";
  Pki.EcSignerKeyPath = F + "/ec-signer.key";
  MakeLeaf(F, Pki.EcSignerCommonName, "signer", "0x51A7E2", Pki.CaCertPath, CaKey, Pki.EcSignerCertPath,
           Pki.EcSignerKeyPath, {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256"});
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

namespace {
struct TValidity {
  std::string From, To;  // YYYYMMDDHHMMSSZ
};

// Issues a certificate for Name from a new key, through "openssl ca" keeping its books in Folder. An empty
// CaCert makes a self-signed root.
void IssueBackdated(const std::string& Folder, const std::string& Name, const std::string& Section,
                    const TValidity& Validity, const std::string& CaCert, const std::string& CaKey,
                    const std::string& CertPath, const std::string& KeyPath) {
  const std::string Request = Folder + "/" + Section + ".csr";
  OpenSsl({"req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", KeyPath, "-out", Request,
           "-subj", "/CN=" + Name});
  std::vector<std::string> Args{"ca", "-batch", "-config", Folder + "/ca.cnf", "-in", Request,
                                "-out", CertPath, "-startdate", Validity.From, "-enddate", Validity.To,
                                "-extfile", Folder + "/extensions.cnf", "-extensions", Section, "-notext"};
  if (CaCert.empty()) {
    Args.insert(Args.end(), {"-selfsign", "-keyfile", KeyPath});
  } else {
    Args.insert(Args.end(), {"-cert", CaCert, "-keyfile", CaKey});
  }
  OpenSsl(Args);
}

TBackdatedPki MakeBackdatedPki() {
  const TTestPki& Pki = TestPki();
  const std::string F = Pki.Folder + "/backdated";
  std::filesystem::create_directories(F);
  std::ofstream(F + "/extensions.cnf") << Extensions;
  std::ofstream(F + "/ca.cnf") << "dir = " << F << "\n" << BackdatingCa;
  std::ofstream(F + "/index.txt");
  std::ofstream(F + "/serial") << "1000\n";

  const TValidity Long{"20190101000000Z", "20450101000000Z"};
  TBackdatedPki Backdated;
  Backdated.RootCertPath = F + "/root.pem";
  const std::string RootKey = F + "/root.key";
  IssueBackdated(F, "Quillory Backdated Root CA", "root", Long, {}, {}, Backdated.RootCertPath, RootKey);

  Backdated.ExpiredSignerCommonName = "Quillory Expired Signer";
  const std::string SignerCert = F + "/expired.pem";
  const std::string SignerKey = F + "/expired.key";
  IssueBackdated(F, Backdated.ExpiredSignerCommonName, "signer", {"20200101000000Z", "20210101000000Z"},
                 Backdated.RootCertPath, RootKey, SignerCert, SignerKey);
  Backdated.WhileSignerValid = 1590969600;  // 2020-06-01 00:00:00 UTC
  Backdated.ExpiredPfxPath = F + "/expired.pfx";
  Backdated.ExpiredPfxPassword = "Quillory test 2";
  OpenSsl({"pkcs12", "-export", "-inkey", SignerKey, "-in", SignerCert, "-certfile", Backdated.RootCertPath,
           "-name", Backdated.ExpiredSignerCommonName, "-out", Backdated.ExpiredPfxPath, "-passout", "stdin"},
          Backdated.ExpiredPfxPassword + "\n");

  Backdated.TsaCertPath = F + "/tsa.pem";
  Backdated.TsaKeyPath = F + "/tsa.key";
  IssueBackdated(F, "Quillory Backdated TSA", "tsa", Long, Backdated.RootCertPath, RootKey, Backdated.TsaCertPath,
                 Backdated.TsaKeyPath);
  return Backdated;
}
}  // namespace

namespace {
TTlsPki MakeTlsPki() {
  const std::string F = TestPki().Folder;
  TTlsPki Tls;
  Tls.RootCertPath = F + "/tls-root.pem";
  const std::string RootKey = F + "/tls-root.key";
  MakeRootCa("Quillory Test TLS Root CA", Tls.RootCertPath, RootKey);
  Tls.ServerCertPath = F + "/tls-server.pem";
  Tls.ServerKeyPath = F + "/tls-server.key";
  MakeLeaf(F, "127.0.0.1", "tls", "0x7150A1", Tls.RootCertPath, RootKey, Tls.ServerCertPath, Tls.ServerKeyPath);
  return Tls;
}
}  // namespace

const TTlsPki& TlsPki() {
  static const TTlsPki Tls = MakeTlsPki();
  return Tls;
}

const TBackdatedPki& BackdatedPki() {
  static const TBackdatedPki Backdated = MakeBackdatedPki();
  return Backdated;
}

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
