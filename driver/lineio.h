// File helpers the readers share: bounded line reads in the manner of fgets
// (at most max characters, stopping after a line feed), and file identity.
#pragma once

#include <cstdio>
#include <string>

namespace varnic {

// Reads one piece into out (replacing its content). Returns false when the
// stream is at its end and nothing was read.
bool read_piece(std::FILE* stream, std::string& out, std::size_t max);

}  // namespace varnic

namespace varnic {

// True when both names exist and are the same file on disk.
bool same_file(const std::string& a, const std::string& b);

}  // namespace varnic
