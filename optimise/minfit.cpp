#include "optimise/minfit.h"

#include <cmath>
#include <cstdio>

namespace varnic {

namespace {

// sqrt(a^2 + b^2) scaled by the larger operand, so that neither square can
// overflow or underflow on its own.
double pythag(double a, double b) {
  double m, r;
  if (std::fabs(a) >= std::fabs(b)) {
    m = a;
    r = b;
  } else {
    m = b;
    r = a;
  }
  if (m == 0.0) return 0.0;
  double ratio = r / m;
  return std::fabs(m) * std::sqrt(1.0 + ratio * ratio);
}

}  // namespace

void minfit(int n, double eps, double tol, DirMatrix& ab, double q[]) {
  // The superdiagonal; the minimiser calls this once per sweep, so the work
  // vector is a fixed array rather than an allocation.
  std::array<double, MAX_DIM> e;
  double x = 0.0, g = 0.0, f, h, s;

  // Householder reduction to upper bidiagonal form.
  for (int i = 0; i < n; ++i) {
    e[i] = g;
    s = 0.0;
    for (int j = i; j < n; ++j) s += ab[j][i] * ab[j][i];
    if (s < tol) {
      g = 0.0;
    } else {
      f = ab[i][i];
      g = f >= 0.0 ? -std::sqrt(s) : std::sqrt(s);
      h = f * g - s;
      ab[i][i] = f - g;
      for (int j = i + 1; j < n; ++j) {
        f = 0.0;
        for (int k = i; k < n; ++k) f += ab[k][i] * ab[k][j];
        f /= h;
        for (int k = i; k < n; ++k) ab[k][j] += f * ab[k][i];
      }
    }
    q[i] = g;

    // tol > 0 makes the last row (empty sum) never form a transformation,
    // so ab[i][i + 1] is only touched inside the matrix.
    s = 0.0;
    for (int j = i + 1; j < n; ++j) s += ab[i][j] * ab[i][j];
    if (s < tol) {
      g = 0.0;
    } else {
      f = ab[i][i + 1];
      g = f >= 0.0 ? -std::sqrt(s) : std::sqrt(s);
      h = f * g - s;
      ab[i][i + 1] = f - g;
      for (int j = i + 1; j < n; ++j) e[j] = ab[i][j] / h;
      for (int j = i + 1; j < n; ++j) {
        s = 0.0;
        for (int k = i + 1; k < n; ++k) s += ab[j][k] * ab[i][k];
        for (int k = i + 1; k < n; ++k) ab[j][k] += s * e[k];
      }
    }
    double y = std::fabs(q[i]) + std::fabs(e[i]);
    if (y > x) x = y;
  }

  // Accumulate the right-hand transformations into ab.
  int l = n;
  for (int i = n - 1; i >= 0; --i) {
    if (g != 0.0) {
      h = ab[i][i + 1] * g;
      for (int j = l; j < n; ++j) ab[j][i] = ab[i][j] / h;
      for (int j = l; j < n; ++j) {
        s = 0.0;
        for (int k = l; k < n; ++k) s += ab[i][k] * ab[k][j];
        for (int k = l; k < n; ++k) ab[k][j] += s * ab[k][i];
      }
    }
    for (int j = l; j < n; ++j) {
      ab[i][j] = 0.0;
      ab[j][i] = 0.0;
    }
    ab[i][i] = 1.0;
    g = e[i];
    l = i;
  }

  // Diagonalise the bidiagonal form by implicitly shifted QR.
  eps *= x;
  for (int k = n - 1; k >= 0; --k) {
    int its = 0;
    for (;;) {
      if (++its > 30) {
        // Give up on this value: a zero superdiagonal makes the splitting
        // test below accept q[k] as it stands.
        e[k] = 0.0;
        std::fprintf(stderr, "\n+++ qr failed\n");
      }

      // e[0] is always 0, so the search stops by l = 0 and q[l - 1] is
      // never read at l = 0; the explicit l == 0 keeps that true even for an
      // eps that no |e| can pass.
      bool cancel = false;
      for (l = k; l >= 0; --l) {
        if (l == 0 || std::fabs(e[l]) <= eps) break;
        if (std::fabs(q[l - 1]) <= eps) {
          cancel = true;
          break;
        }
      }

      if (cancel) {
        // q[l - 1] is negligible: chase e[l] off the bidiagonal.
        double c = 0.0;
        s = 1.0;
        for (int i = l; i <= k; ++i) {
          f = s * e[i];
          e[i] *= c;
          if (std::fabs(f) <= eps) break;
          g = q[i];
          h = pythag(f, g);
          q[i] = h;
          if (h == 0.0) {
            g = 1.0;
            h = 1.0;
          }
          c = g / h;
          s = -f / h;
        }
      }

      double z = q[k];
      if (l == k) {
        if (z < 0.0) {
          q[k] = -z;
          for (int j = 0; j < n; ++j) ab[j][k] = -ab[j][k];
        }
        break;
      }

      // Shift from the trailing 2 x 2 block.
      x = q[l];
      double y = q[k - 1];
      g = e[k - 1];
      h = e[k];
      f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
      g = std::sqrt(f * f + 1.0);
      double w = f > 0.0 ? f + g : f - g;
      f = ((x - z) * (x + z) + h * (y / w - h)) / x;

      // One QR sweep over rows l..k.
      double c = 1.0;
      s = 1.0;
      for (int i = l + 1; i <= k; ++i) {
        g = e[i];
        y = q[i];
        h = s * g;
        g *= c;
        z = pythag(f, h);
        e[i - 1] = z;
        if (z == 0.0) {
          f = 1.0;
          z = 1.0;
        }
        c = f / z;
        s = h / z;
        f = x * c + g * s;
        g = -x * s + g * c;
        h = y * s;
        y *= c;
        for (int j = 0; j < n; ++j) {
          double a0 = ab[j][i - 1];
          double a1 = ab[j][i];
          ab[j][i - 1] = a0 * c + a1 * s;
          ab[j][i] = -a0 * s + a1 * c;
        }
        z = pythag(f, h);
        q[i - 1] = z;
        if (z == 0.0) {
          f = 1.0;
          z = 1.0;
        }
        c = f / z;
        s = h / z;
        f = c * g + s * y;
        x = -s * g + c * y;
      }
      e[l] = 0.0;
      e[k] = f;
      q[k] = x;
    }
  }
}

}  // namespace varnic
