#pragma once

#include <array>

namespace pvconv {

inline constexpr int kLpcOrder = 10;
// M_PI is not standard C++ (MSVC hides it).
inline constexpr double kPi = 3.14159265358979323846;

// Coefficients a[0..9] of A(z) = 1 + sum a[k-1] z^-k; the synthesis filter is 1/A(z).
using Lpc = std::array<float, kLpcOrder>;
// LSP frequencies as fractions of the Nyquist frequency, ascending in (0, 1).
using Lspf = std::array<float, kLpcOrder>;

// Autocorrelation r[0..10] of x[0..n-1].
std::array<double, kLpcOrder + 1> autocorrelation(const float* x, int n);

// Levinson-Durbin recursion; returns false when r is not positive definite.
bool levinson(const std::array<double, kLpcOrder + 1>& r, Lpc& a);

// LPC to LSP frequencies; returns false when the roots cannot all be found,
// which happens only for a filter that is not minimum phase.
bool lpcToLspf(const Lpc& a, Lspf& lspf);

// LSP frequencies to LPC, as the decoder rebuilds them (without its bandwidth widening).
Lpc lspfToLpc(const Lspf& lspf);

// The decoder's LPC for given LSP frequencies: conversion plus bandwidth widening.
Lpc decoderLpc(const Lspf& lspf);

// a[k] * g^(k+1): moves the roots towards the origin (A(z/g)).
Lpc weighted(const Lpc& a, float g);

} // namespace pvconv
