#include "app/Format.h"

#include <QStringList>
#include <cstdio>

namespace rq::app {

QString FormatGeneral(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", value);
  return QString::fromLatin1(text);
}

QString FormatFixed1(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f", value);
  return QString::fromLatin1(text);
}

QString ElideLeadingWords(const QString& text, const QFontMetrics& metrics, int width) {
  const auto fits = [&](const QString& candidate) { return metrics.horizontalAdvance(candidate) <= width; };
  if (fits(text)) return text;
  const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  for (qsizetype first = 1; first < words.size(); ++first) {
    const QString tail = words.mid(first).join(QLatin1Char(' '));
    if (fits(QStringLiteral("…") + tail)) return QStringLiteral("…") + tail;
  }
  if (!words.isEmpty() && fits(words.last())) return words.last();
  return metrics.elidedText(text, Qt::ElideLeft, width);
}

}  // namespace rq::app
