#pragma once
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "engine/SensorHistory.h"

namespace rq::app {

// The monitor panel's read-out window: one sensor's last ten minutes as a line,
// newest at the right, scaled to the lowest and highest value in the window,
// which stand beside the line as small text. Samples further apart than a refresh
// or two (a failed read, the panel closed for a while) leave a gap rather than a
// line through values nobody read.
class HistoryGraph : public QWidget {
 public:
  using ValueText = std::function<QString(double)>;

  static constexpr std::chrono::seconds kWindow{600};

  explicit HistoryGraph(QWidget* parent);

  // What to draw: the sensor's title ("CPU Temp, C"), its samples oldest first,
  // the moment at the right edge and how its values are written.
  void ShowSeries(const QString& title, std::vector<engine::SensorSample> samples,
                  engine::SensorClock::time_point now, ValueText valueText);
  // Nothing to draw (no sensor chosen).
  void Clear();

  const QString& Title() const { return title_; }
  // The scale as written beside the line; empty without samples in the window.
  const QString& LowText() const { return lowText_; }
  const QString& HighText() const { return highText_; }
  // The samples inside the window, as drawn.
  const std::vector<engine::SensorSample>& Drawn() const { return drawn_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QRectF PlotArea() const;
  void PaintLine(QPainter& painter, const QRectF& plot) const;

  QString title_;
  QString lowText_;
  QString highText_;
  std::vector<engine::SensorSample> drawn_;
  engine::SensorClock::time_point now_{};
  double low_ = 0;
  double high_ = 0;
};

}  // namespace rq::app
