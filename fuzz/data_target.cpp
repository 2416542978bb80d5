// The data-file reader with the tree linking and validation. An input is one
// byte for the number of states followed by the text of a data file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/settings.h"
#include "driver/tree.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  fuzz::setup();
  fuzz::fresh_model(fuzz::states_from(data[0]));
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  varnic::TraitTable traits;
  try {
    fuzz::read_data_text(text, traits);
  } catch (const fuzz::RunEnded& end) {
    // Errors in the file end with 1, fatal ones with 100 and one of their
    // messages; never anything else. The text in memory cannot fail to be
    // positioned or change between the two passes, so "error on data file"
    // is a fault of the reader.
    fuzz::expect_status(end.status, {1, 100});
    const std::string message = fuzz::program_errors();
    if (end.status == 1 && !message.empty()) fuzz::fail("status 1 with a message on standard error");
    if (end.status == 100 && message != "data file must begin with number of species and number of traits\n" &&
        message != "data file must specify at least one trait\n" &&
        message != "line too long in data file\n" && message != "colons not implemented for data file\n" &&
        message != "incorrect number of species in data file\n")
      fuzz::fail("status 100 with a message the data file cannot cause");
    if (fuzz::impossible_state_reported()) fuzz::fail("a guard against an impossible state spoke");
    return 0;
  }
  if (!fuzz::program_errors().empty()) fuzz::fail("a message on standard error without an end");
  fuzz::check_tree();
  // Every trait column may be selected later (testall); none may break it.
  for (int t = 0; t < varnic::ntraits; t++) varnic::UseTrait(t, traits);
  varnic::UseTrait(0, traits);
  fuzz::check_tree();
  if (fuzz::impossible_state_reported()) fuzz::fail("a guard against an impossible state spoke");
  return 0;
}
