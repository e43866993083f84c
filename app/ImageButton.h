#pragma once
#include <QLabel>
#include <QWidget>

namespace rq::app {

// A 30 x 30 panel holding three stacked pictures (up, down, disable) of which
// exactly one is visible; the pictures take no input, the panel takes the clicks.
class ImageButton : public QWidget {
  Q_OBJECT
 public:
  enum class Picture { Up, Down, Disable };

  // `name` names the panel (e.g. "Exit"); `pictures` names its images
  // (e.g. "Exit" gives imgExitUp, imgExitDown, imgExitDisable).
  ImageButton(QWidget* parent, const QString& name, const QString& pictures, const QString& hint);

  void ShowUp() { Show(Picture::Up); }
  void ShowDown() { Show(Picture::Down); }
  void ShowDisable() { Show(Picture::Disable); }
  void Show(Picture picture);
  Picture Visible() const { return visible_; }
  // The function behind the button is missing: disable picture, no clicks.
  void SetUnavailable();

 signals:
  void MouseDown();
  void MouseUp();
  void Click();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QLabel* up_;
  QLabel* down_;
  QLabel* disable_;
  Picture visible_ = Picture::Up;
  bool pressed_ = false;
};

}  // namespace rq::app
