// Line reads in the manner of fgets: at most max characters, stopping after
// a line feed. The program's readers all work on such bounded pieces.
#pragma once

#include <cstdio>
#include <string>

namespace varnic {

// Reads one piece into out (replacing its content). Returns false when the
// stream is at its end and nothing was read.
bool read_piece(std::FILE* stream, std::string& out, std::size_t max);

}  // namespace varnic
