// Text<N>: a fixed-capacity short string of one length byte and an area of exactly N single-byte
// characters (Windows-1252). Assigning keeps the first N characters, sets the length byte and
// the leading characters, and leaves the rest of the area as it was: writers that copy a whole
// area see those leftover characters. The byte image is N + 1 bytes, length byte first.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rawdat {

template <std::size_t N>
class Text {
    static_assert(N >= 1 && N <= 255);

public:
    static constexpr std::size_t kCapacity = N;

    Text() = default;
    Text(std::string_view s) { assign(s); } // NOLINT: records are filled from literals

    Text& operator=(std::string_view s)
    {
        assign(s);
        return *this;
    }
    void assign(std::string_view s)
    {
        const std::size_t n = std::min(s.size(), N);
        std::copy_n(s.data(), n, area_.data());
        len_ = static_cast<std::uint8_t>(n);
    }
    // Sets the length byte alone, as the binary scan formats store it.
    void setLength(std::uint8_t len) { len_ = len; }

    std::size_t length() const { return len_ <= N ? len_ : N; }
    std::uint8_t lengthByte() const { return len_; }
    std::string str() const { return std::string(area_.data(), length()); }
    std::string_view view() const { return {area_.data(), length()}; }
    // The whole area, leftover characters included.
    std::string_view area() const { return {area_.data(), N}; }
    std::array<char, N>& areaBytes() { return area_; }
    const std::array<char, N>& areaBytes() const { return area_; }

    bool operator==(const Text&) const = default;

private:
    std::uint8_t len_ = 0;
    std::array<char, N> area_{};
};

} // namespace rawdat
