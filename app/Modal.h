#pragma once
#include <functional>

class QDialog;

namespace rq::app {

// Every modal dialog of the windows is shown through here, so that tests can answer
// a dialog (or look at it) instead of a user. Returns the dialog's result code.
int ExecModal(QDialog& dialog);

using ModalHook = std::function<int(QDialog&)>;
// Installs a hook that runs instead of QDialog::exec; an empty hook restores exec.
void SetModalHook(ModalHook hook);

}  // namespace rq::app
