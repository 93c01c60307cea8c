#include "ui/TAnchorLayout.h"

#include <QEvent>
#include <QWidget>

TAnchorLayout::TAnchorLayout(QWidget* Container, QSize DesignSize)
    : QObject(Container), Container(Container), DesignSize(DesignSize) {
  Container->installEventFilter(this);
}

void TAnchorLayout::Place(QWidget* Child, QRect DesignRect, unsigned Anchors) {
  Placements.push_back({Child, DesignRect, Anchors});
  Child->setGeometry(PlaceOf(Placements.back(), Container->size()));
}

void TAnchorLayout::AlignTop(QWidget* Child, int Height) {
  Place(Child, QRect(0, 0, DesignSize.width(), Height), 0);
}

QRect TAnchorLayout::PlaceOf(const TPlacement& Placement, QSize Now) const {
  const QRect& R = Placement.DesignRect;
  if (Placement.Anchors == 0) return QRect(0, 0, Now.width(), R.height());
  const int GrowX = Now.width() - DesignSize.width();
  const int GrowY = Now.height() - DesignSize.height();
  auto Axis = [](int Pos, int Length, int Grow, bool Near, bool Far) {
    if (Near && Far) return std::pair(Pos, Length + Grow);
    if (Far) return std::pair(Pos + Grow, Length);
    return std::pair(Pos, Length);
  };
  const auto [X, W] = Axis(R.x(), R.width(), GrowX, Placement.Anchors & akLeft, Placement.Anchors & akRight);
  const auto [Y, H] = Axis(R.y(), R.height(), GrowY, Placement.Anchors & akTop, Placement.Anchors & akBottom);
  return QRect(X, Y, W, H);
}

void TAnchorLayout::Relayout() {
  for (const TPlacement& Placement : Placements)
    Placement.Child->setGeometry(PlaceOf(Placement, Container->size()));
}

bool TAnchorLayout::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == Container && Event->type() == QEvent::Resize) Relayout();
  return QObject::eventFilter(Watched, Event);
}
