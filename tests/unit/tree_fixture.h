// Small trees built by hand for the likelihood tests, random ones for the
// checks against a second computation, and that computation's P(t). A tree is given as a list of records,
// the root last (as the data-file reader leaves it); each record names its
// two descendants by index, or none for a terminal node.
#pragma once

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "driver/settings.h"
#include "driver/tree.h"
#include "model/transition.h"

namespace varnic::fixture {

constexpr int NONE = -1;

struct NodeShape {
  int child1 = NONE;  // NONE for a terminal node
  int child2 = NONE;
  double length = 0.0;
  int state = -1;  // observed state of a terminal node
};

inline NodeShape tip(int state, double length) { return {NONE, NONE, length, state}; }
inline NodeShape inner(int child1, int child2, double length) { return {child1, child2, length, -1}; }

// A fresh n-state model with branch-length scaling as given.
inline void use_model(int n, int scaling_on = 0) {
  reset_settings();
  num_states = n;
  num_params = n * n - n + 1;
  scaling = scaling_on;
}

// Replaces the process-wide tree by the one described; no fixed states.
inline void build_tree(const std::vector<NodeShape>& shape) {
  reset_tree();
  tree.resize(shape.size());
  nnodes = static_cast<int>(shape.size());
  for (int k = 0; k < nnodes; k++) {
    Node& node = tree[k];
    node.name = "n" + std::to_string(k);
    node.length = shape[k].length;
    node.state = shape[k].state;
    if (shape[k].child1 != NONE) {
      node.child1 = &tree[shape[k].child1];
      node.child2 = &tree[shape[k].child2];
      node.child1->parent = &node;
      node.child2->parent = &node;
    }
  }
  root = &tree[nnodes - 1];
  build_postorder();
}

// Puts sentinel in every L entry, so that a test can tell which records an
// evaluation wrote.
inline void mark_all_L(double sentinel) {
  for (Node& node : tree) node.L.fill(sentinel);
}

// A random binary tree: tips with random states, joined two at a time at
// random. Lengths are uniform on (0.05, 1.5); each internal branch is 0 with
// probability zero_internal, and each pair of siblings gets equal lengths
// with probability equal_siblings.
inline std::vector<NodeShape> random_tree(int tips, int n, std::mt19937_64& rng,
                                         double zero_internal = 0.0, double equal_siblings = 0.0) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  auto length = [&] { return 0.05 + 1.45 * unit(rng); };
  std::vector<NodeShape> shape;
  std::vector<int> open;
  for (int k = 0; k < tips; k++) {
    shape.push_back(tip(static_cast<int>(unit(rng) * n) % n, length()));
    open.push_back(k);
  }
  while (open.size() > 1) {
    const std::size_t a = static_cast<std::size_t>(unit(rng) * open.size()) % open.size();
    const int c1 = open[a];
    open.erase(open.begin() + static_cast<long>(a));
    const std::size_t b = static_cast<std::size_t>(unit(rng) * open.size()) % open.size();
    const int c2 = open[b];
    open.erase(open.begin() + static_cast<long>(b));
    // A zero length is never copied: two zero-length siblings in different
    // states would make the whole tree impossible.
    if (unit(rng) < equal_siblings && shape[c1].length > 0.0) shape[c2].length = shape[c1].length;
    const bool zero = unit(rng) < zero_internal;
    shape.push_back(inner(c1, c2, zero ? 0.0 : length()));
    open.push_back(static_cast<int>(shape.size()) - 1);
  }
  shape.back().length = 0.0;  // the root has no branch
  return shape;
}

// exp(Q·t) for the first n rows and columns of Q, by the Taylor series of
// Q·t/2^s (s chosen so that its row norm is at most 1/2) squared s times, in
// long double: a P(t) that owes nothing to the eigen-decomposition.
inline StateMatrix expm(const StateMatrix& Q, double t, int n) {
  long double a[MAX_STATES][MAX_STATES];
  long double norm = 0.0L;
  for (int i = 0; i < n; i++) {
    long double row = 0.0L;
    for (int j = 0; j < n; j++) {
      a[i][j] = static_cast<long double>(Q[i][j]) * t;
      row += std::fabs(a[i][j]);
    }
    if (row > norm) norm = row;
  }
  int squarings = 0;
  while (norm > 0.5L) {
    norm /= 2;
    squarings++;
  }
  const long double shrink = std::ldexp(1.0L, -squarings);
  long double sum[MAX_STATES][MAX_STATES], term[MAX_STATES][MAX_STATES], next[MAX_STATES][MAX_STATES];
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      a[i][j] *= shrink;
      sum[i][j] = term[i][j] = (i == j) ? 1.0L : 0.0L;
    }
  for (int k = 1; k <= 40; k++) {
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++) {
        long double s = 0.0L;
        for (int l = 0; l < n; l++) s += term[i][l] * a[l][j];
        next[i][j] = s / k;
      }
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++) {
        term[i][j] = next[i][j];
        sum[i][j] += term[i][j];
      }
  }
  for (int q = 0; q < squarings; q++) {
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++) {
        long double s = 0.0L;
        for (int l = 0; l < n; l++) s += sum[i][l] * sum[l][j];
        next[i][j] = s;
      }
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++) sum[i][j] = next[i][j];
  }
  StateMatrix P{};
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) P[i][j] = static_cast<double>(sum[i][j]);
  return P;
}

// The full parameter vector: the rates in parameter order, then "scale".
inline std::vector<double> params(std::vector<double> rates, double scale = 1.0) {
  rates.push_back(scale);
  return rates;
}

// Rates uniform on (0.05, 2).
inline std::vector<double> random_rates(int n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> rate(0.05, 2.0);
  std::vector<double> x;
  for (int k = 0; k < n * (n - 1); k++) x.push_back(rate(rng));
  return params(x);
}

// Rates of a reversible model, q_ij = s_ij·pi_j with s symmetric: Q is
// similar to a symmetric matrix, so its eigenvalues are real (never
// refused), yet Q itself is not symmetric.
inline std::vector<double> reversible_rates(int n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(0.05, 1.0);
  double pi[MAX_STATES], s[MAX_STATES][MAX_STATES];
  for (int i = 0; i < n; i++) pi[i] = unit(rng);
  for (int i = 0; i < n; i++)
    for (int j = i + 1; j < n; j++) s[i][j] = s[j][i] = 2.0 * unit(rng);
  std::vector<double> x;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++)
      if (j != i) x.push_back(s[i][j] * pi[j]);
  return params(x);
}

}  // namespace varnic::fixture
