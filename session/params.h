// The parameter table: where every parameter's value comes from at an
// evaluation (a free variable of the search, or a fixed value slot), the
// user's restriction record with its saved copy, and the flag `tested`.
#pragma once

#include <array>
#include <cstdio>
#include <vector>

#include "driver/settings.h"

namespace varnic {

extern std::array<double, MAX_PARAMS + 1> xvec;      // full parameter vector
extern std::array<int, MAX_PARAMS + 1> remap;        // >= 0 free variable; < 0 slot -remap-1
extern std::array<double, MAX_PARAMS + 1> fixvec;    // fixed values per slot
extern int nfix;                                     // slots in use
extern std::array<double, MAX_PARAMS + 1> startvec;  // start values from the control file
extern std::array<int, MAX_PARAMS + 1> startflag;

// Restriction record: what the user last asked for each parameter (-1.0 and
// -1 for nothing). Empty vectors: the record does not exist yet.
extern std::vector<double> fixed_val;
extern std::vector<int> tie;
extern std::vector<double> saved_fixed_val;
extern std::vector<int> saved_tie;

// 1 while the stored results of the last analysis belong to the current model.
extern int tested;

// Every parameter free on its own variable, no start values (start-up).
void init_param_table();

// The parameters an analysis uses: all rates, and "scale" while scaling is on.
int counted_params();
// One more than the largest remap among the counted parameters.
int free_variable_count();

void UpdateRestrictState(int param, int other, double value);
int Restrict(int param, int other, double value, int from_control_file, int line, const char* file);
int Clear(int param);
void ClearQij();
void ClearScale();
void ClearAll();
void SaveRestrictState();
void AddSavedRestrictions();
void WriteRestrictions(std::FILE* stream);
void Param_Status(std::FILE* stream);

// Back to the state at process start, records included (for the unit tests).
void reset_params();

}  // namespace varnic
