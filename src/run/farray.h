// Fixed-size arrays indexed from 1 in every dimension, first index varying
// fastest in storage, so that code reads like the formulas of the physics,
// with sections, particles and coordinates counted from 1: tmat(k, i, j) is
// element (i, j) of the matrix of section k, coord(i, 1) the x of particle
// i. Zero at construction.
#pragma once

#include <array>
#include <cstddef>

namespace bbtrack {

template <class T, int N1, int N2 = 1, int N3 = 1>
class FArray {
 public:
  static constexpr int kSize = N1 * N2 * N3;

  constexpr T& operator()(int i, int j = 1, int k = 1) {
    return a_[static_cast<std::size_t>((i - 1) + N1 * ((j - 1) + N2 * (k - 1)))];
  }
  constexpr const T& operator()(int i, int j = 1, int k = 1) const {
    return a_[static_cast<std::size_t>((i - 1) + N1 * ((j - 1) + N2 * (k - 1)))];
  }
  // Start of column j (all i contiguous): the structure-of-arrays view.
  T* column(int j, int k = 1) { return &(*this)(1, j, k); }
  const T* column(int j, int k = 1) const { return &(*this)(1, j, k); }
  T* data() { return a_.data(); }
  const T* data() const { return a_.data(); }
  void fill(const T& v) { a_.fill(v); }

 private:
  std::array<T, static_cast<std::size_t>(kSize)> a_{};
};

}  // namespace bbtrack
