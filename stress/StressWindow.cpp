#include "stress/StressWindow.h"

#include <QApplication>
#include <QVBoxLayout>

namespace rq::stress {

int RunStressProgram(int argc, char** argv, const QString& title,
                     const std::function<QWidget*()>& makeContent) {
  // Closed by title and placed at (0, 0), which needs X11: on a Wayland session the
  // program runs through XWayland unless a platform was asked for.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication app(argc, argv);
  QWidget window;
  // The title is how the verification finds the window to close it: set exactly,
  // and no application display name that the toolkit would append to it.
  window.setWindowTitle(title);
  auto* layout = new QVBoxLayout(&window);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(makeContent());
  window.resize(kStressWidth, kStressHeight);
  window.move(0, 0);
  window.show();
  return app.exec();
}

}  // namespace rq::stress
