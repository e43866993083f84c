#include "app/HistoryGraph.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace rq::app {
namespace {

// The skin's colours: the glow green of the read-out's trace, the cyan of its
// grid and the silver small print of the panel's captions.
const QColor kTraceGreen(90, 255, 160);
const QColor kGridCyan(90, 216, 255, 50);
const QColor kSmallPrint(200, 206, 214);

constexpr int kTextPixelSize = 8;
constexpr int kTitleHeight = 10;  // the title line above the plot
constexpr int kScaleWidth = 34;   // the scale's column left of the plot
constexpr int kPlotMargin = 3;    // clear of the window's rounded edge
// A refresh comes once a second; samples further apart than this are not joined.
constexpr auto kLongestStep = std::chrono::milliseconds(3500);
// A flat line is drawn in the middle of a band this fraction of its value wide
// (at least kSmallestBand), not stretched over the whole height by rounding noise.
constexpr double kFlatBand = 0.02;
constexpr double kSmallestBand = 1.0;
constexpr double kHeadroom = 0.1;  // of the span, above and below the line

QFont SmallFont(const QFont& base) {
  QFont font = base;
  font.setPixelSize(kTextPixelSize);
  font.setBold(false);
  return font;
}

}  // namespace

HistoryGraph::HistoryGraph(QWidget* parent) : QWidget(parent) {
  setObjectName("HistoryGraph");
  setAttribute(Qt::WA_TransparentForMouseEvents);  // the panel's own drag and clicks pass through
}

void HistoryGraph::ShowSeries(const QString& title, std::vector<engine::SensorSample> samples,
                              engine::SensorClock::time_point now, ValueText valueText) {
  title_ = title;
  now_ = now;
  const auto windowStart = now - kWindow;
  std::erase_if(samples, [&](const engine::SensorSample& s) { return s.at < windowStart || s.at > now; });
  drawn_ = std::move(samples);
  lowText_.clear();
  highText_.clear();
  if (!drawn_.empty()) {
    const auto [lowest, highest] = std::minmax_element(
        drawn_.begin(), drawn_.end(), [](const auto& a, const auto& b) { return a.value < b.value; });
    lowText_ = valueText(lowest->value);
    highText_ = valueText(highest->value);
    low_ = lowest->value;
    high_ = highest->value;
    const double span = high_ - low_;
    const double pad = span > 0 ? span * kHeadroom : std::max(std::abs(high_) * kFlatBand, kSmallestBand) / 2;
    low_ -= pad;
    high_ += pad;
  }
  update();
}

void HistoryGraph::Clear() {
  ShowSeries({}, {}, now_, [](double) { return QString(); });
}

QRectF HistoryGraph::PlotArea() const {
  return QRectF(kScaleWidth, kTitleHeight + kPlotMargin, width() - kScaleWidth - kPlotMargin,
                height() - kTitleHeight - 2 * kPlotMargin);
}

void HistoryGraph::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setFont(SmallFont(font()));
  const QRectF plot = PlotArea();

  painter.setPen(QPen(kGridCyan, 1));
  painter.drawLine(QPointF(plot.left(), plot.top()), QPointF(plot.right(), plot.top()));
  painter.drawLine(QPointF(plot.left(), plot.bottom()), QPointF(plot.right(), plot.bottom()));
  painter.drawLine(QPointF(plot.left(), plot.top()), QPointF(plot.left(), plot.bottom()));

  painter.setPen(kSmallPrint);
  const QRectF titleLine(kPlotMargin, 0, width() - 2 * kPlotMargin, kTitleHeight);
  painter.drawText(titleLine, Qt::AlignLeft | Qt::AlignVCenter, title_);
  painter.drawText(titleLine, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("last 10 min"));
  const QRectF scale(0, plot.top() - kTextPixelSize / 2.0, kScaleWidth - kPlotMargin,
                     plot.height() + kTextPixelSize);
  painter.drawText(scale, Qt::AlignRight | Qt::AlignTop, highText_);
  painter.drawText(scale, Qt::AlignRight | Qt::AlignBottom, lowText_);

  if (!drawn_.empty()) PaintLine(painter, plot);
}

void HistoryGraph::PaintLine(QPainter& painter, const QRectF& plot) const {
  const double windowMs = std::chrono::duration<double, std::milli>(kWindow).count();
  const auto place = [&](const engine::SensorSample& s) {
    const double age = std::chrono::duration<double, std::milli>(now_ - s.at).count();
    const double x = plot.right() - age / windowMs * plot.width();
    const double y = plot.bottom() - (s.value - low_) / (high_ - low_) * plot.height();
    return QPointF(x, y);
  };
  QPainterPath line;
  std::vector<QPointF> lonely;  // samples with no neighbour near enough to join
  for (std::size_t i = 0; i < drawn_.size(); ++i) {
    const bool joinsPrevious = i > 0 && drawn_[i].at - drawn_[i - 1].at <= kLongestStep;
    const bool joinsNext = i + 1 < drawn_.size() && drawn_[i + 1].at - drawn_[i].at <= kLongestStep;
    const QPointF point = place(drawn_[i]);
    if (joinsPrevious)
      line.lineTo(point);
    else
      line.moveTo(point);
    if (!joinsPrevious && !joinsNext) lonely.push_back(point);
  }
  // A soft glow under a thin bright line, as the skin's trace was drawn.
  for (const auto& [width, alpha] : {std::pair{4.0, 45}, std::pair{1.3, 235}}) {
    QColor colour = kTraceGreen;
    colour.setAlpha(alpha);
    painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(line);
    for (const QPointF& point : lonely) painter.drawPoint(point);
  }
}

}  // namespace rq::app
