#include "app/Modal.h"

#include <QDialog>

namespace rq::app {
namespace {

ModalHook& Hook() {
  static ModalHook hook;
  return hook;
}

}  // namespace

int ExecModal(QDialog& dialog) {
  if (Hook()) return Hook()(dialog);
  return dialog.exec();
}

void SetModalHook(ModalHook hook) { Hook() = std::move(hook); }

}  // namespace rq::app
