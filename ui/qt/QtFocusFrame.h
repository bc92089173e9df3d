#pragma once
#include <QObject>
#include <QPointer>
#include <QWidget>

// Keeps the keyboard focus in sight whatever the style draws: a frame in the palette's highlight
// colour around the control that has the focus (inside its parent), drawn over the control's
// siblings and letting the mouse through. The frame follows the control as it moves, and goes when it hides.
class QtFocusFrame : public QObject {
 public:
  static constexpr int kWidth = 2;  // px of the frame outside the control

  QtFocusFrame();
  ~QtFocusFrame() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Follow(QWidget* focused);
  void Place();

  QPointer<QWidget> m_frame;  // a child of the control's parent, so it may go with it
  QPointer<QWidget> m_target;
};
