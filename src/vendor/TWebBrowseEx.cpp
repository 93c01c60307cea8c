#include "vendor/TWebBrowseEx.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QUrl>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineSettings>
#include <cstring>
#include <memory>
#include <qdrawutil.h>
#include <stdexcept>

#include "vendor/TWebBrowseExPage.h"

namespace {
// The width of the sunken 3D border drawn unless the host asks for none.
constexpr int BorderWidth = 2;
// setHtml carries the text as a data address, which the engine limits to 2 MB once encoded.
constexpr qsizetype LargestInlineHtml = 1'500'000;
}  // namespace

TWebBrowseEx::TWebBrowseEx(QWidget* Parent) : QWebEngineView(Parent) {
  setPage(new TWebBrowseExPage(this));
  connect(this, &QWebEngineView::selectionChanged, this, [this] { UpdateUI(); });
  connect(qApp, &QApplication::focusChanged, this, &TWebBrowseEx::FocusChanged);
  ApplyHostInfo();
}

TWebBrowseEx::~TWebBrowseEx() {
  // The base destructor moves the focus away, which must not reach this object any more.
  disconnect(qApp, nullptr, this, nullptr);
  if (FKeyWatched) FKeyWatched->removeEventFilter(this);
}

void TWebBrowseEx::Navigate(const QString& Url) {
  const QUrl Target(Url, QUrl::StrictMode);
  if (!Target.isValid() || Target.scheme().isEmpty())
    throw std::runtime_error("The address \"" + Url.toStdString() + "\" cannot be opened");
  load(Target);
}

void TWebBrowseEx::SetDocumentHtml(const QString& Html) {
  if (Html.toUtf8().size() <= LargestInlineHtml) {
    setHtml(Html);
    return;
  }
  // Too long for an inline address: write it into an empty document instead.
  auto Written = std::make_shared<QMetaObject::Connection>();
  *Written = connect(this, &QWebEngineView::loadFinished, this, [this, Html, Written](bool) {
    if (url() != QUrl("about:blank")) return;  // the end of a load this one replaced
    disconnect(*Written);
    const QByteArray Quoted = QJsonDocument(QJsonArray{Html}).toJson(QJsonDocument::Compact);
    page()->runJavaScript("document.open();document.write(" + QString::fromUtf8(Quoted) +
                          "[0]);document.close();");
  });
  load(QUrl("about:blank"));
}

bool TWebBrowseEx::IsMaskedShortcut(const TKeyMessage& Message) {
  if (DisableCtrlShortcuts.empty() || Message.Message != WM_KEYDOWN) return false;
  const auto Down = [this](int Key) { return KeyState(Key) < 0; };
  const bool Ctrl = (Down(VK_LCONTROL) && !Down(VK_MENU)) || (Down(VK_RCONTROL) && !Down(VK_LMENU));
  if (!Ctrl) return false;
  const char Key = static_cast<char>(Message.WParam & 0xFF);
  if (DisableCtrlShortcuts.find(Key) == std::string::npos) return false;
  if (OnMaskedCtrlChar) OnMaskedCtrlChar(this, Key);
  return true;
}

void TWebBrowseEx::SetUserInterfaceOptions(TUserInterfaceOptions Options) {
  FUserInterfaceOptions = Options;
  FHostFlags = HostFlagsOf(Options);
  OnAmbientPropertyChange(DISPID_AMBIENT_DLCONTROL);
}

void TWebBrowseEx::OnAmbientPropertyChange(int DispId) {
  ApplyHostInfo();
  emit AmbientPropertyChanged(DispId);
}

void TWebBrowseEx::ApplyHostInfo() {
  DOCHOSTUIINFO Info;
  GetHostInfo(Info);
  settings()->setAttribute(QWebEngineSettings::ShowScrollBars, (Info.dwFlags & DOCHOSTUIFLAG_SCROLL_NO) == 0);
  FFramed = (Info.dwFlags & DOCHOSTUIFLAG_NO3DBORDER) == 0;
  const int Border = FFramed ? BorderWidth : 0;
  setContentsMargins(Border, Border, Border, Border);
  update();
}

HRESULT TWebBrowseEx::ShowContextMenu(std::uint32_t MenuId, QPoint Point, QObject* CommandTarget,
                                      QObject* Context) {
  HRESULT Result = E_NOTIMPL;
  if (OnShowContextMenu) OnShowContextMenu(this, MenuId, Point, CommandTarget, Context, Result);
  return Result;
}

HRESULT TWebBrowseEx::GetHostInfo(DOCHOSTUIINFO& Info) {
  std::memset(&Info, 0, sizeof Info);
  Info.cbSize = sizeof Info;
  Info.dwFlags = FHostFlags;
  if (EnterModeOnEdit == emFlagDiv) Info.dwFlags |= DOCHOSTUIFLAG_DIV_BLOCKDEFAULT;
  Info.dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
  if (OnGetHostInfo) OnGetHostInfo(this, Info);
  return S_OK;
}

HRESULT TWebBrowseEx::ShowUI(std::uint32_t Id, QObject* ActiveObject, QObject* CommandTarget, QObject* Frame,
                             QObject* DocWindow) {
  HRESULT Result = S_FALSE;
  if (OnShowUI) OnShowUI(this, Id, ActiveObject, CommandTarget, Frame, DocWindow, Result);
  return Result;
}

HRESULT TWebBrowseEx::HideUI() {
  HRESULT Result = S_FALSE;
  if (OnHideUI) OnHideUI(this, Result);
  return Result;
}

HRESULT TWebBrowseEx::UpdateUI() {
  HRESULT Result = S_FALSE;
  if (OnUpdateUI) OnUpdateUI(this, Result);
  return Result;
}

HRESULT TWebBrowseEx::EnableModeless(bool Enable) {
  if (OnEnableModeless) OnEnableModeless(this, Enable);
  return S_OK;
}

HRESULT TWebBrowseEx::OnDocWindowActivate(bool Activate) {
  if (OnOnDocWindowActivate) OnOnDocWindowActivate(this, Activate);
  return S_OK;
}

HRESULT TWebBrowseEx::OnFrameWindowActivate(bool Activate) {
  if (OnOnFrameWindowActivate) OnOnFrameWindowActivate(this, Activate);
  return S_OK;
}

HRESULT TWebBrowseEx::ResizeBorder(QRect Border, QObject* UiWindow, bool FrameWindow) {
  if (OnResizeBorder) OnResizeBorder(this, Border, UiWindow, FrameWindow);
  return S_OK;
}

HRESULT TWebBrowseEx::TranslateAccelerator(const TKeyMessage& Message, const QUuid* CommandGroup,
                                           std::uint32_t CommandId) {
  bool Done = false;
  if (OnTranslateAccelerator) OnTranslateAccelerator(this, Message, CommandGroup, CommandId, Done);
  return Done ? S_OK : S_FALSE;
}

HRESULT TWebBrowseEx::GetOptionKeyPath(QString& Key, std::uint32_t) {
  Key = QString();
  if (OnGetOptionKeyPath) OnGetOptionKeyPath(this, Key);
  return Key.isEmpty() ? S_FALSE : S_OK;
}

HRESULT TWebBrowseEx::GetDropTarget(QObject*, QObject*& Replacement) {
  Replacement = nullptr;
  if (OnGetDropTarget) OnGetDropTarget(this, Replacement);
  return S_OK;
}

HRESULT TWebBrowseEx::GetExternal(QObject*& External) {
  External = nullptr;
  if (OnGetExternal) OnGetExternal(this, External);
  return External ? S_OK : S_FALSE;
}

HRESULT TWebBrowseEx::TranslateUrl(std::uint32_t Translate, const QString& UrlIn, char16_t** UrlOut) {
  *UrlOut = nullptr;
  QString Translated;
  if (OnTranslateUrl) OnTranslateUrl(this, Translate, UrlIn, Translated);
  if (Translated.isEmpty()) return S_FALSE;
  const std::size_t Chars = static_cast<std::size_t>(Translated.size());
  auto* Copy = static_cast<char16_t*>(TaskMemAlloc((Chars + 1) * sizeof(char16_t)));
  if (Copy == nullptr) return E_OUTOFMEMORY;
  std::memset(Copy, 0, (Chars + 1) * sizeof(char16_t));
  std::memcpy(Copy, Translated.utf16(), Chars * sizeof(char16_t));
  *UrlOut = Copy;
  return S_OK;
}

HRESULT TWebBrowseEx::FilterDataObject(const QMimeData* DataObject, std::unique_ptr<QMimeData>& Replacement) {
  Replacement.reset();
  if (OnFilterDataObject) OnFilterDataObject(this, DataObject, Replacement);
  return Replacement ? S_OK : S_FALSE;
}

HRESULT TWebBrowseEx::ShowMessage(QWidget* Window, const QString& Text, const QString& Caption, std::uint32_t Type,
                                  const QString& HelpFileName, std::uint32_t HelpContext, int& Result) {
  if (OnShowMessage) return OnShowMessage(this, Window, Text, Caption, Type, HelpFileName, HelpContext, Result);
  return S_FALSE;
}

HRESULT TWebBrowseEx::ShowHelp(QWidget* Window, const QString& HelpFileName, std::uint32_t Command,
                               std::uint32_t Data, QPoint MousePoint, QObject* HitObject) {
  if (OnShowHelp) return OnShowHelp(this, Window, HelpFileName, Command, Data, MousePoint, HitObject);
  if (!HelpFileName.isEmpty() || HelpFile.empty()) return S_FALSE;
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(HelpFile)));
  return S_OK;
}

void TWebBrowseEx::contextMenuEvent(QContextMenuEvent* Event) {
  if (ShowContextMenu(CONTEXT_MENU_DEFAULT, Event->globalPos(), page(), lastContextMenuRequest()) == S_OK) {
    Event->accept();
    return;
  }
  QWebEngineView::contextMenuEvent(Event);
}

void TWebBrowseEx::dragEnterEvent(QDragEnterEvent* Event) {
  QObject* Replacement = nullptr;
  GetDropTarget(this, Replacement);
  FDropTarget = Replacement;
  if (FDropTarget) {
    QCoreApplication::sendEvent(FDropTarget, Event);
    return;
  }
  FFilteredData.reset();
  if (FilterDataObject(Event->mimeData(), FFilteredData) != S_OK) {
    QWebEngineView::dragEnterEvent(Event);
    return;
  }
  QDragEnterEvent Filtered(Event->position().toPoint(), Event->possibleActions(), FFilteredData.get(),
                           Event->buttons(), Event->modifiers());
  QWebEngineView::dragEnterEvent(&Filtered);
  Event->setDropAction(Filtered.dropAction());
  Event->setAccepted(Filtered.isAccepted());
}

void TWebBrowseEx::dragMoveEvent(QDragMoveEvent* Event) {
  if (FDropTarget) {
    QCoreApplication::sendEvent(FDropTarget, Event);
    return;
  }
  if (!FFilteredData) {
    QWebEngineView::dragMoveEvent(Event);
    return;
  }
  QDragMoveEvent Filtered(Event->position().toPoint(), Event->possibleActions(), FFilteredData.get(),
                          Event->buttons(), Event->modifiers());
  QWebEngineView::dragMoveEvent(&Filtered);
  Event->setDropAction(Filtered.dropAction());
  Event->setAccepted(Filtered.isAccepted());
}

void TWebBrowseEx::dragLeaveEvent(QDragLeaveEvent* Event) {
  if (QObject* Target = FDropTarget) {
    FDropTarget.clear();
    QCoreApplication::sendEvent(Target, Event);
    return;
  }
  QWebEngineView::dragLeaveEvent(Event);
  FFilteredData.reset();
}

void TWebBrowseEx::dropEvent(QDropEvent* Event) {
  if (QObject* Target = FDropTarget) {
    FDropTarget.clear();
    QCoreApplication::sendEvent(Target, Event);
    return;
  }
  if (!FFilteredData) {
    QWebEngineView::dropEvent(Event);
    return;
  }
  QDropEvent Filtered(Event->position(), Event->possibleActions(), FFilteredData.get(), Event->buttons(),
                      Event->modifiers());
  QWebEngineView::dropEvent(&Filtered);
  Event->setDropAction(Filtered.dropAction());
  Event->setAccepted(Filtered.isAccepted());
  FFilteredData.reset();
}

void TWebBrowseEx::paintEvent(QPaintEvent* Event) {
  QWebEngineView::paintEvent(Event);
  if (!FFramed) return;
  QPainter Painter(this);
  qDrawWinPanel(&Painter, rect(), palette(), true);
}

void TWebBrowseEx::resizeEvent(QResizeEvent* Event) {
  QWebEngineView::resizeEvent(Event);
  ResizeBorder(rect(), window(), true);
}

void TWebBrowseEx::changeEvent(QEvent* Event) {
  QWebEngineView::changeEvent(Event);
  if (Event->type() == QEvent::ActivationChange) OnFrameWindowActivate(isActiveWindow());
}

void TWebBrowseEx::FocusChanged(QWidget* Old, QWidget* Now) {
  const auto Inside = [this](QWidget* Widget) { return Widget && (Widget == this || isAncestorOf(Widget)); };
  const bool Was = Inside(Old);
  const bool Is = Inside(Now);
  if (Is && !Was) {
    if (FKeyWatched != Now) {
      if (FKeyWatched) FKeyWatched->removeEventFilter(this);
      Now->installEventFilter(this);
      FKeyWatched = Now;
    }
    ShowUI(DOCHOSTUITYPE_BROWSE, page(), page(), window(), Now);
    OnDocWindowActivate(true);
  } else if (Was && !Is) {
    OnDocWindowActivate(false);
    HideUI();
  }
}

bool TWebBrowseEx::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == FKeyWatched && Event->type() == QEvent::KeyPress) return FilterKey(static_cast<QKeyEvent*>(Event));
  return QWebEngineView::eventFilter(Watched, Event);
}

bool TWebBrowseEx::FilterKey(QKeyEvent* Event) {
  const int VirtualKey = VirtualKeyOf(Event->key());
  if (VirtualKey == 0) return false;
  const bool Alt = Event->modifiers().testFlag(Qt::AltModifier);
  const TKeyMessage Message{Alt ? WM_SYSKEYDOWN : WM_KEYDOWN, static_cast<std::uintptr_t>(VirtualKey), 0};
  return TranslateAccelerator(Message, nullptr, 0) == S_OK;
}
