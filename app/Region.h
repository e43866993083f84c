#pragma once
#include <QByteArray>
#include <QRegion>
#include <QString>
#include <optional>

class QWidget;

namespace rq::app {

// Decodes a Win32 RGNDATA block (32-byte header: size 32, type 1 = rectangles,
// count, byte size, bounds; then 16-byte rectangles). Malformed data yields nothing
// rather than a partial outline.
std::optional<QRegion> RegionFromRgnData(const QByteArray& data);
// The bounding rectangle recorded in the header (not recomputed).
std::optional<QRect> RgnDataBounds(const QByteArray& data);

// Loads the region resource `name` of type "RGN" (names match without regard to case).
std::optional<QRegion> LoadRegionResource(const QString& name);
QByteArray RegionResourceData(const QString& name);

// Clips `window` to the region resource; a missing or broken resource leaves the
// window rectangular, which still works.
void ApplyWindowRegion(QWidget& window, const QString& name);

}  // namespace rq::app
