// Arrays indexed from 1, as every count, angle and knot array of the formats is numbered.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>

namespace rawdat {

template <class T, int N>
class OneBased {
    static_assert(N >= 1);

public:
    static constexpr int kFirst = 1;
    static constexpr int kLast = N;
    static constexpr int kCapacity = N;

    T& operator[](int i)
    {
        assert(i >= 1 && i <= N);
        return v_[static_cast<std::size_t>(i - 1)];
    }
    const T& operator[](int i) const
    {
        assert(i >= 1 && i <= N);
        return v_[static_cast<std::size_t>(i - 1)];
    }
    // Entry 1 as a plain pointer, for loops that run over 1..n.
    T* first() { return v_.data(); }
    const T* first() const { return v_.data(); }
    void fill(const T& x) { v_.fill(x); }
    bool operator==(const OneBased&) const = default;

private:
    std::array<T, N> v_{};
};

} // namespace rawdat
