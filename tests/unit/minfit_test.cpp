#include "optimise/minfit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace varnic {
namespace {

// The minimiser's own precision arguments.
constexpr double kEps = 1e-8;
constexpr double kTol = 1e-32;

std::unique_ptr<DirMatrix> zero_matrix() {
  auto m = std::make_unique<DirMatrix>();
  for (auto& row : *m) row.fill(0.0);
  return m;
}

std::unique_ptr<DirMatrix> from_rows(const std::vector<std::vector<double>>& rows) {
  auto m = zero_matrix();
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t j = 0; j < rows[i].size(); ++j) (*m)[i][j] = rows[i][j];
  return m;
}

struct SmallCase {
  const char* name;
  std::vector<std::vector<double>> a;
  std::vector<double> q;               // expected singular values, in order
  std::vector<std::vector<double>> v;  // expected result in ab
};

TEST(MinfitTest, KnownSmallMatrices) {
  const SmallCase cases[] = {
      {"zero 2x2", {{0, 0}, {0, 0}}, {0, 0}, {{1, 0}, {0, 1}}},
      {"zero 5x5",
       std::vector<std::vector<double>>(5, std::vector<double>(5, 0.0)),
       {0, 0, 0, 0, 0},
       {{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, 1, 0}, {0, 0, 0, 0, 1}}},
      // Each Householder step with a non-negative pivot puts -1 on the
      // diagonal; the convergence test then negates the column.
      {"identity", {{1, 0}, {0, 1}}, {1, 1}, {{-1, 0}, {0, -1}}},
      {"diag(3,-1)", {{3, 0}, {0, -1}}, {3, 1}, {{-1, 0}, {0, 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int n = static_cast<int>(c.a.size());
    auto ab = from_rows(c.a);
    double q[MAX_DIM];
    minfit(n, kEps, kTol, *ab, q);
    for (int i = 0; i < n; ++i) {
      EXPECT_DOUBLE_EQ(q[i], c.q[i]) << "q[" << i << "]";
      for (int j = 0; j < n; ++j) EXPECT_DOUBLE_EQ((*ab)[i][j], c.v[i][j]) << "ab[" << i << "][" << j << "]";
    }
  }
}

TEST(MinfitTest, SingularValuesComeBackUnsorted) {
  auto ab = from_rows({{1, 2}, {3, 4}});
  double q[MAX_DIM];
  minfit(2, kEps, kTol, *ab, q);
  // sqrt(15 -+ sqrt(221)), the singular values of [[1,2],[3,4]].
  EXPECT_NEAR(q[0], std::sqrt(15.0 - std::sqrt(221.0)), 1e-7);
  EXPECT_NEAR(q[1], std::sqrt(15.0 + std::sqrt(221.0)), 1e-7);
  EXPECT_NEAR(q[0], 0.366, 5e-4);
  EXPECT_NEAR(q[1], 5.465, 5e-4);
}

TEST(MinfitTest, LeavesEverythingOutsideTheBlockAlone) {
  auto ab = zero_matrix();
  for (auto& row : *ab) row.fill(7.0);
  const int n = 4;
  double q[MAX_DIM];
  std::fill(q, q + MAX_DIM, -2.0);
  minfit(n, kEps, kTol, *ab, q);
  for (int i = 0; i < MAX_DIM; ++i)
    for (int j = 0; j < MAX_DIM; ++j) {
      if (i < n && j < n) continue;
      ASSERT_EQ((*ab)[i][j], 7.0) << i << "," << j;
    }
  for (int i = n; i < MAX_DIM; ++i) EXPECT_EQ(q[i], -2.0);
  // All-sevens has rank 1: one singular value 4*7, the rest 0.
  std::vector<double> sorted(q, q + n);
  std::sort(sorted.begin(), sorted.end());
  EXPECT_NEAR(sorted[3], 28.0, 1e-6);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(sorted[i], 0.0, 1e-6);
}

struct RandomCase {
  int n;
  double eps;
  double tolerance;  // allowed departure, relative to the largest singular value
};

// A = U S V^T means V has orthonormal columns and the columns of A V are
// orthogonal with lengths q.
void check_decomposition(const DirMatrix& a, const DirMatrix& v, const double* q, int n, double tolerance) {
  double scale = 0.0;
  for (int k = 0; k < n; ++k) {
    EXPECT_GE(q[k], 0.0);
    scale = std::max(scale, q[k]);
  }
  std::vector<std::vector<double>> av(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < n; ++k)
      for (int j = 0; j < n; ++j) av[i][k] += a[i][j] * v[j][k];

  double worst_v = 0.0, worst_av = 0.0;
  for (int k = 0; k < n; ++k) {
    for (int l = 0; l < n; ++l) {
      double vv = 0.0, aa = 0.0;
      for (int i = 0; i < n; ++i) {
        vv += v[i][k] * v[i][l];
        aa += av[i][k] * av[i][l];
      }
      worst_v = std::max(worst_v, std::fabs(vv - (k == l ? 1.0 : 0.0)));
      // Inner products of A V: q[k]^2 on the diagonal, 0 elsewhere.
      double expected = k == l ? q[k] * q[k] : 0.0;
      worst_av = std::max(worst_av, std::fabs(aa - expected) / (scale * scale));
    }
  }
  EXPECT_LT(worst_v, tolerance) << "V^T V departs from the identity";
  EXPECT_LT(worst_av, tolerance) << "(AV)^T (AV) departs from diag(q^2)";

  // Sum of squares of the singular values = squared Frobenius norm of A.
  double fro = 0.0, qq = 0.0;
  for (int i = 0; i < n; ++i) {
    qq += q[i] * q[i];
    for (int j = 0; j < n; ++j) fro += a[i][j] * a[i][j];
  }
  EXPECT_NEAR(qq, fro, tolerance * fro);
}

TEST(MinfitTest, RandomMatricesDecomposeIntoOrthonormalDirections) {
  const RandomCase cases[] = {
      {2, kEps, 1e-7},   {3, kEps, 1e-7},   {5, kEps, 1e-7},    {10, kEps, 1e-7},
      {17, kEps, 1e-6},  {25, kEps, 1e-6},  {31, kEps, 1e-6},   {35, kEps, 1e-6},
      {10, 1e-15, 1e-12}, {31, 1e-15, 1e-12},
  };
  std::mt19937 gen(20240611u);
  std::uniform_real_distribution<double> entry(-1.0, 1.0);
  for (const auto& c : cases) {
    for (int rep = 0; rep < 5; ++rep) {
      SCOPED_TRACE("n=" + std::to_string(c.n) + " eps=" + std::to_string(c.eps) + " rep=" + std::to_string(rep));
      auto a = zero_matrix();
      for (int i = 0; i < c.n; ++i)
        for (int j = 0; j < c.n; ++j) (*a)[i][j] = entry(gen);
      auto ab = std::make_unique<DirMatrix>(*a);
      double q[MAX_DIM];
      minfit(c.n, c.eps, kTol, *ab, q);
      check_decomposition(*a, *ab, q, c.n, c.tolerance);
    }
  }
}

TEST(MinfitTest, BadlyScaledAndRankDeficientMatrices) {
  std::mt19937 gen(7u);
  std::uniform_real_distribution<double> entry(-1.0, 1.0);
  const int n = 8;
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    auto a = zero_matrix();
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        double r = entry(gen);
        if (kind == 0) r *= std::pow(10.0, -i);          // graded rows
        if (kind == 1) r *= 1e150;                       // huge entries
        if (kind == 2 && j >= 3) r = (*a)[i][j - 3] * 2;  // rank 3
        (*a)[i][j] = r;
      }
    auto ab = std::make_unique<DirMatrix>(*a);
    double q[MAX_DIM];
    minfit(n, kEps, kTol, *ab, q);
    check_decomposition(*a, *ab, q, n, 1e-7);
  }
}

TEST(MinfitTest, ReportsQrFailureAndStillFinishes) {
  // A not-a-number never passes the convergence tests, so every singular
  // value runs out of sweeps.
  auto ab = from_rows({{1, 2, 0}, {0, std::numeric_limits<double>::quiet_NaN(), 1}, {0, 0, 3}});
  double q[MAX_DIM];
  ::testing::internal::CaptureStderr();
  minfit(3, kEps, kTol, *ab, q);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("\n+++ qr failed\n"), std::string::npos);
  EXPECT_EQ(err.size() % std::string("\n+++ qr failed\n").size(), 0u);
}

TEST(MinfitTest, ConvergingMatricesPrintNothing) {
  auto ab = from_rows({{4, 1, 0}, {1, 3, 1}, {0, 1, 2}});
  double q[MAX_DIM];
  ::testing::internal::CaptureStderr();
  minfit(3, kEps, kTol, *ab, q);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace varnic
