#include "vendor/TWebBrowseExPage.h"

#include <QTimer>

#include "vendor/TWebBrowseEx.h"

TWebBrowseExPage::TWebBrowseExPage(TWebBrowseEx* Host) : QWebEnginePage(Host), Host(Host) {}

bool TWebBrowseExPage::HostShowsMessage(const QString& Message, std::uint32_t Type, int& Result) {
  Host->EnableModeless(false);
  const HRESULT Answer = Host->ShowMessage(Host->window(), Message, title(), Type, QString(), 0, Result);
  Host->EnableModeless(true);
  return Answer == S_OK;
}

void TWebBrowseExPage::javaScriptAlert(const QUrl& SecurityOrigin, const QString& Message) {
  int Result = IDOK;
  if (!HostShowsMessage(Message, MB_OK | MB_ICONWARNING, Result))
    QWebEnginePage::javaScriptAlert(SecurityOrigin, Message);
}

bool TWebBrowseExPage::javaScriptConfirm(const QUrl& SecurityOrigin, const QString& Message) {
  int Result = IDCANCEL;
  if (HostShowsMessage(Message, MB_OKCANCEL | MB_ICONQUESTION, Result)) return Result == IDOK;
  return QWebEnginePage::javaScriptConfirm(SecurityOrigin, Message);
}

bool TWebBrowseExPage::acceptNavigationRequest(const QUrl& Url, NavigationType, bool IsMainFrame) {
  if (!IsMainFrame) return true;
  if (!FTranslatedTo.isEmpty() && Url == FTranslatedTo) {
    FTranslatedTo.clear();
    return true;
  }
  char16_t* Translated = nullptr;
  if (Host->TranslateUrl(0, Url.toString(QUrl::FullyEncoded), &Translated) != S_OK) return true;
  const QUrl Target(QString::fromUtf16(Translated), QUrl::StrictMode);
  TaskMemFree(Translated);
  if (!Target.isValid() || Target == Url) return true;
  // Loading from inside the engine's own request would re-enter it; go on once it has returned.
  FTranslatedTo = Target;
  QTimer::singleShot(0, this, [this, Target] { load(Target); });
  return false;
}
