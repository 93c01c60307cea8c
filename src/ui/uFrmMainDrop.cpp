// Files dropped on the list, or chosen for it in a dialog.
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "filelist/DropIntake.h"
#include "ui/FileDialogs.h"
#include "ui/TFileListView.h"
#include "ui/uFrmMain.h"

namespace {
// Local file names in the order the drag source gave them; other addresses are left out.
std::vector<std::string> DroppedFileNames(const QMimeData& Data) {
  std::vector<std::string> Names;
  for (const QUrl& Url : Data.urls())
    if (Url.isLocalFile()) Names.push_back(Url.toLocalFile().toStdString());
  return Names;
}
}  // namespace

void TFrmMain::vstFilesDragOver(QDragMoveEvent* Event) { Event->acceptProposedAction(); }

void TFrmMain::vstFilesDragDrop(QDropEvent* Event) {
  if (Event->source() == vstFiles || Event->source() == vstFiles->viewport()) return;
  const QMimeData* Data = Event->mimeData();
  if (Data == nullptr || !Data->hasUrls()) return;
  AppendDroppedNames(DroppedFileNames(*Data), *vstFiles->Files());
  // The list only records names: report a copy, never a move, so that the drag source does not
  // delete the files it offered.
  if (Event->possibleActions() & Qt::CopyAction) {
    Event->setDropAction(Qt::CopyAction);
    Event->accept();
  } else {
    Event->ignore();
  }
}

void TFrmMain::pmiAddFilesClick() {
  std::vector<std::string> Names;
  for (const QString& Chosen : AskOpenFileNames(this, tr("程序文件(*.exe *.dll *.sys *.cab *.lnk);;所有文件(*)")))
    Names.push_back(Chosen.toStdString());
  AppendDroppedNames(Names, *vstFiles->Files());
}

void TFrmMain::pmiAddFolderClick() {
  if (const std::optional<QString> Folder = AskFolderName(this))
    AppendDroppedNames(FilesBelow(Folder->toStdString()), *vstFiles->Files());
}
