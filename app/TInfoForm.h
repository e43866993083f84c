#pragma once
#include <QLabel>

#include "app/Forms.h"

namespace rq::engine {
class MSupport;
}

namespace rq::app {

// The information panel: the BIOS model and every chip detection found, each
// chip's long description as its tooltip. Filled once, at creation.
class TInfoForm : public TPanelForm {
 public:
  explicit TInfoForm(engine::MSupport& system);
  ~TInfoForm() override;

  QLabel* Label6;
  QLabel* Label1;
  QLabel* lblBIOSModel;
  QLabel* Label9;
  QLabel* lblMCH;
  QLabel* Label4;
  QLabel* lblHWMonitor;
  QLabel* Label2;
  QLabel* lblClkGen;
  QLabel* Label3;
  QLabel* lblOverClker;

 private:
  int LayOutRows(bool compact);
};

}  // namespace rq::app
