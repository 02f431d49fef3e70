#pragma once
// A view of a matrix stored by columns with a leading dimension, indexed
// from 1 as the algorithms are written.
#include <cassert>
#include <cstdint>

namespace numeric {

template <class T>
class ColumnMatrix {
public:
    ColumnMatrix(T* data, int32_t ld) : data_(data), ld_(ld) {}
    T& operator()(int32_t i, int32_t j) const {
        assert(i >= 1 && i <= ld_ && j >= 1);
        return data_[static_cast<int64_t>(j - 1) * ld_ + (i - 1)];
    }
    T* column(int32_t j) const { return data_ + static_cast<int64_t>(j - 1) * ld_; }
    int32_t ld() const { return ld_; }
    T* data() const { return data_; }

private:
    T* data_;
    int32_t ld_;
};

}  // namespace numeric
