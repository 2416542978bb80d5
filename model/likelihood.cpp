// Calc_Like12, the objective of every search, and AddLog.
//
// The pruning walk visits the internal nodes in the order of `postorder`
// (children before their ancestor, the child1 subtree first, the root last):
// the order of the walk that follows child1 links down and climbs back up,
// without its pointer chasing. Nothing is allocated during an evaluation: the
// transition matrices live on the stack, the decomposition in the workspace
// of model/transition.cpp, and what each node leaves for its ancestor
// (Shifted) in storage that is made when the tree grows and kept for the
// process.
//
// The sum over a descendant's states, log Σ_j P_ij·e^(L_j), is taken as
// log(Σ_j P_ij·u_j) + m, with m the largest L_j and u_j = e^(L_j − m), and
// the two descendants' sums share one log: L_i = log(A_i·B_i) + m1 + m2. A
// node whose L all came from such sums knows its own u as A_i·B_i divided
// by the largest of them, so that no exp is needed anywhere but in P(t).
// Whatever that arrangement cannot reproduce exactly falls back, for that
// sum alone, to the term-by-term sum (descendant_term, one log and one
// AddLog per term), which is also what Calc_Like12_reference uses
// throughout: a NaN among the L_j, an entry of P(t) outside [0, 1] by more
// than rounding, a sum above 1 by rounding (its log must be settled to 0),
// and a sum small enough (below SMALLEST_SUM) that terms may have been lost
// to underflow.

#include <cmath>
#include <cstddef>
#include <vector>

#include "driver/settings.h"
#include "driver/tree.h"
#include "model/likelihood.h"
#include "model/transition.h"

namespace varnic {

TermwiseCounts termwise_counts;

namespace {

// In L: the state is impossible. In a running log-sum: no term yet.
constexpr double IMPOSSIBLE = 1.0;
// Largest row-sum deviation of one P(t), and largest total over the walk of
// a tree of up to BRANCHES_AT_LIMIT branches. Rounding alone gives about
// 1e-16 (2 states) to 1e-15 (6 states) per P(t) for rates of one order of
// magnitude, and up to 1e-13 for rates spread over four, so that on 10^5
// branches and more a fixed total would refuse sound parameter vectors for
// the size of the tree alone. Beyond BRANCHES_AT_LIMIT branches the total
// may grow by DEVIATION_LIMIT / BRANCHES_AT_LIMIT (1e-13) per branch: a
// large tree is held to the average deviation per branch that a tree of
// 1000 branches is held to, and a smaller tree to the fixed total as
// before.
constexpr double DEVIATION_LIMIT = 1e-10;
constexpr long BRANCHES_AT_LIMIT = 1000;
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
// Shifted sums below this are taken term by term: exp(L_j − m) of a term far
// below the largest may have underflowed to 0, and the product of two sums
// must stay clear of underflow.
constexpr double SMALLEST_SUM = 1e-150;

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

void node_reference(Node* v, const StateMatrix& P1, const StateMatrix& P2, int n) {
  const Node* c1 = v->child1;
  const Node* c2 = v->child2;
  for (int i = 0; i < n; i++) {
    const double a = descendant_term(P1[i], c1, n);
    const double b = descendant_term(P2[i], c2, n);
    v->L[i] = (a > 0.0 || b > 0.0) ? IMPOSSIBLE : a + b;
    if (v->fossil != NO_FOSSIL && i != v->fossil) v->L[i] = 0.0;
  }
}

// P(t) as descendant_term reads it: entries that rounding put a hair below 0
// are 0 and a hair above 1 are 1. False when an entry lies further out (or
// is NaN): the log of such an entry is no probability, and only the
// term-by-term sum reproduces what it makes of it.
template <int N>
bool clamp_to_probabilities(const StateMatrix& P, StateMatrix& C, int runtime_n) {
  const int n = N ? N : runtime_n;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      const double p = P[i][j];
      if (p >= 0.0 && p <= 1.0) {
        C[i][j] = p;
      } else if (p < 0.0 && p >= -ROUNDING_SLACK) {
        C[i][j] = 0.0;
      } else if (p > 1.0 && p <= 1.0 + ROUNDING_SLACK) {
        C[i][j] = 1.0;
      } else {
        return false;
      }
    }
  return true;
}

// What the shifted sums need of one descendant: its admissible states'
// conditional likelihoods divided by the largest, and the log of that
// largest. Written by every internal node for its ancestor as soon as its L
// is known, so that the ancestor needs no exp.
struct alignas(64) Shifted {
  StateVector u;  // e^(L_j − shift); 0 for the states not admissible
  double shift;
  enum Kind {
    none,      // no admissible state: every sum is IMPOSSIBLE
    terminal,  // one admissible state, `state`, with L equal to `shift`
    shifted,   // u and shift as above
    termwise,  // a NaN among the admissible L_j: sums are taken term by term
  } kind;
  int state;
};

// Shifted of every internal node, by index in tree; made when the tree
// grows, kept for the process.
std::vector<Shifted> shifted_of;

// A terminal descendant: set_terminal left 0.0 at its state (when that lies
// in 0..n-1) and IMPOSSIBLE elsewhere.
void describe_terminal(const Node* c, int n, Shifted& d) {
  const int s = c->state;
  const bool admissible = s >= 0 && s < n && (c->fossil == NO_FOSSIL || c->fossil == s);
  d.kind = admissible ? Shifted::terminal : Shifted::none;
  d.state = s;
  d.shift = 0.0;
}

// Shifted of an internal node from its L, for the nodes whose L did not all
// come from shifted sums, and for fixed nodes.
template <int N>
void describe_from_L(const Node* c, int runtime_n, Shifted& d) {
  const int n = N ? N : runtime_n;
  int lo = 0, hi = n;
  if (c->fossil != NO_FOSSIL) {
    lo = c->fossil;
    hi = c->fossil + 1;
  }
  d.shift = 0.0;
  double m = -HUGE_VAL;
  bool any = false;
  for (int j = lo; j < hi; j++) {
    const double lj = c->L[j];
    if (lj > 0.0) continue;
    if (std::isnan(lj)) {
      d.kind = Shifted::termwise;
      return;
    }
    any = true;
    if (lj > m) m = lj;
  }
  if (!any) {
    d.kind = Shifted::none;
    return;
  }
  // Every admissible L_j is -inf: no shift makes them finite.
  if (!(m > -HUGE_VAL)) {
    d.kind = Shifted::termwise;
    return;
  }
  if (hi - lo == 1) {
    d.kind = Shifted::terminal;
    d.state = lo;
    d.shift = m;
    return;
  }
  for (int j = 0; j < n; j++) d.u[j] = 0.0;
  for (int j = lo; j < hi; j++) {
    const double lj = c->L[j];
    if (lj <= 0.0) d.u[j] = (lj == m) ? 1.0 : std::exp(lj - m);
  }
  d.kind = Shifted::shifted;
  d.shift = m;
}

bool has_sums(const Shifted& d) { return d.kind == Shifted::terminal || d.kind == Shifted::shifted; }

template <int N>
double shifted_sum(const Shifted& d, const StateVector& c_row, int runtime_n) {
  const int n = N ? N : runtime_n;
  if (d.kind == Shifted::terminal) return c_row[d.state];
  double a = 0.0;
  for (int j = 0; j < n; j++) a += c_row[j] * d.u[j];
  return a;
}

// The log-sum over descendant c's states for one state of the ancestor,
// given its shifted sum (when the kind has one).
double log_sum(const Shifted& d, double sum, const StateVector& p_row, const Node* c, int n) {
  if (d.kind == Shifted::none) return IMPOSSIBLE;
  if (d.kind == Shifted::termwise || !(sum >= SMALLEST_SUM)) {
    termwise_counts.sums++;
    return descendant_term(p_row, c, n);
  }
  return settle(std::log(sum) + d.shift);
}

// The number of states is a template argument (0: the run-time n) so that
// the loops over states unroll.
template <int N>
void node_shifted(Node* v, const StateMatrix& P1, const StateMatrix& P2, int runtime_n) {
  const int n = N ? N : runtime_n;
  Shifted& mine = shifted_of[node_index(v)];
  StateMatrix C1, C2;
  const bool shared = &P1 == &P2;
  if (!clamp_to_probabilities<N>(P1, C1, n) || (!shared && !clamp_to_probabilities<N>(P2, C2, n))) {
    termwise_counts.nodes++;
    node_reference(v, P1, P2, n);
    describe_from_L<N>(v, n, mine);
    return;
  }
  const StateMatrix& D2 = shared ? C1 : C2;
  const Node* c1 = v->child1;
  const Node* c2 = v->child2;
  Shifted t1, t2;
  const Shifted* d1 = &t1;
  const Shifted* d2 = &t2;
  if (c1->child1) d1 = &shifted_of[node_index(c1)]; else describe_terminal(c1, n, t1);
  if (c2->child1) d2 = &shifted_of[node_index(c2)]; else describe_terminal(c2, n, t2);
  const bool both_sums = has_sums(*d1) && has_sums(*d2);
  const double shift = d1->shift + d2->shift;

  // A fixed node: only its state is read by the ancestor; the others hold 0.0.
  int lo = 0, hi = n;
  if (v->fossil != NO_FOSSIL) {
    lo = v->fossil;
    hi = v->fossil + 1;
    for (int i = 0; i < n; i++)
      if (i != v->fossil) v->L[i] = 0.0;
  }
  double W[MAX_STATES];
  bool all_products = v->fossil == NO_FOSSIL;
  for (int i = lo; i < hi; i++) {
    double a = 0.0, b = 0.0;
    if (both_sums) {
      a = shifted_sum<N>(*d1, C1[i], n);
      b = shifted_sum<N>(*d2, D2[i], n);
      // Both sums at most 1 (else their logs need settling) and far from
      // underflow: one log for the two.
      if (a >= SMALLEST_SUM && a <= 1.0 && b >= SMALLEST_SUM && b <= 1.0) {
        W[i] = a * b;
        v->L[i] = std::log(W[i]) + shift;
        continue;
      }
    } else {
      if (has_sums(*d1)) a = shifted_sum<N>(*d1, C1[i], n);
      if (has_sums(*d2)) b = shifted_sum<N>(*d2, D2[i], n);
    }
    all_products = false;
    const double la = log_sum(*d1, a, P1[i], c1, n);
    const double lb = log_sum(*d2, b, P2[i], c2, n);
    v->L[i] = (la > 0.0 || lb > 0.0) ? IMPOSSIBLE : la + lb;
  }

  if (!all_products) {
    describe_from_L<N>(v, n, mine);
    return;
  }
  // e^(L_i − L_max) is W_i / W_max: no exp needed.
  int largest = 0;
  for (int i = 1; i < n; i++)
    if (W[i] > W[largest]) largest = i;
  const double scale = 1.0 / W[largest];
  for (int i = 0; i < n; i++) mine.u[i] = W[i] * scale;
  mine.u[largest] = 1.0;
  mine.shift = v->L[largest];
  mine.kind = Shifted::shifted;
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

using NodeStep = void (*)(Node*, const StateMatrix&, const StateMatrix&, int);

// Fetches v's Shifted (when there is one for it); only the address is
// computed, nothing read.
void prefetch_shifted(const Node* v) {
  const std::size_t k = static_cast<std::size_t>(node_index(v));
  if (k < shifted_of.size()) __builtin_prefetch(shifted_of.data() + k);
}

template <NodeStep step>
double evaluate(const double* x) {
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
    if (shifted_of.size() < tree.size()) shifted_of.resize(tree.size());
    double deviation = 0.0;
    const std::size_t count = postorder.size();
    for (std::size_t k = 0; k < count; k++) {
      Node* v = postorder[k];
      // Consecutive nodes and their descendants lie far apart in a large
      // tree, and waiting for memory would cost more than the arithmetic:
      // the record of the fourth node ahead is fetched now, and through its
      // links, fetched two nodes ago, the descendants of the second.
      if (k + 4 < count) {
        const Node* far = postorder[k + 4];
        __builtin_prefetch(far);
        __builtin_prefetch(&far->L[n - 1]);
        prefetch_shifted(far);
      }
      if (k + 2 < count) {
        const Node* ahead = postorder[k + 2];
        for (const Node* c : {ahead->child1, ahead->child2}) {
          __builtin_prefetch(c);
          __builtin_prefetch(&c->fossil);
          __builtin_prefetch(&c->L[n - 1]);
          prefetch_shifted(c);
        }
      }
      Node* c1 = v->child1;
      Node* c2 = v->child2;
      if (!c1->child1) set_terminal(c1, n);
      if (!c2->child1) set_terminal(c2, n);

      const double d1 = Calc_P(P1, branch_length(c1, scaled, s));
      double d2 = 0.0;
      const StateMatrix* p2 = &P1;
      // Siblings of equal stored length share one P(t).
      if (c2->length != c1->length) {
        d2 = Calc_P(P2, branch_length(c2, scaled, s));
        p2 = &P2;
      }
      deviation += d1 + d2;
      // NaN fails every comparison, and so is refused.
      if (!(deviation <= deviation_allowance(2 * static_cast<long>(k + 1))) ||
          !(d1 <= DEVIATION_LIMIT) || !(d2 <= DEVIATION_LIMIT)) {
        finish_terminals_reached(v, n);
        Calc_End();
        return PENALTY;
      }
      step(v, P1, *p2, n);
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

}  // namespace

double deviation_allowance(long branches) {
  if (branches <= BRANCHES_AT_LIMIT) return DEVIATION_LIMIT;
  return DEVIATION_LIMIT * (static_cast<double>(branches) / BRANCHES_AT_LIMIT);
}

double Calc_Like12(const double* x) {
  switch (num_states) {
    case 2: return evaluate<node_shifted<2>>(x);
    case 3: return evaluate<node_shifted<3>>(x);
    case 4: return evaluate<node_shifted<4>>(x);
    case 5: return evaluate<node_shifted<5>>(x);
    case 6: return evaluate<node_shifted<6>>(x);
    default: return evaluate<node_shifted<0>>(x);
  }
}

double Calc_Like12_reference(const double* x) { return evaluate<node_reference>(x); }

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
