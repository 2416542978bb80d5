#include "session/params.h"

#include <algorithm>

#include "driver/fatal.h"

namespace varnic {

std::array<double, MAX_PARAMS + 1> xvec{};
std::array<int, MAX_PARAMS + 1> remap{};
std::array<double, MAX_PARAMS + 1> fixvec{};
int nfix = 0;
std::array<double, MAX_PARAMS + 1> startvec{};
std::array<int, MAX_PARAMS + 1> startflag{};

std::vector<double> fixed_val;
std::vector<int> tie;
std::vector<double> saved_fixed_val;
std::vector<int> saved_tie;

int tested = 0;

namespace {

constexpr double NO_VALUE = -1.0;
constexpr int NO_TIE = -1;

bool record_exists() { return !fixed_val.empty(); }

// Every parameter with label `from` takes `to`, and every free variable above
// `from` moves down one, closing the gap `from` leaves.
void relabel_and_close_gap(int from, int to) {
  for (int k = 0; k < num_params; k++) {
    if (remap[k] == from)
      remap[k] = to;
    else if (remap[k] > from)
      remap[k]--;
  }
}

// Slot `freed` is empty: the parameters of the top slot move into it.
void release_slot(int freed_label) {
  for (int k = 0; k < num_params; k++)
    if (remap[k] == -nfix) remap[k] = freed_label;
  fixvec[-freed_label - 1] = fixvec[nfix - 1];
  nfix--;
}

// Numbers the free variables 0.. in order of first occurrence again.
void renumber_free_variables() {
  const int P = num_params;
  std::array<bool, MAX_PARAMS + 4> marked{};
  int next = 0;
  for (int i = 0; i < P; i++) {
    if (remap[i] < 0) continue;
    if (remap[i] > next) {
      const int a = remap[i], b = next;
      for (int e = i; e < P; e++) {
        if (remap[e] == a)
          remap[e] = b;
        else if (remap[e] == b)
          remap[e] = a;
      }
    }
    if (!marked[remap[i]]) {
      marked[remap[i]] = true;
      next++;
    }
  }
}

}  // namespace

void init_param_table() {
  for (int k = 0; k < num_params; k++) {
    remap[k] = k;
    startflag[k] = 0;
  }
}

int counted_params() { return num_params - 1 + scaling; }

int free_variable_count() {
  int largest = -1;
  for (int k = 0; k < counted_params(); k++) largest = std::max(largest, remap[k]);
  return largest + 1;
}

void UpdateRestrictState(int param, int other, double value) {
  if (!record_exists()) {
    fixed_val.assign(num_params + 1, NO_VALUE);
    tie.assign(num_params + 1, NO_TIE);
  }
  if (value != NO_VALUE) {
    tie[param] = NO_TIE;
    fixed_val[param] = value;
  } else {
    fixed_val[param] = NO_VALUE;
    tie[param] = other;
  }
}

int Restrict(int param, int other, double value, int from_control_file, int line, const char* file) {
  if (other == -1 && value < 0) {
    if (from_control_file)
      std::printf("Error in argument to 'restrict' - line %d in '%s'\n", line, file);
    else
      std::printf("\n*** Error : you can only restrict to non-negative numbers\n");
    return 2;
  }
  // A request naming two parameters ties them; a number given as well is
  // ignored, so that the record says what the table does.
  if (other != -1) value = NO_VALUE;
  UpdateRestrictState(param, other, value);

  if (other == -1) {
    const int r = remap[param];
    if (r < 0) {
      fixvec[-r - 1] = value;
    } else {
      fixvec[nfix] = value;
      nfix++;
      relabel_and_close_gap(r, -nfix);
    }
    return 0;
  }

  const int a = remap[param], b = remap[other];
  if (a == b) return 0;
  const int low = std::min(a, b), high = std::max(a, b);
  if (high >= 0) {
    relabel_and_close_gap(high, low);
  } else {
    for (int k = 0; k < num_params; k++)
      if (remap[k] == high) remap[k] = low;
    release_slot(high);
  }
  return 0;
}

int Clear(int param) {
  const int P = num_params;
  if (record_exists()) {
    fixed_val[param] = NO_VALUE;
    tie[param] = NO_TIE;
  }
  const int r = remap[param];
  const int k = static_cast<int>(std::count(remap.begin(), remap.begin() + P, r));
  if (r >= 0 && k == 1) return 1;
  if (r >= 0) {
    for (int i = 0; i < P; i++)
      if (remap[i] == r) remap[i] = P + 2;
    remap[param] = P + 1;
  } else if (k == 1) {
    if (r == -nfix)
      nfix--;
    else
      release_slot(r);
    remap[param] = P + 1;
  } else {
    remap[param] = P + 1;
  }
  renumber_free_variables();
  tested = 0;
  return 0;
}

void ClearQij() {
  for (int k = 0; k < num_params - 1; k++) Clear(k);
}

void ClearScale() { Clear(num_params - 1); }

void ClearAll() {
  ClearQij();
  ClearScale();
}

void SaveRestrictState() {
  const int P = num_params;
  if (saved_fixed_val.empty()) {
    saved_fixed_val.assign(P + 1, NO_VALUE);
    saved_tie.assign(P + 1, NO_TIE);
  }
  for (int k = 0; k <= P; k++) {
    saved_fixed_val[k] = record_exists() ? fixed_val[k] : NO_VALUE;
    saved_tie[k] = record_exists() ? tie[k] : NO_TIE;
  }
}

void AddSavedRestrictions() {
  if (saved_fixed_val.empty()) return;
  for (int k = 0; k <= num_params; k++) {
    // Copies: Clear and Restrict below change the live record, not the saved one.
    const double value = saved_fixed_val[k];
    const int other = saved_tie[k];
    if (value != NO_VALUE) {
      Clear(k);
      Restrict(k, -1, value, 0, 0, "<unknown>");
    }
    if (other != NO_TIE) {
      Clear(k);
      Restrict(k, other, NO_VALUE, 0, 0, "<unknown>");
    }
  }
}

void WriteRestrictions(std::FILE* stream) {
  const int P = num_params;
  bool any = false;
  if (record_exists())
    for (int k = 0; k < P; k++)
      if (fixed_val[k] != NO_VALUE || tie[k] != NO_TIE) any = true;
  if (any) std::fprintf(stream, "param\tequals\n");
  if (record_exists()) {
    for (int k = 0; k < P; k++) {
      if (fixed_val[k] != NO_VALUE && tie[k] != NO_TIE) abt("internal error: restrictions inconsistent");
      if (fixed_val[k] != NO_VALUE) std::fprintf(stream, "%s\t%g\n", pname[k].c_str(), fixed_val[k]);
      if (tie[k] != NO_TIE) std::fprintf(stream, "%s\t%s\n", pname[k].c_str(), pname[tie[k]].c_str());
    }
  }
  if (!any) std::fprintf(stream, "none\n");
  if (std::fflush(stream) != 0) abt("write error when writing restrictions");
}

namespace {

// Writes the counted parameters with the given label as "\n  a = b = c ";
// returns how many there were.
int write_group(std::FILE* stream, int label, bool only_if_tied) {
  const int C = counted_params();
  int members = 0;
  for (int k = 0; k < C; k++) members += remap[k] == label;
  if (members == 0 || (only_if_tied && members < 2)) return members;
  bool first = true;
  for (int k = 0; k < C; k++) {
    if (remap[k] != label) continue;
    std::fprintf(stream, first ? "\n  %s " : "= %s ", pname[k].c_str());
    first = false;
  }
  return members;
}

}  // namespace

void Param_Status(std::FILE* stream) {
  const int C = counted_params();
  const int K = free_variable_count();
  if (K == C) {
    std::fprintf(stream, "\nNo parameter restrictions\n");
    std::fflush(stream);
    return;
  }
  std::fprintf(stream, "\nParameter restrictions :");
  for (int v = 0; v < K; v++) write_group(stream, v, true);
  for (int s = 0; s < nfix; s++) {
    const int label = -s - 1;
    int members = 0;
    int only = -1;
    for (int k = 0; k < C; k++)
      if (remap[k] == label) {
        members++;
        only = k;
      }
    if (members == 1) {
      std::fprintf(stream, "\n  %s = %f", pname[only].c_str(), fixvec[s]);
    } else if (members > 1) {
      write_group(stream, label, true);
      std::fprintf(stream, "= %f", fixvec[s]);
    }
  }
  std::fprintf(stream, "\n");
  std::fflush(stream);
}

void reset_params() {
  xvec.fill(0.0);
  remap.fill(0);
  fixvec.fill(0.0);
  nfix = 0;
  startvec.fill(0.0);
  startflag.fill(0);
  fixed_val.clear();
  tie.clear();
  saved_fixed_val.clear();
  saved_tie.clear();
  tested = 0;
  init_param_table();
}

}  // namespace varnic
