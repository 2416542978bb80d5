#include "driver/fatal.h"
#include "driver/settings.h"
#include "driver/tree.h"
#include "model/likelihood.h"
#include "session/params.h"

namespace varnic {

void Fossil(int node, int state) {
  if (state < 0 || (state >= num_states && state != NO_FOSSIL))
    abt("internal error, fossil state out of range");
  if (node < 0 || node >= nnodes) abt("internal error, node to fossilize out of range");
  tree[node].fossil = state;
  tested = 0;
}

void NoFossils() {
  for (int k = 0; k < nnodes; k++) Fossil(k, NO_FOSSIL);
}

}  // namespace varnic
