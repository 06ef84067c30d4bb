#include "lpc.h"

#include "qcelp_tables.h"

#include <cmath>

namespace pvconv {

std::array<double, kLpcOrder + 1> autocorrelation(const float* x, int n) {
    std::array<double, kLpcOrder + 1> r{};
    for (int k = 0; k <= kLpcOrder; ++k) {
        double s = 0.0;
        for (int i = k; i < n; ++i)
            s += static_cast<double>(x[i]) * x[i - k];
        r[k] = s;
    }
    return r;
}

bool levinson(const std::array<double, kLpcOrder + 1>& r, Lpc& out) {
    double a[kLpcOrder + 1] = {1.0};
    double err = r[0];
    if (!(err > 0.0))
        return false;
    for (int i = 1; i <= kLpcOrder; ++i) {
        double acc = r[i];
        for (int j = 1; j < i; ++j)
            acc += a[j] * r[i - j];
        const double k = -acc / err;
        if (!(std::fabs(k) < 1.0))
            return false;
        double tmp[kLpcOrder + 1];
        for (int j = 1; j < i; ++j)
            tmp[j] = a[j] + k * a[i - j];
        for (int j = 1; j < i; ++j)
            a[j] = tmp[j];
        a[i] = k;
        err *= 1.0 - k * k;
    }
    for (int i = 0; i < kLpcOrder; ++i)
        out[i] = static_cast<float>(a[i + 1]);
    return true;
}

namespace {

// Value at x = cos(w) of the symmetric order-10 polynomial f (taps 0..5 of
// the half it is built from), divided by e^{-j5w}: f5/2 + sum f[k] cos((5-k) w).
// Clenshaw's recurrence over Chebyshev polynomials keeps it cheap and stable.
double chebyshev(const double f[6], double x) {
    // c[m] multiplies T_m(x): c[5-k] = f[k] for k<5, c[0] = f[5]/2.
    const double c[6] = {f[5] * 0.5, f[4], f[3], f[2], f[1], f[0]};
    double b1 = 0.0, b2 = 0.0;
    for (int m = 5; m >= 1; --m) {
        const double b0 = 2.0 * x * b1 - b2 + c[m];
        b2 = b1;
        b1 = b0;
    }
    return x * b1 - b2 + c[0];
}

// Grid of x = cos(w) for the root scan, uniform in w over [0, pi].
// 160 steps of 0.02 rad: roots of one polynomial lie at least two LSP
// spacings apart, far more than a step.
constexpr int kGrid = 160;
struct CosGrid {
    double x[kGrid + 1];
    CosGrid() {
        for (int i = 0; i <= kGrid; ++i)
            x[i] = std::cos(kPi * i / kGrid);
    }
};

// Roots w in (0, pi) of the Chebyshev form: sign changes on the grid, refined
// by bisection in x (cos is monotonic there, so no cosine per step).
int findRoots(const double f[6], double* roots, int maxRoots) {
    static const CosGrid grid;
    int found = 0;
    double v0 = chebyshev(f, grid.x[0]);
    for (int i = 1; i <= kGrid && found < maxRoots; ++i) {
        const double v1 = chebyshev(f, grid.x[i]);
        if ((v0 <= 0.0 && v1 > 0.0) || (v0 >= 0.0 && v1 < 0.0)) {
            double lo = grid.x[i - 1], hi = grid.x[i], vlo = v0;
            for (int it = 0; it < 24; ++it) {
                const double mid = 0.5 * (lo + hi);
                const double vm = chebyshev(f, mid);
                if ((vm <= 0.0) == (vlo <= 0.0)) {
                    lo = mid;
                    vlo = vm;
                } else {
                    hi = mid;
                }
            }
            roots[found++] = std::acos(0.5 * (lo + hi));
        }
        v0 = v1;
    }
    return found;
}

} // namespace

bool lpcToLspf(const Lpc& a, Lspf& lspf) {
    // P(z) = A(z) + z^-11 A(1/z) has a root at z = -1 and holds the LSPs of
    // even index; Q(z) = A(z) - z^-11 A(1/z) has one at z = 1 and the odd ones.
    double ac[kLpcOrder + 2] = {1.0};
    for (int k = 1; k <= kLpcOrder; ++k)
        ac[k] = a[k - 1];
    ac[kLpcOrder + 1] = 0.0;
    double p[6], q[6];
    double prevP = 0.0, prevQ = 0.0;
    for (int k = 0; k <= 5; ++k) {
        const double pk = ac[k] + ac[kLpcOrder + 1 - k];
        const double qk = ac[k] - ac[kLpcOrder + 1 - k];
        p[k] = pk - prevP; // divide by (1 + z^-1)
        q[k] = qk + prevQ; // divide by (1 - z^-1)
        prevP = p[k];
        prevQ = q[k];
    }
    double rp[5], rq[5];
    if (findRoots(p, rp, 5) != 5 || findRoots(q, rq, 5) != 5)
        return false;
    for (int i = 0; i < 5; ++i) {
        lspf[2 * i] = static_cast<float>(rp[i] / kPi);
        lspf[2 * i + 1] = static_cast<float>(rq[i] / kPi);
    }
    for (int i = 1; i < kLpcOrder; ++i)
        if (!(lspf[i] > lspf[i - 1]))
            return false;
    return true;
}

Lpc lspfToLpc(const Lspf& lspf) {
    // Products of second-order sections give the symmetric halves P'(z), Q'(z).
    double p[kLpcOrder / 2 * 2 + 1] = {1.0}, q[kLpcOrder / 2 * 2 + 1] = {1.0};
    int len = 0;
    for (int i = 0; i < 5; ++i) {
        const double xp = std::cos(kPi * lspf[2 * i]);
        const double xq = std::cos(kPi * lspf[2 * i + 1]);
        len += 2;
        for (int k = len; k >= 2; --k) {
            p[k] += -2.0 * xp * p[k - 1] + p[k - 2];
            q[k] += -2.0 * xq * q[k - 1] + q[k - 2];
        }
        p[1] += -2.0 * xp * p[0];
        q[1] += -2.0 * xq * q[0];
    }
    Lpc a{};
    for (int k = 1; k <= kLpcOrder; ++k) {
        const double pk = p[k] + p[k - 1]; // times (1 + z^-1)
        const double qk = q[k] - q[k - 1]; // times (1 - z^-1)
        a[k - 1] = static_cast<float>(0.5 * (pk + qk));
    }
    return a;
}

Lpc decoderLpc(const Lspf& lspf) {
    Lpc a = lspfToLpc(lspf);
    double g = tables::kBandwidthExpansion;
    for (int k = 0; k < kLpcOrder; ++k) {
        a[k] = static_cast<float>(a[k] * g);
        g *= tables::kBandwidthExpansion;
    }
    return a;
}

Lpc weighted(const Lpc& a, float g) {
    Lpc out{};
    float gk = g;
    for (int k = 0; k < kLpcOrder; ++k) {
        out[k] = a[k] * gk;
        gk *= g;
    }
    return out;
}

} // namespace pvconv
