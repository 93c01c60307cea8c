// Signs a few sample programs through Quillory's own window, as a user would: a throw-away
// certificate made on the spot, the tests' loopback timestamp server, the settings typed, the
// files dropped on the list and Start pressed.
//
// Usage: quillory_demo FOLDER [--screenshot FILE] [--timestamp URL] [--password TEXT]
// FOLDER (new, empty or an earlier demo's) is emptied and receives the samples (signed in place
// under samples/), the demo certificate and the CA files that verify the signatures and time
// stamps. The window keeps its histories in FOLDER/config.ini, never in the user's own.
// With --screenshot the screen is saved once the summary shows, the summary is closed and the
// demo ends; without, everything stays on screen until the user closes the window.
// --timestamp and --password type those in place of the loopback server's address and the
// certificate's password, to show what a server that is down or a mistyped password look like.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMap>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <stdexcept>

#include "app/Language.h"
#include "app/TApplication.h"
#include "app/Translations.h"
#include "DemoWindow.h"
#include "app/WebEngineEnvironment.h"
#include "ui/TFileListView.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"
#include "ui/uFrmMain.h"

namespace {
const char* const DemoSigner = "Quillory Demo Signer (throw-away)";
const char* const DemoPassword = "demo";

struct TDemoCertificate {
  QString CertPath, PfxPath;
};

void OpenSsl(const QStringList& Args, const std::string& StdIn = {}) {
  std::vector<std::string> Arguments;
  for (const QString& Arg : Args) Arguments.push_back(Arg.toStdString());
  const TProcessResult Result = RunProcess("openssl", Arguments, StdIn);
  if (!Result.Started || Result.ExitCode != 0)
    throw std::runtime_error("openssl " + Arguments.front() + " failed: " + Result.Err);
}

// A self-signed code-signing certificate that trusts only itself, valid for a week.
TDemoCertificate MakeDemoCertificate(const QDir& Folder) {
  const TDemoCertificate Made{Folder.filePath("demo-signer.pem"), Folder.filePath("demo-signer.pfx")};
  const QString Key = Folder.filePath("demo-signer.key");
  OpenSsl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", Key, "-out", Made.CertPath, "-days", "7",
           "-subj", QString("/CN=") + DemoSigner, "-addext", "basicConstraints=critical,CA:FALSE", "-addext",
           "keyUsage=critical,digitalSignature", "-addext", "extendedKeyUsage=codeSigning"});
  OpenSsl({"pkcs12", "-export", "-inkey", Key, "-in", Made.CertPath, "-name", DemoSigner, "-out", Made.PfxPath,
           "-passout", "stdin"},
          std::string(DemoPassword) + "\n");
  QFile::remove(Key);
  return Made;
}

QList<QUrl> MakeSamples(const QDir& Folder) {
  const std::pair<const char*, TPeKind> Samples[] = {
      {"演示程序.exe", TPeKind::Exe32}, {"setup64.exe", TPeKind::Exe64},
      {"helper.dll", TPeKind::Dll32}, {"plugin64.dll", TPeKind::Dll64}};
  QList<QUrl> Urls;
  for (const auto& [Name, Kind] : Samples) {
    const QString Path = Folder.filePath(QString::fromUtf8(Name));
    WriteBytes(Path.toStdString(), BuildPe({.Kind = Kind, .MinimumSize = 64 * 1024, .WithResourceSection = true}));
    Urls.append(QUrl::fromLocalFile(Path));
  }
  return Urls;
}

// Typed at a pace a person can follow when the demo runs on the user's screen.
void Type(QWidget* Box, const QString& Text, int DelayMs) {
  Box->setFocus();
  TypeKeys(Box, Text, DelayMs);
}

QMessageBox* ShownMessageBox() {
  for (QWidget* Window : QApplication::topLevelWidgets())
    if (auto* Box = qobject_cast<QMessageBox*>(Window); Box && Box->isVisible()) return Box;
  return nullptr;
}

int Usage() {
  std::fprintf(stderr, "usage: quillory_demo FOLDER [--screenshot FILE] [--timestamp URL] [--password TEXT]\n");
  return 2;
}
}  // namespace

int main(int Argc, char** Argv) {
  PrepareWebEngine();
  TApplication Application(Argc, Argv);
  const QStringList Args = Application.arguments();
  if (Args.size() < 2 || Args.size() % 2 != 0) return Usage();
  QMap<QString, QString> Options;
  for (qsizetype I = 2; I < Args.size(); I += 2) Options.insert(Args[I], Args[I + 1]);
  for (const QString& Name : Options.keys())
    if (Name != "--screenshot" && Name != "--timestamp" && Name != "--password") return Usage();
  const QString Screenshot =
      Options.contains("--screenshot") ? QFileInfo(Options["--screenshot"]).absoluteFilePath() : QString();
  const bool Unattended = !Screenshot.isEmpty();

  QDir Folder(QFileInfo(Args[1]).absoluteFilePath());
  // Only an earlier demo's folder is emptied, never one that holds anything else.
  const bool Reusable = !Folder.exists() || Folder.isEmpty() || Folder.exists("demo-signer.pem");
  if (!Reusable || (Folder.exists() && !Folder.removeRecursively())) {
    std::fprintf(stderr, "%s is not an earlier demo's folder, or cannot be emptied\n", qPrintable(Folder.path()));
    return 1;
  }
  if (!Folder.mkpath("samples")) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(Folder.path()));
    return 1;
  }
  const TDemoCertificate Certificate = MakeDemoCertificate(Folder);
  QFile::copy(QString::fromStdString(TestPki().TsaCaCertPath), Folder.filePath("tsa-ca.pem"));
  const QList<QUrl> Samples = MakeSamples(QDir(Folder.filePath("samples")));
  TimestampServer Timestamps;

  // The window speaks as the program would: its own texts and Qt's in one language.
  const std::string ConfigFile = Folder.filePath("config.ini").toStdString();
  const TTranslations Translations(ChooseLanguage(ConfigFile));
  TFrmMain Form;
  if (!ShowWindow(Form, ConfigFile)) return 1;

  const int TypingDelayMs = Unattended ? 0 : 40;
  Type(Form.cbFile->lineEdit(), QDir::toNativeSeparators(Certificate.PfxPath), TypingDelayMs);
  Type(Form.edtPwd, Options.value("--password", DemoPassword), TypingDelayMs);
  Type(Form.cbTimeStamp->lineEdit(), Options.value("--timestamp", QString::fromStdString(Timestamps.Url())),
       TypingDelayMs);
  Type(Form.cbDescription->lineEdit(), QString::fromUtf8("Quillory 演示"), TypingDelayMs);
  DropOnList(Form, Samples);
  QTest::mouseClick(Form.btnAddSign, Qt::LeftButton);

  // The summary box runs its own event loop inside the batch's end, so it is watched by a timer.
  int Failures = 0;
  QTimer SummaryWatch;
  QObject::connect(&SummaryWatch, &QTimer::timeout, [&] {
    QMessageBox* Summary = ShownMessageBox();
    if (!Summary || !Summary->windowHandle() || !Summary->windowHandle()->isExposed()) return;
    SummaryWatch.stop();
    std::printf("%s\n", qPrintable(Summary->text()));
    if (!Unattended) return;
    // Once the box has painted itself, the window with the box over it is saved.
    QTimer::singleShot(500, Summary, [&, Summary] {
      const QRect Area = Form.frameGeometry();
      const QPixmap Shot = Form.screen()->grabWindow(0, Area.x(), Area.y(), Area.width(), Area.height());
      if (!Shot.save(Screenshot)) ++Failures;
      Summary->accept();
    });
  });
  SummaryWatch.start(50);

  const TFileListModel& Files = *Form.vstFiles->Files();
  if (Unattended) {
    const bool Finished = QTest::qWaitFor(
        [&] { return !SummaryWatch.isActive() && !ShownMessageBox() && Form.btnAddSign->isEnabled(); }, 180000);
    if (!Finished) {
      std::fprintf(stderr, "the signing batch did not finish\n");
      return 1;
    }
    for (auto Id = Files.First(); Id; Id = Files.Next(*Id))
      if (Files.Item(*Id)->Status != fsOk) ++Failures;
    Form.close();
    return Failures == 0 ? 0 : 1;
  }
  return Application.exec();
}
