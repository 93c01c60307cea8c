#pragma once
// Keeps a container's children where their anchors say as the container is resized: an edge
// anchored to the container keeps its distance to it, so a control anchored left and right
// stretches, one anchored right only moves.
#include <QObject>
#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

enum TAnchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };

class TAnchorLayout : public QObject {
 public:
  // DesignSize is the container's size the design rectangles refer to.
  TAnchorLayout(QWidget* Container, QSize DesignSize);

  void Place(QWidget* Child, QRect DesignRect, unsigned Anchors);
  // Full width at the top of the container, fixed height.
  void AlignTop(QWidget* Child, int Height);

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  struct TPlacement {
    QWidget* Child;
    QRect DesignRect;
    unsigned Anchors;  // 0 means aligned to the top
  };
  void Relayout();
  QRect PlaceOf(const TPlacement& Placement, QSize Now) const;

  QWidget* Container;
  QSize DesignSize;
  std::vector<TPlacement> Placements;
};
