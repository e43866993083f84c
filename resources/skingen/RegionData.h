#pragma once
#include <QByteArray>
#include <QImage>

namespace rq::skingen {

// The window outline of a skin picture as a Win32 RGNDATA block: rectangles of the
// opaque pixels in y-x banded order (rows with the same runs merged into one band).
QByteArray RegionDataFromAlpha(const QImage& image);

}  // namespace rq::skingen
