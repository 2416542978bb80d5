// The interactive command session: one command per line on standard input.
#pragma once

#include <cstdio>

#include "driver/tree.h"

namespace varnic {

// Command keywords in command-number order, closed by a null entry.
extern const char* const icommands[];

// Runs the command loop until the user confirms quit or standard input ends.
void IntSession(std::FILE* results, const TraitTable& traits);

}  // namespace varnic
