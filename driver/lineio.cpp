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
