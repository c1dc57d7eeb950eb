// Searches of a sorted array without a branch on the comparison.
//
// The kernel's sorted chunks are searched for addresses in no order (the
// targets of offsets, the holders of names): a branch per step would be
// mispredicted half the time, which costs more than the comparisons. Each
// step here picks its half with a conditional move instead.
#pragma once

#include <cstddef>

namespace kernel {

/// The position of the first of the `n` sorted values at `a` for which
/// `below(value)` is false; `n` when there is none. `below` must be true
/// for a beginning of the array and false for the rest.
template <typename T, typename Below>
size_t FirstNotBelow(const T *a, size_t n, Below below) {
  if (n == 0) return 0;
  const T *base = a;
  while (n > 1) {
    const size_t half = n / 2;
    base = below(base[half]) ? base + half : base;
    n -= half;
  }
  return static_cast<size_t>(base - a) + (below(*base) ? 1 : 0);
}

/// The position of the first of the `n` sorted values at `a` not below `v`.
template <typename T>
size_t LowerBound(const T *a, size_t n, T v) {
  return FirstNotBelow(a, n, [v](T x) { return x < v; });
}

/// The position of the first of the `n` sorted values at `a` above `v`.
template <typename T>
size_t UpperBound(const T *a, size_t n, T v) {
  return FirstNotBelow(a, n, [v](T x) { return !(v < x); });
}

}  // namespace kernel
