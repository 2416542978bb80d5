#include "session/testall.h"

#include <cmath>

#include "driver/fatal.h"
#include "driver/lineio.h"
#include "model/likelihood.h"
#include "model/report.h"
#include "session/params.h"

namespace varnic {

LMat AllocLMat() {
  std::array<double, MAX_STATES> zeros{};
  return LMat(ntraits, std::vector<std::array<double, MAX_STATES>>(nnodes, zeros));
}

void FreeLmat(LMat& table) {
  LMat().swap(table);
}

double get_node_p0(double a, double b) { return std::exp(-a - AddLog(-a, -b)); }

namespace {

// The value written for a node: the probability of state 0 for an internal
// node, and 1 or 0 for a terminal node by its observed state.
double node_value(const LMat& table, int t, int k) {
  const Node& node = tree[k];
  if (node.child1) return get_node_p0(table[t][k][0], table[t][k][1]);
  return node.state == 0 ? 1.0 : 0.0;
}

// Parameter values of the unrestricted analysis of the trait in use.
struct Estimates {
  double q01, q10, scale;
};

void restrict_to(const Estimates& e) {
  if (Restrict(0, -1, e.q01, 0, 0, "<unknown>") != 0 || Restrict(1, -1, e.q10, 0, 0, "<unknown>") != 0 ||
      Restrict(2, -1, e.scale, 0, 0, "<unknown>") != 0)
    abt("internal error: failed restriction in TestAll");
}

void back_to_user_restrictions() {
  ClearQij();
  ClearScale();
  AddSavedRestrictions();
}

// The global and the local analysis with node m fixed to each state.
void test_node(std::FILE* results, int t, int m, const Estimates& e, LMat& global, LMat& local) {
  for (int s = 0; s < num_states; s++) {
    std::printf("\nTesting for node %s, state %d\n", tree[m].name.c_str(), s);
    Fossil(m, s);
    std::printf("\nUsing restricted parameters for 'global' approach\n\n");
    restrict_to(e);
    Test(results);
    global[t][m][s] = like;
    back_to_user_restrictions();
    std::printf("\nUsing unrestricted parameters for 'local' approach\n\n");
    Test(results);
    local[t][m][s] = like;
    Fossil(m, NO_FOSSIL);
  }
}

void test_trait(std::FILE* results, const TraitTable& traits, int t, LMat& global, LMat& local) {
  UseTrait(t, traits);
  NoFossils();
  back_to_user_restrictions();
  std::printf("\n\nTesting for trait %d\n", t);
  std::printf("\nGetting unrestricted parameters for global model\n\n");
  Test(results);
  const Estimates e{xdc[0], xdc[1], xdc[2]};
  for (int m = 0; m < nnodes; m++) {
    if (!tree[m].child1) {
      if (tree[m].child2) abt("error in tree structure");
      continue;
    }
    test_node(results, t, m, e, global, local);
  }
}

// Why trait column t cannot be analysed, or "" when it can.
std::string column_fault(const TraitTable& traits, int t) {
  for (int k = 0; k < nnodes; k++) {
    const Node& node = tree[k];
    const int value = traits[k][t];
    if (node.child1) {
      if (value >= 0) return "internal node " + node.name + " has data";
    } else if (value < 0) {
      return "terminal node " + node.name + " has no data";
    } else if (value > num_states - 1) {
      return "terminal node " + node.name + " has invalid data";
    }
  }
  return "";
}

}  // namespace

bool testall_can_run(const TraitTable& traits, const std::string& filename) {
  for (int t = 0; t < ntraits; t++) {
    const std::string fault = column_fault(traits, t);
    if (!fault.empty()) {
      std::printf("\n*** Error : trait %d does not fit the tree (%s); nothing was computed\n", t,
                  fault.c_str());
      return false;
    }
  }
  for (const std::string* input : {&outfile, &infile, &ctlfile}) {
    if (same_file(filename, *input)) {
      std::printf("\n*** Error : '%s' is the %s; choose another name for the probabilities\n",
                  filename.c_str(),
                  input == &outfile ? "results file" : input == &infile ? "data file" : "control file");
      return false;
    }
  }
  return true;
}

void testall_write(const LMat& global, const LMat& local, const TraitTable& traits, std::FILE* stream) {
  if (num_states != 2) abt("'testall' command only implemented for 2-state traits");
  for (int t = 0; t < ntraits; t++) {
    UseTrait(t, traits);
    std::fprintf(stream, "%d", t);
    for (const LMat* table : {&global, &local})
      for (int k = 0; k < nnodes; k++) std::fprintf(stream, "\t%g", node_value(*table, t, k));
    std::fprintf(stream, "\n");
  }
  std::fprintf(stream, "\n");
  std::fprintf(stream, "user_defined_restrictions\n");
  WriteRestrictions(stream);
}

void Testall(std::FILE* results, const TraitTable& traits, const std::string& filename) {
  if (num_states != 2) abt("'testall' command only implemented for 2-state traits");
  LMat local = AllocLMat();
  LMat global = AllocLMat();
  std::FILE* file = std::fopen(filename.c_str(), "w");
  if (!file) File_abt(filename, 1);

  std::fprintf(file, "trait");
  for (const char* suffix : {"_glob", "_loc"})
    for (int k = 0; k < nnodes; k++) std::fprintf(file, "\t%s%s", tree[k].name.c_str(), suffix);
  std::fprintf(file, "\n");

  SaveRestrictState();
  for (int t = 0; t < ntraits; t++) test_trait(results, traits, t, global, local);

  testall_write(global, local, traits, file);
  if (std::fclose(file) != 0) abt("error writing probabilities file");
  // Every analysis report of the procedure is in the results file now.
  std::fflush(results);
  std::printf("\nState 0 probabilities written to '%s', global model before local\n", filename.c_str());

  ClearAll();
  AddSavedRestrictions();
  std::printf("\nProbabilities were calculated with the following user-defined\n");
  std::printf("restrictions in force:\n\n");
  WriteRestrictions(stdout);
  UseTrait(0, traits);
  std::printf("\nWarning: user fossils are ignored by 'testall' and have been cleared\n");
  std::printf("Warning: using trait 0 until next 'testall' command\n");
  FreeLmat(local);
  FreeLmat(global);
}

}  // namespace varnic
