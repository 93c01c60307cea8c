#pragma once
// The page of a TWebBrowseEx: hands page messages and navigations to its host's methods.
#include <QUrl>
#include <QWebEnginePage>

class TWebBrowseEx;

class TWebBrowseExPage : public QWebEnginePage {
  Q_OBJECT

 public:
  explicit TWebBrowseExPage(TWebBrowseEx* Host);

 protected:
  void javaScriptAlert(const QUrl& SecurityOrigin, const QString& Message) override;
  bool javaScriptConfirm(const QUrl& SecurityOrigin, const QString& Message) override;
  bool acceptNavigationRequest(const QUrl& Url, NavigationType Type, bool IsMainFrame) override;

 private:
  // Asks the host; true with Result set when the host showed the message itself.
  bool HostShowsMessage(const QString& Message, std::uint32_t Type, int& Result);

  TWebBrowseEx* Host;
  QUrl FTranslatedTo;  // a translated address is loaded without being translated again
};
