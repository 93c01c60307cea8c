// Brings the real window into one of the states a release engineer meets and saves the whole
// screen there, for a person to look at: summaries with warnings and of untrusted files, the
// address signed with, Stop and closing during a batch, refused passwords and PINs, the add
// entries of the pop-up menu, a shortcut to a Windows path, a cabinet stripped, the verification
// trust, the token picker and the message column in a wide window.
//
// Usage: quillory_shots STATE FOLDER PREFIX
// FOLDER (made anew, must not exist) receives the files and config.ini; each screenshot is saved
// as PREFIX-<what>.png, and notes that a screenshot cannot show as PREFIX-<what>.txt. Run it
// under Xvfb with the test PKI's tools at hand, as the GUI tests are.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>

#include "DemoWindow.h"
#include "app/Language.h"
#include "app/TApplication.h"
#include "app/Translations.h"
#include "app/WebEngineEnvironment.h"
#include "filelist/TFileListModel.h"
#include "signing/SignCommand.h"
#include "support/CabFixtures.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/ShellLinkFiles.h"
#include "support/SoftToken.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"
#include "ui/FileDialogs.h"
#include "ui/TFrmCloudKey.h"
#include "ui/TFileListView.h"
#include "ui/TFrmOptions.h"
#include "ui/TFrmTokenCertificates.h"
#include "ui/uFrmMain.h"

namespace {
// A port on the loopback interface where nothing listens.
const char* const DeadTimestamp = "http://127.0.0.1:9/";

class TShots {
 public:
  TShots(TFrmMain& Form, QDir Folder, QString Prefix) : Form(Form), Folder(std::move(Folder)), Prefix(std::move(Prefix)) {}

  TFrmMain& Form;
  QDir Folder;
  QString Prefix;
  int Failures = 0;

  QString PathOf(const QString& Name) const { return Folder.filePath(Name); }

  QString Program(const QString& Name, TPeKind Kind = TPeKind::Exe32) const {
    const QString File = PathOf(Name);
    QDir().mkpath(QFileInfo(File).path());
    WriteBytes(File.toStdString(), BuildPe({.Kind = Kind, .MinimumSize = 32 * 1024, .WithResourceSection = true}));
    return File;
  }

  QString Text(const QString& Name, const std::string& Content) const {
    const QString File = PathOf(Name);
    QDir().mkpath(QFileInfo(File).path());
    std::ofstream(File.toStdString()) << Content;
    return File;
  }

  TFileListModel& Files() const { return *Form.vstFiles->Files(); }

  // The whole screen once what changed has been painted.
  void Save(const QString& What) {
    QTest::qWait(400);
    const QString File = Prefix + "-" + What + ".png";
    if (!QGuiApplication::primaryScreen()->grabWindow(0).save(File)) {
      std::fprintf(stderr, "cannot save %s\n", qPrintable(File));
      ++Failures;
      return;
    }
    std::printf("%s\n", qPrintable(File));
  }

  void Note(const QString& What, const std::string& Text) {
    const QString File = Prefix + "-" + What + ".txt";
    std::ofstream(File.toStdString()) << Text;
    std::printf("%s\n", qPrintable(File));
  }

  static void Type(QLineEdit* Line, const QString& Text) {
    Line->clear();
    TypeKeys(Line, Text);
  }
  void TypeSettings(const QString& Cert, const QString& Password, const QString& TimeStamp,
                    const QString& Description = QString::fromUtf8("Quillory 发布"), const QString& Url = {}) {
    Type(Form.cbFile->lineEdit(), Cert);
    Type(Form.edtPwd, Password);
    Type(Form.cbTimeStamp->lineEdit(), TimeStamp);
    Type(Form.cbDescription->lineEdit(), Description);
    Type(Form.cbURL->lineEdit(), Url);
  }

  void Drop(const QStringList& Paths) {
    QList<QUrl> Urls;
    for (const QString& Path : Paths) Urls.append(QUrl::fromLocalFile(Path));
    DropOnList(Form, Urls);
  }

  // Runs Action; when a modal box or dialog has shown itself, the screen is saved as What and
  // Answer closes it. Waits until it has been answered.
  void ShootModal(const QString& What, const std::function<void()>& Action,
                  const std::function<void(QWidget*)>& Answer = AcceptOrYes) {
    bool Answered = false;
    QTimer Watch;
    QObject::connect(&Watch, &QTimer::timeout, [&] {
      QWidget* Modal = QApplication::activeModalWidget();
      if (!Modal || !Modal->isVisible() || !Modal->windowHandle() || !Modal->windowHandle()->isExposed()) return;
      Watch.stop();
      QTimer::singleShot(0, Modal, [&, Modal] {
        Save(What);
        if (auto* Box = qobject_cast<QMessageBox*>(Modal)) std::printf("  %s\n", qPrintable(Box->text()));
        Answer(Modal);
        Answered = true;
      });
    });
    Watch.start(50);
    Action();
    if (!QTest::qWaitFor([&] { return Answered; }, 240000)) {
      std::fprintf(stderr, "nothing modal showed for %s\n", qPrintable(What));
      ++Failures;
    }
  }

  static void AcceptOrYes(QWidget* Modal) {
    if (auto* Box = qobject_cast<QMessageBox*>(Modal)) {
      if (QAbstractButton* Yes = Box->button(QMessageBox::Yes)) {
        Yes->click();
        return;
      }
    }
    if (auto* Dialog = qobject_cast<QDialog*>(Modal)) Dialog->reject();
  }

  std::string FocusName() const {
    const QWidget* Focused = Form.focusWidget();
    return Focused ? Focused->objectName().toStdString() + " (" + Focused->metaObject()->className() + ")" : "none";
  }

  void ClickStart() { QTest::mouseClick(Form.btnAddSign, Qt::LeftButton); }
  bool WaitForButtons() {
    return QTest::qWaitFor([&] { return Form.btnAddSign->isEnabled() && Form.btnDelSign->isEnabled(); }, 240000);
  }
  // Start, with the summary saved as What.
  void SignAndShootSummary(const QString& What) {
    ShootModal(What, [&] { ClickStart(); });
    WaitForButtons();
  }

  // Calls Then once (after it has painted) the row at Index has a result.
  void WhenRowDone(int Index, std::function<void()> Then) {
    auto Done = std::make_shared<bool>(false);
    auto Hook = std::make_shared<QMetaObject::Connection>();
    *Hook = QObject::connect(&Files(), &TFileListModel::dataChanged, &Form, [this, Index, Then, Done, Hook] {
      if (*Done || Files().Count() <= Index || Files().Item(Files().IdAt(Index))->Status == fsPending) return;
      *Done = true;
      QObject::disconnect(*Hook);
      QTimer::singleShot(0, &Form, Then);
    });
  }

  // Saves the screen now, without waiting: for states that last only while a batch runs.
  void SaveNow(const QString& What) {
    Form.repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    const QString File = Prefix + "-" + What + ".png";
    if (!QGuiApplication::primaryScreen()->grabWindow(0).save(File)) ++Failures;
    std::printf("%s (button: %s; title: %s)\n", qPrintable(File), qPrintable(Form.btnAddSign->text()),
                qPrintable(Form.windowTitle()));
  }

  void SignWarnings();
  void VerifyUntrusted();
  void Address();
  void Stop();
  void CloseDuringBatch();
  void WrongPassword();
  void TokenPin();
  void AddEntries();
  void WindowsShortcut();
  void CabStripped();
  void Trust();
  void HomePage();
  void TokenPicker();
  void CloudKey();
  void WideWindow();
};

void TShots::SignWarnings() {
  Drop({Program("setup.exe"), Program("工具64.exe", TPeKind::Exe64), Program("helper.dll", TPeKind::Dll32)});
  TypeSettings(QString::fromStdString(TestPki().PfxPath), QString::fromStdString(TestPki().PfxPassword), DeadTimestamp);
  SignAndShootSummary("warning-summary");
  Save("warning-rows");
}

void TShots::VerifyUntrusted() {
  // Signed with the test PKI, whose root this configuration does not trust.
  TimestampServer Server;
  QStringList Paths;
  for (const char* Name : {"one.exe", "two.exe", "three.exe"}) {
    const QString Plain = Program(QString(Name) + ".plain");
    Paths << PathOf(Name);
    OsslSign(Plain.toStdString(), Paths.back().toStdString(), {"-ts", Server.Url()});
    QFile::remove(Plain);
  }
  Paths << Program("unsigned.exe");
  Drop(Paths);
  ShootModal("verify-summary", [&] { Form.pmiVerify->trigger(); });
  WaitForButtons();
  Save("verify-rows");
}

void TShots::Address() {
  TimestampServer Server;
  const QString File = Program("with address.exe");
  Drop({File});
  const QString Url = "https://example.com/quillory";
  TypeSettings(QString::fromStdString(TestPki().PfxPath), QString::fromStdString(TestPki().PfxPassword),
               QString::fromStdString(Server.Url()), QString::fromUtf8("Quillory 发布"), Url);
  SignAndShootSummary("address-summary");
  Save("address-typed");
  const TSignSettings Settings{.CertFile = TestPki().PfxPath, .TimeStamp = Server.Url(),
                               .Description = "Quillory 发布", .Url = Url.toStdString()};
  const TSignSettings Without{.CertFile = TestPki().PfxPath, .TimeStamp = Server.Url(), .Description = "Quillory 发布"};
  Note("command-lines", "with the address:\n" + SignCommandLine(Settings, File.toStdString()) +
                            "\nwithout:\n" + SignCommandLine(Without, File.toStdString()) +
                            "\n\nosslsigncode verify of the file the window signed:\n" +
                            OsslVerify(File.toStdString()).Output);
}

void TShots::Stop() {
  TimestampServer Slow(TTimestampBehaviour::Answer, std::chrono::milliseconds(400));
  QStringList Paths;
  for (int I = 0; I < 40; ++I) Paths << Program(QString("file%1.exe").arg(I, 2, 10, QChar('0')));
  Drop(Paths);
  TypeSettings(QString::fromStdString(TestPki().PfxPath), QString::fromStdString(TestPki().PfxPassword),
               QString::fromStdString(Slow.Url()));
  bool Pressed = false;
  WhenRowDone(4, [&] {
    SaveNow("running");
    QTest::mouseClick(Form.btnAddSign, Qt::LeftButton);
    SaveNow("stopping");
    Pressed = true;
  });
  ShootModal("stopped-summary", [&] { ClickStart(); });
  WaitForButtons();
  if (!Pressed) ++Failures;
  Save("stopped-rows");
}

void TShots::CloseDuringBatch() {
  TimestampServer Slow(TTimestampBehaviour::Answer, std::chrono::milliseconds(1500));
  QStringList Paths;
  for (int I = 0; I < 6; ++I) Paths << Program(QString("file%1.exe").arg(I));
  Drop(Paths);
  TypeSettings(QString::fromStdString(TestPki().PfxPath), QString::fromStdString(TestPki().PfxPassword),
               QString::fromStdString(Slow.Url()));
  WhenRowDone(0, [&] {
    ShootModal("close-question", [&] { Form.close(); },
               [&](QWidget* Modal) {
                 AcceptOrYes(Modal);
                 // Once the question is gone, while the file under way goes on.
                 QTimer::singleShot(300, &Form, [&] { SaveNow("closing"); });
               });
  });
  ClickStart();
  if (!QTest::qWaitFor([&] { return !Form.isVisible(); }, 240000)) ++Failures;
  std::string Rows;
  for (int I = 0; I < Files().Count(); ++I) {
    const TFileItem& Row = *Files().Item(Files().IdAt(I));
    Rows += Files().FileName(Files().IdAt(I)) + ": status " + std::to_string(Row.Status) + " " + ToString(Row.Info) +
            "\n";
  }
  Note("rows-after-close", Rows);
}

void TShots::WrongPassword() {
  const QString File = Program("app.exe");
  Drop({File});
  TypeSettings(QString::fromStdString(TestPki().PfxPath), "not the password", DeadTimestamp);
  Form.btnExit->setFocus();
  ShootModal("wrong-password", [&] { ClickStart(); });
  WaitForButtons();
  // Without a window manager the window stays inactive once the box has gone.
  Form.activateWindow();
  Save("password-focus");
  std::string Focus = "after the wrong password: " + FocusName() + "\n";
  const TSoftToken& Token = SoftToken();
  TypeSettings(QString::fromStdString(Token.EcKeyUri), "000000", DeadTimestamp);
  Form.btnExit->setFocus();
  ShootModal("wrong-pin", [&] { ClickStart(); });
  WaitForButtons();
  Form.activateWindow();
  Save("pin-focus");
  Focus += "after the wrong PIN: " + FocusName() + "\n";
  Note("row-after-refusals", Focus + "status " + std::to_string(Files().Item(Files().IdAt(0))->Status) + " (pending is " +
                                 std::to_string(fsPending) + "), osslsigncode sees a signature: " +
                                 (OsslVerify(File.toStdString()).HasSignature ? "yes" : "no") + "\n");
}

void TShots::TokenPin() {
  SoftToken();
  Type(Form.cbFile->lineEdit(), "C:\\certs\\release.pfx");
  Save("password-label");
  Type(Form.cbFile->lineEdit(), QString::fromStdString(SoftToken().EcKeyUri));
  Save("pin-label");
}

void TShots::AddEntries() {
  Drop({Program("already.exe")});
  const QPoint At = Form.vstFiles->viewport()->mapToGlobal(QPoint(120, 60));
  Form.PopupMenu->popup(At);
  Save("menu");
  Form.PopupMenu->hide();
  // A folder with programs below it, a text file the extension rule leaves out and the file
  // already listed.
  const QString Tree = PathOf("release");
  Program("release/bin/app.exe");
  Program("release/bin/plugins/codec.dll", TPeKind::Dll64);
  Program("release/setup.msi.exe");
  Text("release/readme.txt", "notes\n");
  QFile::copy(PathOf("already.exe"), PathOf("release/already.exe"));
  SetFolderHandler([Tree] { return std::optional<QString>(Tree); });
  Form.pmiAddFolder->trigger();
  SetOpenFilesHandler([this](const QString&) { return QStringList{PathOf("already.exe"), Program("chosen.sys")}; });
  Form.pmiAddFiles->trigger();
  Save("added");
  // The real dialog the first entry opens.
  SetOpenFilesHandler(nullptr);
  ShootModal("files-dialog", [&] { QTimer::singleShot(0, &Form, [&] { Form.pmiAddFilesClick(); }); });
}

void TShots::WindowsShortcut() {
  const QString Link = PathOf("app.lnk");
  WriteBytes(Link.toStdString(), ShellLinkTo("C:\\tools\\app.exe"));
  Drop({Link, Program("here.exe")});
  Save("listed");
  TypeSettings(QString::fromStdString(TestPki().PfxPath), QString::fromStdString(TestPki().PfxPassword), DeadTimestamp);
  SignAndShootSummary("summary");
  Save("rows");
}

void TShots::CabStripped() {
  TimestampServer Server;
  const QString Cab = PathOf("setup.cab");
  WriteBytes(Cab.toStdString(), BuildCab("setup.inf", std::string(70000, 'c')));
  Drop({Cab, Program("setup.exe")});
  TypeSettings(QString::fromStdString(TestPki().PfxPath), QString::fromStdString(TestPki().PfxPassword),
               QString::fromStdString(Server.Url()));
  SignAndShootSummary("signed");
  const std::string AfterSigning = OsslVerify(Cab.toStdString()).Output;
  ShootModal("stripped", [&] { QTest::mouseClick(Form.btnDelSign, Qt::LeftButton); });
  WaitForButtons();
  Save("stripped-rows");
  const std::string AfterStripping = OsslVerify(Cab.toStdString()).Output;
  ShootModal("verified", [&] { Form.pmiVerify->trigger(); });
  WaitForButtons();
  Save("verified-rows");
  SignAndShootSummary("signed-again");
  Note("osslsigncode", "after signing:\n" + AfterSigning + "\nafter stripping:\n" + AfterStripping +
                           "\nafter signing again:\n" + OsslVerify(Cab.toStdString()).Output);
}

void TShots::Trust() {
  // Trusted: the signer's root from a folder and the signer's own certificate as a file; the
  // timestamp's root is left out.
  const TTestPki& Pki = TestPki();
  QDir().mkpath(PathOf("trusted"));
  QFile::copy(QString::fromStdString(Pki.CaCertPath), PathOf("trusted/root.pem"));
  const QString Other = PathOf("signer.pem");
  QFile::copy(QString::fromStdString(Pki.SignerCertPath), Other);
  const QString TrustSetting = PathOf("trusted") + ";" + Other;
  std::ofstream(Form.FConfigFile, std::ios::app) << "VerifyTrustFile=" << TrustSetting.toStdString() << "\n";
  TimestampServer Server;
  const QString Plain = Program("stamped.exe.plain");
  OsslSign(Plain.toStdString(), PathOf("stamped.exe").toStdString(), {"-ts", Server.Url()});
  const QString Unstamped = PathOf("unstamped.exe");
  OsslSign(Plain.toStdString(), Unstamped.toStdString());
  QFile::remove(Plain);
  Drop({PathOf("stamped.exe"), Unstamped});
  ShootModal("options", [&] { QTimer::singleShot(0, &Form, [&] { Form.pmiOptionsClick(); }); });
  ShootModal("verify-summary", [&] { Form.pmiVerify->trigger(); });
  WaitForButtons();
  Save("verify-rows");
}

void TShots::HomePage() {
  ShootModal("home-page", [&] { QTest::mouseClick(Form.Button1, Qt::LeftButton); });
}

void TShots::TokenPicker() {
  SoftToken();
  ShootModal("token-picker", [&] { QTimer::singleShot(0, &Form, [&] { Form.pmiTokenCert->trigger(); }); });
}

void TShots::CloudKey() {
  // The dialog opens on its first page; the others are shown filled in, as a user would fill them.
  ShootModal("cloud-key", [&] { QTimer::singleShot(0, &Form, [&] { Form.pmiCloudKey->trigger(); }); },
             [&](QWidget* Modal) {
               auto* Dialog = qobject_cast<TFrmCloudKey*>(Modal);
               Dialog->pcServices->setCurrentIndex(2);
               Type(Dialog->edtAwsRegion, "eu-central-1");
               Type(Dialog->edtAwsKey, "alias/release");
               Type(Dialog->edtAwsCertificate, "/home/build/release.pem");
               Save("cloud-key-aws");
               Dialog->pcServices->setCurrentIndex(3);
               Type(Dialog->edtSigningEndpoint, "eus.codesigning.azure.net");
               Type(Dialog->edtSigningAccount, "contoso");
               Type(Dialog->edtSigningProfile, "release");
               Save("cloud-key-trusted-signing");
               Dialog->accept();
             });
  Save("cloud-key-address");
}

void TShots::WideWindow() {
  // Messages long enough to run past a narrow column.
  const QString Deep = "构建输出/release-2026.12/windows-x64/installer/components/";
  QStringList Paths;
  for (const char* Name : {"readme.exe", "notes.dll", "license.exe"})
    Paths << Text(Deep + Name, "text, not a program\n");
  Paths << Program(Deep + "app.exe");
  Drop(Paths);
  TypeSettings(QString::fromStdString(TestPki().PfxPath), QString::fromStdString(TestPki().PfxPassword), DeadTimestamp);
  SignAndShootSummary("summary");
  Save("narrow");
  const QRect Available = Form.screen()->availableGeometry();
  Form.setGeometry(Available.x(), Available.y(), Available.width(), Available.height() - 40);
  Save("wide");
}

int Usage() {
  std::fprintf(stderr,
               "usage: quillory_shots STATE FOLDER PREFIX\nSTATE: sign-warnings verify-untrusted address stop "
               "close wrong-password token-pin add-entries windows-shortcut cab trust token-picker cloud-key home-page wide\n");
  return 2;
}
}  // namespace

int main(int Argc, char** Argv) {
  PrepareWebEngine();
  TApplication Application(Argc, Argv);
  const QStringList Args = Application.arguments();
  if (Args.size() != 4) return Usage();
  const std::map<QString, void (TShots::*)()> States{
      {"sign-warnings", &TShots::SignWarnings}, {"verify-untrusted", &TShots::VerifyUntrusted},
      {"address", &TShots::Address},            {"stop", &TShots::Stop},
      {"close", &TShots::CloseDuringBatch},     {"wrong-password", &TShots::WrongPassword},
      {"token-pin", &TShots::TokenPin},         {"add-entries", &TShots::AddEntries},
      {"windows-shortcut", &TShots::WindowsShortcut}, {"cab", &TShots::CabStripped},
      {"trust", &TShots::Trust},                {"token-picker", &TShots::TokenPicker},
      {"cloud-key", &TShots::CloudKey},         {"home-page", &TShots::HomePage},
      {"wide", &TShots::WideWindow}};
  const auto State = States.find(Args[1]);
  if (State == States.end()) return Usage();
  const QDir Folder(QFileInfo(Args[2]).absoluteFilePath());
  if (Folder.exists() || !QDir().mkpath(Folder.path())) {
    std::fprintf(stderr, "%s exists already or cannot be made\n", qPrintable(Folder.path()));
    return 1;
  }
  const std::string ConfigFile = Folder.filePath("config.ini").toStdString();
  std::ofstream(ConfigFile) << "[Options]\nLanguage=zh_CN\nSignParallelism=1\n";

  const TTranslations Translations(ChooseLanguage(ConfigFile));
  TFrmMain Form;
  if (!ShowWindow(Form, ConfigFile)) return 1;
  // Without a window manager nothing else makes it active, and an inactive window shows no focus.
  Form.activateWindow();
  QTest::qWaitForWindowActive(&Form);
  TShots Shots(Form, Folder, QFileInfo(Args[3]).absoluteFilePath());
  (Shots.*State->second)();
  if (Form.isVisible()) Form.close();
  return Shots.Failures == 0 ? 0 : 1;
}
