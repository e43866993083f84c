#pragma once
#include <QString>

namespace rq::skingen {

// Writes the three speed animations "01.avi", "02.avi" and "03.avi" into `dir`:
// a turbine and a band of chevrons that run faster and hotter from file to file.
void WriteAnimations(const QString& dir);

}  // namespace rq::skingen
