// A window that starts a drag of the files named on its command line when the mouse is pressed
// in it, as a file manager does. Usage: x11_drag_source X Y FILE...
// Prints "ready" once the window is shown on screen and "result N" (the drop action) after each drag.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <QWidget>
#include <cstdio>

namespace {
class TDragSource : public QWidget {
 public:
  explicit TDragSource(QList<QUrl> Files) : Files(std::move(Files)) {}

 protected:
  void mousePressEvent(QMouseEvent* Event) override {
    if (Event->button() != Qt::LeftButton) return;
    auto* Data = new QMimeData;
    Data->setUrls(Files);
    auto* Drag = new QDrag(this);
    Drag->setMimeData(Data);
    const Qt::DropAction Result = Drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    std::printf("result %d\n", static_cast<int>(Result));
    std::fflush(stdout);
  }

 private:
  QList<QUrl> Files;
};
}  // namespace

int main(int Argc, char** Argv) {
  QApplication Application(Argc, Argv);
  const QStringList Args = Application.arguments();
  if (Args.size() < 4) return 2;
  QList<QUrl> Files;
  for (int I = 3; I < Args.size(); ++I) Files.append(QUrl::fromLocalFile(Args[I]));
  TDragSource Window(Files);
  Window.setWindowFlag(Qt::FramelessWindowHint);
  Window.setGeometry(Args[1].toInt(), Args[2].toInt(), 160, 160);
  Window.show();
  QTimer Exposed;
  QObject::connect(&Exposed, &QTimer::timeout, [&] {
    if (Window.windowHandle() == nullptr || !Window.windowHandle()->isExposed()) return;
    Exposed.stop();
    std::printf("ready\n");
    std::fflush(stdout);
  });
  Exposed.start(50);
  return Application.exec();
}
