#include "driver/lineio.h"

namespace varnic {

bool read_piece(std::FILE* stream, std::string& out, std::size_t max) {
  out.clear();
  while (out.size() < max) {
    int c = std::getc(stream);
    if (c == EOF) break;
    out.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !out.empty();
}

}  // namespace varnic

#include <sys/stat.h>

namespace varnic {

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace varnic
