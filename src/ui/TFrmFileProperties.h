#pragma once
// A file's properties: its general facts and its digital signatures. Modeless, one window per
// file; asking again for a file whose window is open raises that window. A window opened for an
// owner is centred on it, stays above it and closes when the owner is closed.
#include <QString>
#include <QWidget>
#include <vector>

#include "authenticode/AuthenticodeInfo.h"

class QBoxLayout;
class QLabel;
class QLayout;
class QPushButton;
class QTabWidget;
class QTreeWidget;

class TFrmFileProperties : public QWidget {
  Q_OBJECT

 public:
  // Opens the window for Path, or raises the one already open for it. Owner may be null.
  static TFrmFileProperties* Open(const QString& Path, QWidget* Owner = nullptr);
  // The window open for Path, or nullptr.
  static TFrmFileProperties* Find(const QString& Path);

  ~TFrmFileProperties() override;

  const QString& FilePath() const { return Path; }

  // Null when the file cannot be found; the window then only says so.
  QTabWidget* Tabs = nullptr;
  QLabel* lblMessage = nullptr;  // the text shown instead of the tabs, or on the signatures tab
  QPushButton* btnClose = nullptr;
  // General tab
  QLabel* lblName = nullptr;
  QLabel* lblFolder = nullptr;
  QLabel* lblSize = nullptr;
  QLabel* lblModified = nullptr;
  QLabel* lblKind = nullptr;
  // Digital signatures tab
  QLabel* lblVerdict = nullptr;  // the outcome of verifying the file's signature
  QTreeWidget* lvSignatures = nullptr;
  QLabel* lblMoreSignatures = nullptr;  // only when the file carries more than are listed
  QLabel* lblSigner = nullptr;
  QLabel* lblIssuer = nullptr;
  QLabel* lblSerial = nullptr;
  QLabel* lblValidFrom = nullptr;
  QLabel* lblValidTo = nullptr;
  QLabel* lblDigest = nullptr;
  QLabel* lblTimestamp = nullptr;

 private:
  TFrmFileProperties(const QString& FilePath, QWidget* Owner);
  static QString Key(const QString& Path);

  void CreateCloseButton(QBoxLayout* Layout);
  void CentreOn(const QWidget* Owner);
  bool eventFilter(QObject* Watched, QEvent* Event) override;

  void CreateMissingFilePage();
  void CreateTabs();
  QWidget* CreateGeneralTab(const QString& Kind);
  QWidget* CreateSignaturesTab(const TAuthenticodeInfo& Info);
  void AddVerdict(QWidget* Page, QLayout* Layout);
  QWidget* CreateMessagePage(const QString& Message);
  void ShowSignature(int Index);

  QString Path;
  std::vector<TSignatureInfo> Signatures;
};
