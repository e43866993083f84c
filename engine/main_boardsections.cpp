// rq_boardsections FILE: writes the board sections the program ships, as a new
// state folder's settings start, for the installed copy users can read.
#include <cstdio>
#include <fstream>

#include "engine/StateFolder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: rq_boardsections FILE\n", stderr);
    return 2;
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out << rq::engine::SeedSettingsText();
  out.close();
  if (!out) {
    std::fprintf(stderr, "rq_boardsections: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
