// Writes the Windows program's icon resource from the program's icon:
//   make_icon platform/win32/kwandor_upd.ico
#include <cstdio>
#include <fstream>

#include "platform/icon_xpm.h"
#include "tools/icon/ico_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icon FILE.ico\n");
    return 2;
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out << kw::IcoFromXpm(kw::kIconXpm);
  if (!out.flush()) {
    std::fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
