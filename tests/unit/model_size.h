// Puts the process-wide model back to a fresh n-state model with every
// parameter free, for tests that need a clean parameter table.
#pragma once

#include "driver/settings.h"
#include "session/params.h"

inline void fresh_model(int n) {
  varnic::reset_settings();
  varnic::num_states = n;
  varnic::num_params = n * n - n + 1;
  varnic::build_pnames();
  varnic::reset_params();
}
