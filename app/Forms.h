#pragma once
#include <QLabel>
#include <QString>
#include <QWidget>
#include <functional>

namespace rq::verify {
class Verification;
}

namespace rq::app {

class TMainForm;
class TOverclockForm;
class TInfoForm;
class TPanelForm;
class TVoltForm;

// The program's windows, as each registers itself while it exists.
struct Forms {
  TMainForm* mainForm = nullptr;
  TOverclockForm* overclockForm = nullptr;
  TPanelForm* hwMonitorForm = nullptr;
  TInfoForm* infoForm = nullptr;
  TVoltForm* voltForm = nullptr;
  // Set by the voltage window: shows its labels and Yes/No state again after the
  // overclock window's reset.
  std::function<void()> refreshVoltageWindow;
  // The verification in progress, if the program has one to offer.
  verify::Verification* verification = nullptr;
};
Forms& AppForms();

// A borderless window dressed in a skin picture and clipped to its region resource.
class SkinnedForm : public QWidget {
 public:
  SkinnedForm(const QString& caption, const QString& picture, const QString& region, QSize size,
              Qt::WindowFlags flags = {});

  QLabel* Background() const { return background_; }

 private:
  QLabel* background_;
};

// A panel that slides out from behind the main window: disabled while closed, its
// open flag toggled by the main window. Closing one ends the program.
class TPanelForm : public SkinnedForm {
 public:
  TPanelForm(const QString& caption, const QString& picture, const QString& region, QSize size);

  bool open = false;

 protected:
  void closeEvent(QCloseEvent* event) override;
};

// Marks a top-level window as one the taskbar and the task switcher leave out.
void KeepOutOfTaskbar(QWidget& window);

// A dialog whose frame offers the close button (when `closeButton`) and nothing else:
// no minimise, no maximise, no window menu; a minimise the window manager does
// anyway is undone.
void OfferOnlyClose(QWidget& dialog, bool closeButton = true);

// A dialog of fixed size: `width` wide and as high as its contents need at that width,
// offering only what OfferOnlyClose does.
void FixDialogSize(QWidget& dialog, int width, bool closeButton = true);

// A label of the skins' read-out style.
enum class LabelStyle { Readout, ReadoutLarge, Unit, Caption, Value };
QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& geometry,
                  LabelStyle style, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);

// Whether the label's text, in `font`, fits the label's contents (wrapped when the
// label wraps), measured as the label lays it out.
bool TextFits(const QLabel& label, const QFont& font);

// A long text gets a smaller font, from `designPixelSize` down to
// `smallestPixelSize`, rather than being cut off.
void ShrinkToFit(QLabel& label, int designPixelSize, int smallestPixelSize);

}  // namespace rq::app
