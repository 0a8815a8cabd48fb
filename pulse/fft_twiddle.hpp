#pragma once

// KISS FFT's twiddle factors, exp(-/+ 2 pi i k / n), taken from the exact
// unit circle instead of the C library's complex exp, so the transform
// gives the same bits on every platform (see exact_math.hpp). The copy of
// KISS FFT's header that the build makes calls this (cmake/kissfft.cmake).

#include <cstddef>

#include "pulse/exact_math.hpp"

template <typename Complex>
Complex tempoKissfftTwiddle(std::size_t k, std::size_t n, bool inverse) {
    const tempo::pulse::UnitPoint point = tempo::pulse::unitCircle(k, n);
    return Complex(point.cos, inverse ? point.sin : -point.sin);
}
