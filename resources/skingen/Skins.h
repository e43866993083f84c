#pragma once
#include <QString>
#include <QStringList>

namespace rq::skingen {

// Paints every window background, button picture and window region into `dir`;
// returns the written files relative to `dir`.
QStringList WriteSkins(const QString& dir);

}  // namespace rq::skingen
