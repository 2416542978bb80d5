// Trees for the benchmarks of bench/scale_bench.cpp: random trees of any
// size in the shape the data-file reader leaves, characters simulated on
// them, data files written from them, and the bare pruning loop that one
// likelihood evaluation is measured against.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "driver/settings.h"
#include "driver/tree.h"
#include "model/transition.h"

namespace varnic::bench {

inline void use_states(int n) {
  reset_settings();
  num_states = n;
  num_params = n * n - n + 1;
}

// A random binary tree with the given number of tips, tips first, then the
// internal nodes, the root last, named t1.. and n1.. . Tips take random
// states; branch lengths are uniform on (0.01, 0.5), except that one
// internal branch in twenty has length 0 (a polytomy resolved into binary
// splits).
inline void build_random_tree(int tips, int n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  reset_tree();
  std::vector<Node>().swap(tree);  // release what an earlier, larger tree held
  tree.resize(2 * static_cast<std::size_t>(tips) - 1);
  nnodes = static_cast<int>(tree.size());
  std::vector<int> open;
  open.reserve(tips);
  for (int k = 0; k < tips; k++) {
    tree[k].name = "t" + std::to_string(k + 1);
    tree[k].state = static_cast<int>(unit(rng) * n) % n;
    tree[k].length = 0.01 + 0.49 * unit(rng);
    open.push_back(k);
  }
  auto take = [&] {
    const std::size_t i = static_cast<std::size_t>(unit(rng) * open.size()) % open.size();
    const int node = open[i];
    open[i] = open.back();
    open.pop_back();
    return node;
  };
  for (int k = tips; k < nnodes; k++) {
    Node& v = tree[k];
    v.name = "n" + std::to_string(k - tips + 1);
    v.child1 = &tree[take()];
    v.child2 = &tree[take()];
    v.child1->parent = &v;
    v.child2->parent = &v;
    v.length = unit(rng) < 0.05 ? 0.0 : 0.01 + 0.49 * unit(rng);
    open.push_back(k);
  }
  root = &tree[nnodes - 1];
  root->length = 0.0;
  for (Node& v : tree) v.ancestor = v.parent ? v.parent->name : "";
  build_postorder();
}

// Rates of a reversible model (q_ij = s_ij·pi_j, s symmetric) with entries
// of s and pi uniform on (lo, hi): real eigenvalues, so that every
// evaluation runs the whole walk. The last entry is the exponent, 1.
inline std::vector<double> reversible_rates(int n, std::mt19937_64& rng, double lo = 0.1, double hi = 1.0) {
  std::uniform_real_distribution<double> unit(lo, hi);
  std::vector<double> pi(n);
  std::vector<std::vector<double>> s(n, std::vector<double>(n));
  for (int i = 0; i < n; i++) pi[i] = unit(rng);
  for (int i = 0; i < n; i++)
    for (int j = i + 1; j < n; j++) s[i][j] = s[j][i] = 2.0 * unit(rng);
  std::vector<double> x;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++)
      if (j != i) x.push_back(s[i][j] * pi[j]);
  x.push_back(1.0);
  return x;
}

// Replaces the tips' states by a character simulated down the tree under
// the rates x (whose decomposition must be usable), the root's state drawn
// uniformly. Returns false when the decomposition is refused.
inline bool simulate_character(const std::vector<double>& x, std::mt19937_64& rng) {
  const int n = num_states;
  StateMatrix Q{}, P{};
  build_rate_matrix(x.data(), Q);
  if (PreCalc(Q) != 0) {
    Calc_End();
    return false;
  }
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<int> at(tree.size(), 0);
  at[node_index(root)] = static_cast<int>(unit(rng) * n) % n;
  // The reverse of the post-order walk visits every ancestor before its
  // descendants.
  for (auto it = postorder.rbegin(); it != postorder.rend(); ++it) {
    const Node* v = *it;
    for (const Node* c : {v->child1, v->child2}) {
      Calc_P(P, c->length);
      const auto& row = P[at[node_index(v)]];
      double u = unit(rng), sum = 0.0;
      int j = 0;
      for (; j < n - 1; j++) {
        sum += std::max(row[j], 0.0);
        if (u < sum) break;
      }
      at[node_index(c)] = j;
    }
  }
  Calc_End();
  for (Node& v : tree) v.state = v.child1 ? -1 : at[node_index(&v)];
  return true;
}

// Writes the tree as a data file with one trait column, the node lines in
// a random order, and returns false when the file cannot be written.
inline bool write_data_file(const std::string& path, std::mt19937_64& rng) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  int tips = 0;
  for (const Node& v : tree) tips += v.child1 ? 0 : 1;
  std::fprintf(f, "%d 1\n", tips);
  std::vector<const Node*> lines;
  for (const Node& v : tree)
    if (&v != root) lines.push_back(&v);
  std::shuffle(lines.begin(), lines.end(), rng);
  for (const Node* v : lines) {
    const char* ancestor = v->parent == root ? "root" : v->parent->name.c_str();
    if (v->child1)
      std::fprintf(f, "%s %s %.6f\n", v->name.c_str(), ancestor, v->length);
    else
      std::fprintf(f, "%s %s %.6f %d\n", v->name.c_str(), ancestor, v->length, v->state);
  }
  return std::fclose(f) == 0;
}

// The tree in flat arrays, for the bare pruning loop: tips 0..tips-1,
// internal nodes tips.. in the order of `postorder`. Tips' conditional
// likelihoods are unit vectors, set once.
struct FlatTree {
  int n = 0, tips = 0;
  std::vector<int> child1, child2;     // per internal node, flat indices
  std::vector<double> length1, length2;
  std::vector<double> partial;         // n per node
};

inline FlatTree flatten(int n) {
  FlatTree f;
  f.n = n;
  std::vector<int> flat(tree.size(), -1);
  for (const Node& v : tree)
    if (!v.child1) flat[node_index(&v)] = f.tips++;
  for (std::size_t k = 0; k < postorder.size(); k++) flat[node_index(postorder[k])] = f.tips + static_cast<int>(k);
  for (const Node* v : postorder) {
    f.child1.push_back(flat[node_index(v->child1)]);
    f.child2.push_back(flat[node_index(v->child2)]);
    f.length1.push_back(v->child1->length);
    f.length2.push_back(v->child2->length);
  }
  f.partial.assign(static_cast<std::size_t>(f.tips + postorder.size()) * n, 0.0);
  for (const Node& v : tree)
    if (!v.child1) f.partial[static_cast<std::size_t>(flat[node_index(&v)]) * n + v.state] = 1.0;
  return f;
}

// P(t) = vec·diag(exp(t·val))·inv_vec, the sum of Calc_P without its
// row-sum deviation.
inline void bare_transition(double P[MAX_STATES][MAX_STATES], double t, int n) {
  double E[MAX_STATES];
  for (int k = 0; k < n; k++) E[k] = std::exp(t * val[k]);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      double p = 0.0;
      for (int k = 0; k < n; k++) p += vec[i][k] * E[k] * inv_vec[k][j];
      P[i][j] = p;
    }
}

// The yardstick: a bare pruning loop in probabilities, with the same
// decomposition per evaluation and one P(t) per branch, each node's vector
// scaled by its largest entry and the logs of the scales summed. No fixed
// states, no checks, nothing written to the node records. Returns the
// negative log-likelihood, the root states weighted 1 each.
inline double bare_pruning_loop(const double* x, FlatTree& f) {
  const int n = f.n;
  StateMatrix Q;
  build_rate_matrix(x, Q);
  if (PreCalc(Q) != 0) {
    Calc_End();
    return -1.0;
  }
  double P1[MAX_STATES][MAX_STATES], P2[MAX_STATES][MAX_STATES];
  double log_scale = 0.0;
  const std::size_t count = f.child1.size();
  double* out = nullptr;
  for (std::size_t k = 0; k < count; k++) {
    bare_transition(P1, f.length1[k], n);
    bare_transition(P2, f.length2[k], n);
    const double* a = &f.partial[static_cast<std::size_t>(f.child1[k]) * n];
    const double* b = &f.partial[static_cast<std::size_t>(f.child2[k]) * n];
    out = &f.partial[(f.tips + k) * n];
    double largest = 0.0;
    for (int i = 0; i < n; i++) {
      double s1 = 0.0, s2 = 0.0;
      for (int j = 0; j < n; j++) {
        s1 += P1[i][j] * a[j];
        s2 += P2[i][j] * b[j];
      }
      out[i] = s1 * s2;
      largest = std::max(largest, out[i]);
    }
    for (int i = 0; i < n; i++) out[i] /= largest;
    log_scale += std::log(largest);
  }
  Calc_End();
  double sum = 0.0;
  for (int i = 0; i < n; i++) sum += out[i];
  return -(log_scale + std::log(sum));
}

}  // namespace varnic::bench
