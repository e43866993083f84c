#include "app/Format.h"

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

}  // namespace rq::app
