// rq_fake_hwmon <root> desktop|laptop|amd: one of the fake sensor trees, for the end-to-end tests.
#include "support/FakeHwmon.h"

int main(int argc, char** argv) {
  if (argc == 3) rq::test::WriteTree(argv[1], rq::test::HwmonFile(std::string(argv[2]) + ".tree"));
  return argc == 3 ? 0 : 2;
}
