// What both companion programs do at their command line: read the
// "--name VALUE" (or "--name=VALUE") options, and read and write whole files
// with a message that names the file when that fails.
#pragma once

#include <string>
#include <vector>

namespace companion {

struct Option {
  const char* name;         // "--data"
  std::string* value;       // receives the value
  bool* given = nullptr;    // set when the option appears (for empty values)
};

enum class Options { ok, help, refused };

// Reads argv into the options; "--help" or "-h" asks for help. On refusal,
// error says why.
Options ParseOptions(int argc, char** argv, const std::vector<Option>& options, std::string& error);

bool ReadFile(const std::string& path, std::string& text, std::string& error);
bool WriteFile(const std::string& path, const std::string& text, std::string& error);

}  // namespace companion
