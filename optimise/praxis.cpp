#include "optimise/praxis.h"

#include <cmath>
#include <cstdlib>

namespace varnic {

int ktm = 1;
int illc = 0;

namespace prax {

PraxisObjective fun = nullptr;
double* x = nullptr;
int n = 0;
double fx = 0.0;

DirMatrix v{};
Vec d{}, y{}, z{}, q0{}, q1{};
double qf1 = 0.0, qd0 = 0.0, qd1 = 0.0, qa = 0.0, qb = 0.0, qc = 0.0;

double h = 0.0, t = 0.0, t2 = 0.0, ldt = 0.0, lds = 0.0, dmin = 0.0, dn = 0.0;
double sf = 0.0, sl = 0.0, s = 0.0, f1 = 0.0, df = 0.0;
int kt = 0, kl = 0, nl = 0;

double macheps = 0.0, small = 0.0, vsmall = 0.0, large = 0.0, vlarge = 0.0;
double m2 = 0.0, m4 = 0.0, ldfac = 0.0;

namespace {
// flin's trial point; a fixed array because every evaluation goes through it.
Vec trial{};

double norm_of_x() {
  double r = 0.0;
  for (int i = 0; i < n; ++i) r += x[i] * x[i];
  return std::sqrt(r);
}

void negate_column(int j) {
  for (int i = 0; i < n; ++i) v[i][j] = -v[i][j];
}
}  // namespace

double rndom() { return std::rand() % 16384 / 16384.0; }

double flin(double l, int j) {
  if (j != -1) {
    for (int i = 0; i < n; ++i) trial[i] = x[i] + l * v[i][j];
  } else {
    // The parabola through q0 at -qd0, x at 0 and q1 at qd1.
    qa = l * (l - qd1) / (qd0 * (qd0 + qd1));
    qb = (l + qd0) * (qd1 - l) / (qd0 * qd1);
    qc = l * (l + qd0) / (qd1 * (qd0 + qd1));
    for (int i = 0; i < n; ++i) trial[i] = qa * q0[i] + qb * x[i] + qc * q1[i];
  }
  return fun(trial.data(), n);
}

void min(int j, int nits, double& d2, double& x1, double f1, bool fk) {
  int k = 0;
  double xm = 0.0;
  double f0 = fx, fm = fx;
  bool dz = d2 < macheps;

  double r = norm_of_x();
  double e = m4 * std::sqrt(std::fabs(fx) / (dz ? dmin : d2) + r * ldt) + m2 * ldt;
  r = m4 * r + t;
  if (dz && e > r) e = r;
  if (e < small) e = small;
  if (e > 0.01 * h) e = 0.01 * h;

  if (fk && f1 <= fm) {
    xm = x1;
    fm = f1;
  }
  if (!fk || std::fabs(x1) < e) {
    x1 = x1 > 0.0 ? e : -e;
    f1 = flin(x1, j);
  }
  if (f1 <= fm) {
    xm = x1;
    fm = f1;
  }

  double x2, f2, d1;
  for (;;) {
    if (dz) {
      // Without a curvature estimate, a second point gives one.
      x2 = f0 < f1 ? -x1 : 2.0 * x1;
      f2 = flin(x2, j);
      if (f2 <= fm) {
        xm = x2;
        fm = f2;
      }
      d2 = (x2 * (f1 - f0) - x1 * (f2 - f0)) / (x1 * x2 * (x1 - x2));
    }
    d1 = (f1 - f0) / x1 - x1 * d2;
    dz = true;

    if (d2 <= small)
      x2 = d1 < 0.0 ? h : -h;
    else
      x2 = -0.5 * d1 / d2;
    if (std::fabs(x2) > h) x2 = x2 > 0.0 ? h : -h;

    bool retry_with_new_point = false;
    for (;;) {
      f2 = flin(x2, j);
      if (k < nits && f2 > f0) {
        ++k;
        if (f0 < f1 && x1 * x2 > 0.0) {
          retry_with_new_point = true;
          break;
        }
        x2 *= 0.5;
        continue;
      }
      break;
    }
    if (!retry_with_new_point) break;
  }

  ++nl;
  if (f2 > fm)
    x2 = xm;
  else
    fm = f2;

  if (std::fabs(x2 * (x2 - x1)) > small)
    d2 = (x2 * (f1 - f0) - x1 * (fm - f0)) / (x1 * x2 * (x1 - x2));
  else if (k > 0)
    d2 = 0.0;
  if (d2 <= small) d2 = small;

  x1 = x2;
  fx = fm;
  if (j != -1)
    for (int i = 0; i < n; ++i) x[i] += x1 * v[i][j];
}

void quad() {
  double tmp = fx;
  fx = qf1;
  qf1 = tmp;
  qd1 = 0.0;
  for (int i = 0; i < n; ++i) {
    double xi = x[i];
    double l = q1[i];
    x[i] = l;
    q1[i] = xi;
    qd1 += (xi - l) * (xi - l);
  }
  qd1 = std::sqrt(qd1);
  double l = qd1;
  s = 0.0;
  if (qd0 > 0.0 && qd1 > 0.0 && nl >= 3 * n * n) {
    min(-1, 2, s, l, qf1, true);
    qa = l * (l - qd1) / (qd0 * (qd0 + qd1));
    qb = (l + qd0) * (qd1 - l) / (qd0 * qd1);
    qc = l * (l + qd0) / (qd1 * (qd0 + qd1));
  } else {
    fx = qf1;
    qa = 0.0;
    qb = 0.0;
    qc = 1.0;
  }
  qd0 = qd1;
  for (int i = 0; i < n; ++i) {
    double old_q0 = q0[i];
    q0[i] = x[i];
    x[i] = qa * old_q0 + qb * x[i] + qc * q1[i];
  }
}

void sort() {
  for (int i = 0; i < n - 1; ++i) {
    int k = i;
    double largest = d[i];
    for (int j = i + 1; j < n; ++j) {
      if (d[j] > largest) {
        k = j;
        largest = d[j];
      }
    }
    if (k > i) {
      d[k] = d[i];
      d[i] = largest;
      for (int j = 0; j < n; ++j) {
        double tmp = v[j][i];
        v[j][i] = v[j][k];
        v[j][k] = tmp;
      }
    }
  }
}

void enter(PraxisObjective f, double* point, int nvars) {
  macheps = 1e-8;
  h = step;
  t = tol;
  fun = f;
  x = point;
  n = nvars;

  small = macheps * macheps;
  vsmall = small * small;
  large = 1.0 / small;
  vlarge = 1.0 / vsmall;
  m2 = std::sqrt(macheps);
  m4 = std::sqrt(m2);
  ldfac = illc ? 0.1 : 0.01;

  kt = 0;
  nl = 0;
  fx = fun(x, n);
  qf1 = fx;

  t2 = small + std::fabs(t);
  t = t2;
  dmin = small;
  if (h < 100.0 * t) h = 100.0 * t;
  ldt = h;

  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) v[i][j] = 0.0;
    v[i][i] = 1.0;
  }
  d[0] = 0.0;
  qd0 = 0.0;
  for (int i = 0; i < n; ++i) q1[i] = x[i];
}

}  // namespace prax

double praxis(PraxisObjective f, double* point, int nvars) {
  using namespace prax;
  enter(f, point, nvars);

  for (;;) {
    sf = d[0];
    d[0] = 0.0;
    s = 0.0;
    prax::min(0, 2, d[0], s, fx, false);
    if (s <= 0.0) negate_column(0);
    // A big change in the first curvature means the others are stale too.
    if (sf <= 0.9 * d[0] || 0.9 * sf >= d[0])
      for (int i = 1; i < n; ++i) d[i] = 0.0;

    for (int k = 1; k < n; ++k) {
      for (int i = 0; i < n; ++i) y[i] = x[i];
      sf = fx;
      if (kt > 0) illc = 1;

      for (;;) {
        kl = k;
        df = 0.0;
        if (illc) {
          // Random step to get off a resolution valley; taken whatever the
          // value there.
          for (int i = 0; i < n; ++i) {
            z[i] = (0.1 * ldt + t2 * std::pow(10.0, kt)) * (rndom() - 0.5);
            for (int j = 0; j < n; ++j) x[j] += z[i] * v[j][i];
          }
          fx = fun(x, n);
        }
        for (int k2 = k; k2 < n; ++k2) {
          sl = fx;
          s = 0.0;
          prax::min(k2, 2, d[k2], s, fx, false);
          double gain;
          if (illc) {
            double sz = s + z[k2];
            gain = d[k2] * sz * sz;
          } else {
            gain = sl - fx;
          }
          if (df < gain) {
            df = gain;
            kl = k2;
          }
        }
        if (!illc && df < std::fabs(100.0 * macheps * fx)) {
          // Progress is below the noise: treat the problem as
          // ill-conditioned and redo this step with a random start.
          illc = 1;
          continue;
        }
        break;
      }

      for (int k2 = 0; k2 < k; ++k2) {
        s = 0.0;
        prax::min(k2, 2, d[k2], s, fx, false);
      }

      // Back to the start of the step; y becomes the step's displacement.
      f1 = fx;
      fx = sf;
      lds = 0.0;
      for (int i = 0; i < n; ++i) {
        double start = y[i];
        y[i] = x[i] - start;
        x[i] = start;
        lds += y[i] * y[i];
      }
      lds = std::sqrt(lds);

      if (lds > small) {
        // The displacement replaces direction kl.
        for (int i = kl - 1; i >= k; --i) {
          for (int j = 0; j < n; ++j) v[j][i + 1] = v[j][i];
          d[i + 1] = d[i];
        }
        d[k] = 0.0;
        for (int i = 0; i < n; ++i) v[i][k] = y[i] / lds;
        prax::min(k, 4, d[k], lds, f1, true);
        if (lds <= 0.0) {
          lds = -lds;
          negate_column(k);
        }
      }

      ldt *= ldfac;
      if (ldt < lds) ldt = lds;
      t2 = m2 * norm_of_x() + t;
      kt = ldt > 0.5 * t2 ? 0 : kt + 1;
      if (kt > ktm) return fx;
    }

    quad();

    dn = 0.0;
    for (int i = 0; i < n; ++i) {
      d[i] = 1.0 / std::sqrt(d[i]);
      if (dn < d[i]) dn = d[i];
    }
    for (int j = 0; j < n; ++j) {
      double scale = d[j] / dn;
      for (int i = 0; i < n; ++i) v[i][j] *= scale;
    }

    // minfit works on rows; transposing makes its right singular vectors
    // the new directions.
    for (int i = 1; i < n; ++i)
      for (int j = 0; j < i; ++j) {
        double tmp = v[i][j];
        v[i][j] = v[j][i];
        v[j][i] = tmp;
      }
    minfit(n, macheps, vsmall, v, d.data());

    for (int i = 0; i < n; ++i) {
      s = dn * d[i];
      if (s > large)
        d[i] = vsmall;
      else if (s < small)
        d[i] = vlarge;
      else
        d[i] = std::pow(s, -2.0);
    }
    sort();
    dmin = d[n - 1];
    if (dmin < small) dmin = small;
    illc = m2 * d[0] > dmin;
  }
}

}  // namespace varnic
