#include "app/Region.h"

#include <QFile>
#include <QWidget>
#include <QtEndian>
#include <vector>

#include "app/Skins.h"

namespace rq::app {
namespace {

constexpr qsizetype kHeaderSize = 32;
constexpr quint32 kTypeRectangles = 1;
constexpr qsizetype kRectSize = 16;

qint32 LongAt(const QByteArray& data, qsizetype offset) {
  return qFromLittleEndian<qint32>(data.constData() + offset);
}

// The rectangle count when the header is sound, else -1.
qint64 CheckedCount(const QByteArray& data) {
  if (data.size() < kHeaderSize) return -1;
  if (LongAt(data, 0) != kHeaderSize || static_cast<quint32>(LongAt(data, 4)) != kTypeRectangles) return -1;
  const qint64 count = static_cast<quint32>(LongAt(data, 8));
  if (count > (data.size() - kHeaderSize) / kRectSize) return -1;
  return count;
}

}  // namespace

std::optional<QRect> RgnDataBounds(const QByteArray& data) {
  if (CheckedCount(data) < 0) return std::nullopt;
  return QRect(QPoint(LongAt(data, 16), LongAt(data, 20)),
               QPoint(LongAt(data, 24) - 1, LongAt(data, 28) - 1));
}

std::optional<QRegion> RegionFromRgnData(const QByteArray& data) {
  const qint64 count = CheckedCount(data);
  if (count < 0) return std::nullopt;
  std::vector<QRect> rects;
  rects.reserve(static_cast<size_t>(count));
  for (qint64 i = 0; i < count; ++i) {
    const qsizetype at = kHeaderSize + i * kRectSize;
    const qint32 left = LongAt(data, at), top = LongAt(data, at + 4);
    const qint32 right = LongAt(data, at + 8), bottom = LongAt(data, at + 12);
    if (right <= left || bottom <= top) continue;  // empty, as Windows treats it
    rects.emplace_back(QPoint(left, top), QPoint(right - 1, bottom - 1));
  }
  QRegion region;
  region.setRects(rects.data(), static_cast<int>(rects.size()));
  return region;
}

QByteArray RegionResourceData(const QString& name) {
  LoadSkins();
  QFile file(QStringLiteral(":/rgn/") + name.toUpper());
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

std::optional<QRegion> LoadRegionResource(const QString& name) {
  const QByteArray data = RegionResourceData(name);
  if (data.isEmpty()) return std::nullopt;
  return RegionFromRgnData(data);
}

void ApplyWindowRegion(QWidget& window, const QString& name) {
  if (auto region = LoadRegionResource(name); region && !region->isEmpty()) window.setMask(*region);
}

}  // namespace rq::app
