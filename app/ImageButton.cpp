#include "app/ImageButton.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include "app/Skins.h"

namespace rq::app {
namespace {

constexpr int kButtonSize = 30;

QLabel* PictureLabel(QWidget* parent, const QString& objectName, const QString& file) {
  auto* label = new QLabel(parent);
  label->setObjectName(objectName);
  label->setPixmap(QPixmap(file));
  label->setGeometry(0, 0, kButtonSize, kButtonSize);
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  return label;
}

}  // namespace

ImageButton::ImageButton(QWidget* parent, const QString& name, const QString& pictures, const QString& hint)
    : QWidget(parent) {
  LoadSkins();
  setObjectName(name);
  setFixedSize(kButtonSize, kButtonSize);
  setCursor(Qt::PointingHandCursor);
  setToolTip(hint);
  setFocusPolicy(Qt::TabFocus);
  const QString base = QStringLiteral(":/button/") + pictures;
  up_ = PictureLabel(this, "img" + pictures + "Up", base + "Up.png");
  down_ = PictureLabel(this, "img" + pictures + "Down", base + "Down.png");
  disable_ = PictureLabel(this, "img" + pictures + "Disable", base + "Disable.png");
  Show(Picture::Up);
}

void ImageButton::Show(Picture picture) {
  visible_ = picture;
  up_->setVisible(picture == Picture::Up);
  down_->setVisible(picture == Picture::Down);
  disable_->setVisible(picture == Picture::Disable);
}

void ImageButton::SetUnavailable() {
  Show(Picture::Disable);
  setEnabled(false);
}

void ImageButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  pressed_ = true;
  emit MouseDown();
}

void ImageButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return;
  pressed_ = false;
  emit MouseUp();
  if (rect().contains(event->position().toPoint())) emit Click();
}

void ImageButton::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    emit Click();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace rq::app
