#include "app/Forms.h"

#include <xcb/xcb.h>

#include <QCloseEvent>
#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QLayout>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/Region.h"
#include "app/Skins.h"
#include "app/TMainForm.h"

namespace rq::app {

Forms& AppForms() {
  static Forms forms;
  return forms;
}

SkinnedForm::SkinnedForm(const QString& caption, const QString& picture, const QString& region, QSize size,
                         Qt::WindowFlags flags)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | flags) {
  LoadSkins();
  setWindowTitle(caption);
  setFixedSize(size);
  // Hints show whichever window of the program has the focus, as they always have
  // on the shaped windows; Qt would show them only on the active window.
  setAttribute(Qt::WA_AlwaysShowToolTips);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, QColor(10, 11, 13));
  setPalette(colours);
  setAutoFillBackground(true);
  background_ = new QLabel(this);
  background_->setGeometry(0, 0, size.width(), size.height());
  background_->setPixmap(QPixmap(QStringLiteral(":/skin/") + picture));
  ApplyWindowRegion(*this, region);
}

TPanelForm::TPanelForm(const QString& caption, const QString& picture, const QString& region, QSize size)
    : SkinnedForm(caption, picture, region, size) {
  setEnabled(false);
  KeepOutOfTaskbar(*this);
}

void KeepOutOfTaskbar(QWidget& window) {
  // The panels belong to the main window: the program has one taskbar and task
  // switcher entry. They are not made transient for it, since a window manager keeps
  // a transient above its owner and the panels wait behind the main window. X11 only
  // (the program runs on X11 or XWayland); Qt keeps these states when it maps the window.
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection()) return;
  xcb_connection_t* connection = x11->connection();
  auto atom = [connection](const char* name) {
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, std::strlen(name), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  };
  const xcb_atom_t state = atom("_NET_WM_STATE");
  const xcb_atom_t skip[] = {atom("_NET_WM_STATE_SKIP_TASKBAR"), atom("_NET_WM_STATE_SKIP_PAGER")};
  if (state == XCB_ATOM_NONE || skip[0] == XCB_ATOM_NONE || skip[1] == XCB_ATOM_NONE) return;
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window.winId()), state,
                      XCB_ATOM_ATOM, 32, 2, skip);
  xcb_flush(connection);
}

void TPanelForm::closeEvent(QCloseEvent* event) {
  // The panels live exactly as long as the program: closing one closes the program.
  event->ignore();
  if (TMainForm* main = AppForms().mainForm) main->close();
}

namespace {

constexpr char kKeepShownName[] = "keepShown";

// Undoes a minimise: some window managers offer it on every dialog whatever the
// dialog asks for, and a modal dialog minimised alone leaves the program blocked
// with nothing on screen to answer.
class KeepShown : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* window = qobject_cast<QWidget*>(watched);
    if (event->type() == QEvent::WindowStateChange && window && window->isWindow() &&
        (window->windowState() & Qt::WindowMinimized)) {
      QTimer::singleShot(0, window, [window] {
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
      });
    }
    return false;
  }
};

}  // namespace

void OfferOnlyClose(QWidget& dialog, bool closeButton) {
  // Only the hints named here: without CustomizeWindowHint the window system adds
  // its defaults (minimise, maximise, a window menu).
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          (dialog.windowFlags() & Qt::WindowStaysOnTopHint);
  if (closeButton) flags |= Qt::WindowCloseButtonHint;
  dialog.setWindowFlags(flags);
  if (!dialog.findChild<QObject*>(kKeepShownName, Qt::FindDirectChildrenOnly)) {
    auto* keeper = new KeepShown(&dialog);
    keeper->setObjectName(kKeepShownName);
    dialog.installEventFilter(keeper);
  }
}

void FixDialogSize(QWidget& dialog, int width, bool closeButton) {
  OfferOnlyClose(dialog, closeButton);
  dialog.setFixedWidth(width);
  QLayout* layout = dialog.layout();
  const int height =
      layout && layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : dialog.sizeHint().height();
  dialog.setFixedHeight(height);
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& geometry,
                  LabelStyle style, Qt::Alignment alignment) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  label->setAlignment(alignment);
  QFont font(QStringLiteral("DejaVu Sans"));
  QColor colour;
  QColor glow;
  switch (style) {
    case LabelStyle::Readout:
      font = QFont(QStringLiteral("DejaVu Sans Mono"));
      font.setPixelSize(17);
      font.setBold(true);
      colour = QColor(150, 236, 255);
      glow = QColor(90, 216, 255);
      break;
    case LabelStyle::ReadoutLarge:
      font = QFont(QStringLiteral("DejaVu Sans Mono"));
      font.setPixelSize(30);
      font.setBold(true);
      colour = QColor(150, 236, 255);
      glow = QColor(90, 216, 255);
      break;
    case LabelStyle::Unit:
      font.setPixelSize(11);
      font.setBold(true);
      colour = QColor(90, 170, 200);
      break;
    case LabelStyle::Caption:
      font.setPixelSize(10);
      font.setBold(true);
      colour = QColor(120, 230, 130);
      break;
    case LabelStyle::Value:
      font.setPixelSize(10);
      font.setBold(true);
      colour = QColor(0, 255, 255);
      break;
  }
  label->setFont(font);
  QPalette colours = label->palette();
  colours.setColor(QPalette::WindowText, colour);
  label->setPalette(colours);
  if (glow.isValid()) {
    auto* halo = new QGraphicsDropShadowEffect(label);
    halo->setOffset(0, 0);
    halo->setBlurRadius(10);
    halo->setColor(glow);
    label->setGraphicsEffect(halo);
  }
  return label;
}

bool TextFits(const QLabel& label, const QFont& font) {
  const QRect room = label.contentsRect();
  const int flags = static_cast<int>(label.alignment()) | (label.wordWrap() ? Qt::TextWordWrap : 0);
  const QRect needed = QFontMetrics(font).boundingRect(room, flags, label.text());
  return needed.width() <= room.width() && needed.height() <= room.height();
}

void ShrinkToFit(QLabel& label, int designPixelSize, int smallestPixelSize) {
  QFont font = label.font();
  font.setPixelSize(designPixelSize);
  while (font.pixelSize() > smallestPixelSize && !TextFits(label, font))
    font.setPixelSize(font.pixelSize() - 1);
  label.setFont(font);
}

}  // namespace rq::app
