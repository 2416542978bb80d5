#include "driver/settings.h"

#include <cstdio>

#include "driver/fatal.h"

namespace varnic {

int num_states = -1;
int num_params = -1;
std::vector<std::string> pname;

std::string infile;
int inflag = 0;
std::string outfile;
std::string ctlfile;
int outflag = 0;
int ntraits = 1;
int ndata = 0;

int scaling = 0;
double stepsize = 0.5;
double converge = 1e-7;
double rate = 0.25;
int number = 100;
int caution = 1;
int partial = 0;
int interactive = 0;

int set_num_states(int n) {
  if (num_states != -1) {
    std::printf("internal error: cannot re-set num_states");
    end_run(1);
  }
  if (n < 2 || n > MAX_STATES) {
    std::printf("error: number of states must be between 2 and %d inclusive\n", MAX_STATES);
    end_run(1);
  }
  num_states = n;
  num_params = n * n - n + 1;
  return n;
}

const char* itos(int n) {
  static char buf[16];
  std::snprintf(buf, sizeof buf, "%d", n);
  return buf;
}

void build_pnames() {
  pname.clear();
  for (int i = 0; i < num_states; i++) {
    for (int j = 0; j < num_states; j++) {
      if (j == i) continue;
      std::string name = "q";
      name += itos(i);
      name += itos(j);
      pname.push_back(name);
    }
  }
  pname.push_back("scale");
  pname.push_back("");
}

int param_index(const std::string& name) {
  for (std::size_t k = 0; k < pname.size(); k++)
    if (!pname[k].empty() && pname[k] == name) return static_cast<int>(k);
  return -1;
}

void reset_settings() {
  num_states = -1;
  num_params = -1;
  pname.clear();
  infile.clear();
  inflag = 0;
  outfile.clear();
  ctlfile.clear();
  outflag = 0;
  ntraits = 1;
  ndata = 0;
  scaling = 0;
  stepsize = 0.5;
  converge = 1e-7;
  rate = 0.25;
  number = 100;
  caution = 1;
  partial = 0;
  interactive = 0;
}

}  // namespace varnic
