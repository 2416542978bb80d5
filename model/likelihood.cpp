// Calc_Like12, the objective of every search, and AddLog.
//
// The pruning walk visits the internal nodes in the order of `postorder`
// (children before their ancestor, the child1 subtree first, the root last):
// the order of the walk that follows child1 links down and climbs back up,
// without its pointer chasing. Nothing is allocated during an evaluation: the
// two transition matrices live on the stack and the decomposition in the
// workspace of model/transition.cpp.

#include <cmath>
#include <cstddef>

#include "driver/settings.h"
#include "driver/tree.h"
#include "model/likelihood.h"
#include "model/transition.h"

namespace varnic {

namespace {

// In L: the state is impossible. In a running log-sum: no term yet.
constexpr double IMPOSSIBLE = 1.0;
// Largest total of the row-sum deviations of P(t) over the branches walked.
constexpr double DEVIATION_LIMIT = 1e-10;
// How far rounding may carry a probability below 0 or above 1, or a log of
// a probability above 0. On a zero-length branch P(t) is the identity up to
// rounding: off-diagonal entries come out as 0 or tiny values of either
// sign, diagonal ones a hair above 1. Taken as they stand, a log of 0 or of a
// negative number poisons the sums, and a log-probability a hair above 0
// reads as "impossible" (in L) or "no term yet" (in a running sum), so that a
// tree with zero-length branches could never be evaluated. A true P(t) lies
// in [0, 1], and a true log-sum over the states of a descendant is at most 0
// (the row sums of P(t) are 1); the evaluation already accepts rounding of
// this size in the row sums.
constexpr double ROUNDING_SLACK = DEVIATION_LIMIT;

// A log-sum that rounding carried just above 0 is probability 1.
double settle(double log_sum) {
  return (log_sum > 0.0 && log_sum <= ROUNDING_SLACK) ? 0.0 : log_sum;
}

void set_terminal(Node* t, int n) {
  for (int i = 0; i < n; i++) t->L[i] = IMPOSSIBLE;
  // A state outside 0..n-1 (a trait column that does not fit the tree)
  // leaves every state impossible instead of writing outside L.
  if (t->state >= 0 && t->state < n) t->L[t->state] = 0.0;
}

double branch_length(const Node* c, int scaled, double s) {
  return scaled ? std::pow(c->length, s) : c->length;
}

// log of the probability of the data below descendant c given the
// ancestor's state whose row of P(t) is p_row: the log-sum of
// log(p_row[j]) + c.L[j] over the states j admissible for c. A transition of
// probability 0 adds no term; IMPOSSIBLE when there is no term at all.
double descendant_term(const StateVector& p_row, const Node* c, int n) {
  int lo = 0, hi = n;
  if (c->fossil != NO_FOSSIL) {
    lo = c->fossil;
    hi = c->fossil + 1;
  }
  double sum = IMPOSSIBLE;
  for (int j = lo; j < hi; j++) {
    const double lj = c->L[j];
    if (lj > 0.0) continue;
    const double p = p_row[j];
    if (p <= 0.0 && p >= -ROUNDING_SLACK) continue;
    const double log_p = (p > 1.0 && p <= 1.0 + ROUNDING_SLACK) ? 0.0 : std::log(p);
    const double term = log_p + lj;
    // A NaN sum is replaced, not added to.
    sum = (sum <= 0.0) ? settle(AddLog(sum, term)) : term;
  }
  return sum;
}

// After a refusal at internal node v, gives every terminal node that the
// walk reached before v its L. Terminal descendants of v and of the nodes
// evaluated before v already have it; the others are the child1 terminals of
// the ancestors u of v whose child2 subtree holds v: the walk passes them
// before going down into u's child2 subtree.
void finish_terminals_reached(Node* v, int n) {
  for (Node* u = v; u->parent; u = u->parent) {
    Node* up = u->parent;
    if (up->child2 == u && !up->child1->child1) set_terminal(up->child1, n);
  }
}

}  // namespace

double Calc_Like12(const double* x) {
  if (!root) return PENALTY;  // no tree read yet
  const int n = num_states;
  const int scaled = scaling;
  const double s = scaled ? x[num_params - 1] : 1.0;

  StateMatrix Q, P1, P2;
  build_rate_matrix(x, Q);
  if (PreCalc(Q) != 0) {
    Calc_End();
    return PENALTY;
  }

  // A P(1.0) outside [0, 1] means rates the model cannot use. Rounding
  // alone puts the true zeros of models with rates fixed to 0 a hair below
  // 0 (and true ones a hair above 1): that is no reason to refuse them.
  Calc_P(P1, 1.0);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++)
      if (P1[i][j] < -ROUNDING_SLACK || P1[i][j] > 1.0 + ROUNDING_SLACK) {
        Calc_End();
        return PENALTY;
      }

  if (!root->child1) {
    set_terminal(root, n);
  } else {
    if (postorder.empty() || postorder.back() != root) build_postorder();
    double deviation = 0.0;
    const std::size_t count = postorder.size();
    for (std::size_t k = 0; k < count; k++) {
      Node* v = postorder[k];
      // The descendants of consecutive nodes lie far apart in a large tree;
      // fetching those of the node after next while this one computes saves
      // a third of the time of an evaluation on 100,000 tips.
      if (k + 2 < count) {
        const Node* ahead = postorder[k + 2];
        __builtin_prefetch(ahead->child1);
        __builtin_prefetch(ahead->child2);
        __builtin_prefetch(&ahead->child1->L);
        __builtin_prefetch(&ahead->child2->L);
      }
      Node* c1 = v->child1;
      Node* c2 = v->child2;
      if (!c1->child1) set_terminal(c1, n);
      if (!c2->child1) set_terminal(c2, n);

      deviation += Calc_P(P1, branch_length(c1, scaled, s));
      const StateMatrix* p2 = &P1;
      // Siblings of equal stored length share one P(t).
      if (c2->length != c1->length) {
        deviation += Calc_P(P2, branch_length(c2, scaled, s));
        p2 = &P2;
      }
      // The limit is on the total over every branch so far; NaN fails it.
      if (!(deviation <= DEVIATION_LIMIT)) {
        finish_terminals_reached(v, n);
        Calc_End();
        return PENALTY;
      }

      for (int i = 0; i < n; i++) {
        const double a = descendant_term(P1[i], c1, n);
        const double b = descendant_term((*p2)[i], c2, n);
        v->L[i] = (a > 0.0 || b > 0.0) ? IMPOSSIBLE : a + b;
        if (v->fossil != NO_FOSSIL && i != v->fossil) v->L[i] = 0.0;
      }
    }
  }
  Calc_End();

  // Every root state weighs 1: the likelihood is the plain sum over them.
  double f;
  if (root->fossil != NO_FOSSIL) {
    f = root->L[root->fossil];
  } else {
    f = IMPOSSIBLE;
    for (int g = 0; g < n; g++) {
      const double lg = root->L[g];
      if (lg > 0.0) continue;
      f = (f <= 0.0) ? settle(AddLog(f, lg)) : lg;
    }
  }
  if (!(f <= 0.0)) return PENALTY;
  return -f;
}

double AddLog(double a, double b) {
  const double h = (a - b) * 0.5;
  const double c = std::cosh(h);
  const double twice = c + c;
  // e^-|a-b| is below the resolution of the larger term long before c + c
  // overflows: the larger argument is the sum to the last bit. This is also
  // the case of one argument -inf (a probability 0).
  if (std::isinf(twice)) return a > b ? a : b;
  // Both -inf (or both +inf): h is NaN, the sum is that same infinity.
  if (a == b && std::isinf(a)) return a;
  return (std::log(twice) + a) - h;
}

}  // namespace varnic
