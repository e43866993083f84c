#include "RegionData.h"

#include <QtEndian>
#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

namespace rq::skingen {
namespace {

constexpr quint32 kHeaderSize = 32;
constexpr quint32 kTypeRectangles = 1;
constexpr quint32 kRectSize = 16;

using Runs = std::vector<std::pair<int, int>>;  // [left, right) of opaque pixels

Runs RowRuns(const QImage& image, int y) {
  Runs runs;
  int start = -1;
  for (int x = 0; x <= image.width(); ++x) {
    const bool opaque = x < image.width() && qAlpha(image.pixel(x, y)) >= 128;
    if (opaque && start < 0) start = x;
    if (!opaque && start >= 0) {
      runs.emplace_back(start, x);
      start = -1;
    }
  }
  return runs;
}

void PutLong(QByteArray& out, qint32 value) {
  char bytes[4];
  qToLittleEndian(value, bytes);
  out.append(bytes, 4);
}

}  // namespace

QByteArray RegionDataFromAlpha(const QImage& image) {
  struct Rect {
    int left, top, right, bottom;
  };
  std::vector<Rect> rects;
  Runs band;
  int bandTop = 0;
  auto flush = [&](int bottom) {
    for (auto [l, r] : band) rects.push_back({l, bandTop, r, bottom});
  };
  for (int y = 0; y < image.height(); ++y) {
    Runs runs = RowRuns(image, y);
    if (runs != band) {
      flush(y);
      band = std::move(runs);
      bandTop = y;
    }
  }
  flush(image.height());

  int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
  for (const Rect& r : rects) {
    left = std::min(left, r.left);
    top = std::min(top, r.top);
    right = std::max(right, r.right);
    bottom = std::max(bottom, r.bottom);
  }
  if (rects.empty()) left = top = right = bottom = 0;

  QByteArray out;
  PutLong(out, kHeaderSize);
  PutLong(out, kTypeRectangles);
  PutLong(out, static_cast<qint32>(rects.size()));
  PutLong(out, static_cast<qint32>(rects.size() * kRectSize));
  PutLong(out, left);
  PutLong(out, top);
  PutLong(out, right);
  PutLong(out, bottom);
  for (const Rect& r : rects) {
    PutLong(out, r.left);
    PutLong(out, r.top);
    PutLong(out, r.right);
    PutLong(out, r.bottom);
  }
  return out;
}

}  // namespace rq::skingen
