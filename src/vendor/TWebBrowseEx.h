#pragma once
// The embedded browser that is also its own document host: its user-interface options decide
// how the page is framed (border, scroll bars) and its host methods, each with an event, decide
// context menus, page messages, address translation, drops and accelerators. Without a handler
// every host method gives the answer that leaves the engine its own default behaviour.
#include <QPointer>
#include <QString>
#include <QWebEngineView>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "vendor/DocHostUi.h"
#include "vendor/KeyMessage.h"
#include "vendor/UserInterfaceOptions.h"

class QMimeData;
class QUuid;

class TWebBrowseEx : public QWebEngineView {
  Q_OBJECT

 public:
  explicit TWebBrowseEx(QWidget* Parent = nullptr);
  ~TWebBrowseEx() override;

  // Loads Url; an address that cannot be navigated to at all throws std::runtime_error.
  void Navigate(const QString& Url);

  // Replaces the page with Html (an empty text leaves an empty document).
  virtual void SetDocumentHtml(const QString& Html);

  // True when Message is a key-down of a Ctrl shortcut whose key is in DisableCtrlShortcuts;
  // raises OnMaskedCtrlChar first. Nothing hands messages to it by itself.
  virtual bool IsMaskedShortcut(const TKeyMessage& Message);

  // Properties
  std::string HelpFile;
  TEnterMode EnterModeOnEdit = emFlagDiv;
  std::string DisableCtrlShortcuts = "N";
  TUserInterfaceOptions UserInterfaceOptions() const { return FUserInterfaceOptions; }
  // Recomputes the host flags from nothing and tells the engine its host settings changed.
  void SetUserInterfaceOptions(TUserInterfaceOptions Options);
  std::uint32_t HostFlags() const { return FHostFlags; }

  // Test seam: how IsMaskedShortcut reads the keyboard.
  TKeyStateReader KeyState = QtKeyState;

  // The engine's side of a changed ambient property: re-reads the host info and re-applies it.
  void OnAmbientPropertyChange(int DispId);

  // Host methods.
  HRESULT ShowContextMenu(std::uint32_t MenuId, QPoint Point, QObject* CommandTarget, QObject* Context);
  HRESULT GetHostInfo(DOCHOSTUIINFO& Info);
  HRESULT ShowUI(std::uint32_t Id, QObject* ActiveObject, QObject* CommandTarget, QObject* Frame,
                 QObject* DocWindow);
  HRESULT HideUI();
  HRESULT UpdateUI();
  HRESULT EnableModeless(bool Enable);
  HRESULT OnDocWindowActivate(bool Activate);
  HRESULT OnFrameWindowActivate(bool Activate);
  HRESULT ResizeBorder(QRect Border, QObject* UiWindow, bool FrameWindow);
  HRESULT TranslateAccelerator(const TKeyMessage& Message, const QUuid* CommandGroup, std::uint32_t CommandId);
  HRESULT GetOptionKeyPath(QString& Key, std::uint32_t Reserved);
  HRESULT GetDropTarget(QObject* BrowserTarget, QObject*& Replacement);
  HRESULT GetExternal(QObject*& External);
  // On S_OK *UrlOut holds a zero-terminated copy the caller releases with TaskMemFree.
  HRESULT TranslateUrl(std::uint32_t Translate, const QString& UrlIn, char16_t** UrlOut);
  HRESULT FilterDataObject(const QMimeData* DataObject, std::unique_ptr<QMimeData>& Replacement);
  HRESULT ShowMessage(QWidget* Window, const QString& Text, const QString& Caption, std::uint32_t Type,
                      const QString& HelpFileName, std::uint32_t HelpContext, int& Result);
  HRESULT ShowHelp(QWidget* Window, const QString& HelpFileName, std::uint32_t Command, std::uint32_t Data,
                   QPoint MousePoint, QObject* HitObject);

  // Events
  std::function<void(TWebBrowseEx* Sender, char Masked)> OnMaskedCtrlChar;
  std::function<void(TWebBrowseEx* Sender, std::uint32_t MenuId, QPoint Point, QObject* CommandTarget,
                     QObject* Context, HRESULT& Result)>
      OnShowContextMenu;
  std::function<void(TWebBrowseEx* Sender, DOCHOSTUIINFO& Info)> OnGetHostInfo;
  std::function<void(TWebBrowseEx* Sender, std::uint32_t Id, QObject* ActiveObject, QObject* CommandTarget,
                     QObject* Frame, QObject* DocWindow, HRESULT& Result)>
      OnShowUI;
  std::function<void(TWebBrowseEx* Sender, HRESULT& Result)> OnHideUI;
  std::function<void(TWebBrowseEx* Sender, HRESULT& Result)> OnUpdateUI;
  std::function<void(TWebBrowseEx* Sender, bool Enable)> OnEnableModeless;
  std::function<void(TWebBrowseEx* Sender, bool Activate)> OnOnDocWindowActivate;
  std::function<void(TWebBrowseEx* Sender, bool Activate)> OnOnFrameWindowActivate;
  std::function<void(TWebBrowseEx* Sender, QRect Border, QObject* UiWindow, bool FrameWindow)> OnResizeBorder;
  std::function<void(TWebBrowseEx* Sender, const TKeyMessage& Message, const QUuid* CommandGroup,
                     std::uint32_t CommandId, bool& Done)>
      OnTranslateAccelerator;
  std::function<void(TWebBrowseEx* Sender, QString& Key)> OnGetOptionKeyPath;
  std::function<void(TWebBrowseEx* Sender, QObject*& Replacement)> OnGetDropTarget;
  std::function<void(TWebBrowseEx* Sender, QObject*& External)> OnGetExternal;
  std::function<void(TWebBrowseEx* Sender, std::uint32_t Translate, const QString& UrlIn, QString& UrlOut)>
      OnTranslateUrl;
  std::function<void(TWebBrowseEx* Sender, const QMimeData* DataObject, std::unique_ptr<QMimeData>& Replacement)>
      OnFilterDataObject;
  std::function<HRESULT(TWebBrowseEx* Sender, QWidget* Window, const QString& Text, const QString& Caption,
                        std::uint32_t Type, const QString& HelpFileName, std::uint32_t HelpContext, int& Result)>
      OnShowMessage;
  std::function<HRESULT(TWebBrowseEx* Sender, QWidget* Window, const QString& HelpFileName, std::uint32_t Command,
                        std::uint32_t Data, QPoint MousePoint, QObject* HitObject)>
      OnShowHelp;

 signals:
  void AmbientPropertyChanged(int DispId);

 protected:
  void contextMenuEvent(QContextMenuEvent* Event) override;
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dragMoveEvent(QDragMoveEvent* Event) override;
  void dragLeaveEvent(QDragLeaveEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  friend class TWebBrowseExPage;

  void ApplyHostInfo();
  void FocusChanged(QWidget* Old, QWidget* Now);
  bool FilterKey(QKeyEvent* Event);

  TUserInterfaceOptions FUserInterfaceOptions;
  std::uint32_t FHostFlags = 0;
  bool FFramed = true;
  // For the drag under way: the host's replacement drop target, or the host's filtered data.
  QPointer<QObject> FDropTarget;
  std::unique_ptr<QMimeData> FFilteredData;
  QPointer<QWidget> FKeyWatched;
};
