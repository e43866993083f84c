// Makes the program's look at build time: skin pictures, their window regions, the
// button pictures, the resource list that compiles them in, and the animations.
//   rq_skingen <resource-dir> <program-dir>
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>
#include <cstdio>
#include <exception>

#include "Animations.h"
#include "Skins.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <resource-dir> <program-dir>\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QString resources = QString::fromLocal8Bit(argv[1]);
  try {
    const QStringList files = rq::skingen::WriteSkins(resources);
    QFile qrc(resources + "/skins.qrc");
    if (!qrc.open(QIODevice::WriteOnly | QIODevice::Truncate))
      throw std::runtime_error("cannot write skins.qrc");
    QTextStream out(&qrc);
    out << "<RCC>\n  <qresource prefix=\"/\">\n";
    for (const QString& file : files) out << "    <file>" << file << "</file>\n";
    out << "  </qresource>\n</RCC>\n";
    rq::skingen::WriteAnimations(QString::fromLocal8Bit(argv[2]));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rq_skingen: %s\n", e.what());
    return 1;
  }
  return 0;
}
