#pragma once
// Vectors and matrices indexed over inclusive ranges that the caller chooses
// (1-based almost everywhere), zero-filled on creation. A matrix keeps its rows
// one after another in a single block, so row i+1 starts right after the last
// element of row i. Release is the destructor.

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace velmora {

// Ends the run with the kernels' three-line message and exit status 1
// (throws NumericError).
[[noreturn]] void fatal_numeric_error(const char* message);

template <class T>
class NumVector {
  public:
    NumVector() = default;
    // Elements nl..nh; an empty range (nh < nl) is allowed and holds nothing.
    NumVector(int nl, int nh) : nl_(nl), nh_(nh) {
        const std::ptrdiff_t count = nh >= nl ? std::ptrdiff_t{nh} - nl + 1 : 0;
        // One spare element ahead of nl, as the original layout had.
        data_.reset(new (std::nothrow) T[static_cast<size_t>(count + 1)]());
        if (!data_) {
            fatal_numeric_error(allocation_message());
        }
    }

    T& operator[](int i) noexcept { return data_[static_cast<size_t>(i - nl_ + 1)]; }
    const T& operator[](int i) const noexcept { return data_[static_cast<size_t>(i - nl_ + 1)]; }

    int lo() const noexcept { return nl_; }
    int hi() const noexcept { return nh_; }
    // Pointer to element lo().
    T* data() noexcept { return data_.get() + 1; }
    const T* data() const noexcept { return data_.get() + 1; }

  private:
    static const char* allocation_message();
    int nl_ = 1;
    int nh_ = 0;
    std::unique_ptr<T[]> data_;
};

template <>
inline const char* NumVector<double>::allocation_message() {
    return "allocation failure in dvector()";
}
template <>
inline const char* NumVector<int>::allocation_message() {
    return "allocation failure in ivector()";
}

template <class T>
class NumMatrix {
  public:
    NumMatrix() = default;
    // Rows nrl..nrh, columns ncl..nch.
    NumMatrix(int nrl, int nrh, int ncl, int nch) : nrl_(nrl), nrh_(nrh), ncl_(ncl), nch_(nch) {
        const std::ptrdiff_t rows = nrh >= nrl ? std::ptrdiff_t{nrh} - nrl + 1 : 0;
        const std::ptrdiff_t cols = nch >= ncl ? std::ptrdiff_t{nch} - ncl + 1 : 0;
        rows_.reset(new (std::nothrow) T*[static_cast<size_t>(rows + 1)]);
        if (!rows_) {
            fatal_numeric_error("allocation failure 1 in matrix()");
        }
        data_.reset(new (std::nothrow) T[static_cast<size_t>(rows * cols + 1)]());
        if (!data_) {
            fatal_numeric_error("allocation failure 2 in matrix()");
        }
        // rows_[r - nrl + 1] points so that [c] with c in ncl..nch lands in the block.
        for (std::ptrdiff_t r = 0; r < rows; ++r) {
            rows_[static_cast<size_t>(r + 1)] = data_.get() + 1 + r * cols - ncl;
        }
    }

    T* operator[](int i) noexcept { return rows_[static_cast<size_t>(i - nrl_ + 1)]; }
    const T* operator[](int i) const noexcept { return rows_[static_cast<size_t>(i - nrl_ + 1)]; }

    int row_lo() const noexcept { return nrl_; }
    int row_hi() const noexcept { return nrh_; }
    int col_lo() const noexcept { return ncl_; }
    int col_hi() const noexcept { return nch_; }
    // Pointer to element [row_lo()][col_lo()]; rows follow contiguously.
    T* data() noexcept { return data_.get() + 1; }
    const T* data() const noexcept { return data_.get() + 1; }

  private:
    int nrl_ = 1, nrh_ = 0, ncl_ = 1, nch_ = 0;
    std::unique_ptr<T*[]> rows_;
    std::unique_ptr<T[]> data_;
};

using dvector = NumVector<double>;
using ivector = NumVector<int>;
using double_matrix = NumMatrix<double>;
using int_matrix = NumMatrix<int>;

}  // namespace velmora
