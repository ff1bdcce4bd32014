// Checked little-endian reading from a file image in memory, and building a file image to write.
// Every read checks the bytes that remain and fails with "Lecture au-delà de la fin de fichier",
// naming the file and the offset where the missing bytes begin: the end of the file, whatever
// offset the read that ran out started at.
#pragma once

#include "ulit_dat/real48.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace rawdat {

using Bytes = std::vector<std::uint8_t>;

class ByteReader {
public:
    ByteReader(const Bytes& bytes, std::string file) : p_(bytes.data()), size_(bytes.size()), file_(std::move(file)) {}
    ByteReader(const std::uint8_t* p, std::size_t size, std::string file) : p_(p), size_(size), file_(std::move(file)) {}

    std::size_t offset() const { return off_; }
    std::size_t size() const { return size_; }
    std::size_t remaining() const { return size_ - off_; }
    const std::string& file() const { return file_; }

    // Moves to an absolute offset; a seek beyond the end fails like a read there.
    void seek(std::size_t offset);
    void skip(std::size_t n) { need(n); off_ += n; }

    std::uint8_t u8() { need(1); return p_[off_++]; }
    std::int16_t i16() { return get<std::int16_t>(); }
    std::uint16_t u16() { return get<std::uint16_t>(); }
    std::int32_t i32() { return get<std::int32_t>(); }
    std::uint32_t u32() { return get<std::uint32_t>(); }
    float f32() { return get<float>(); }
    double f64() { return get<double>(); }
    Real48 real48()
    {
        need(6);
        Real48 r = Real48::fromBytes(p_ + off_);
        off_ += 6;
        return r;
    }
    std::string_view chars(std::size_t n)
    {
        need(n);
        std::string_view s(reinterpret_cast<const char*>(p_ + off_), n);
        off_ += n;
        return s;
    }
    // n bytes starting at the current offset, without moving.
    const std::uint8_t* peek(std::size_t n) { need(n); return p_ + off_; }

    [[noreturn]] void failEndOfFile() const;

private:
    void need(std::size_t n) const
    {
        if (n > size_ - off_)
            failEndOfFile();
    }
    template <class T>
    T get()
    {
        need(sizeof(T));
        T v;
        std::memcpy(&v, p_ + off_, sizeof(T)); // little-endian host
        off_ += sizeof(T);
        return v;
    }

    const std::uint8_t* p_;
    std::size_t size_;
    std::size_t off_ = 0;
    std::string file_;
};

class ByteWriter {
public:
    explicit ByteWriter(std::size_t reserve = 0) { b_.reserve(reserve); }
    std::size_t size() const { return b_.size(); }
    Bytes& bytes() { return b_; }
    Bytes take() { return std::move(b_); }

    void u8(std::uint8_t v) { b_.push_back(v); }
    void i16(std::int16_t v) { put(v); }
    void u16(std::uint16_t v) { put(v); }
    void i32(std::int32_t v) { put(v); }
    void u32(std::uint32_t v) { put(v); }
    void f32(float v) { put(v); }
    void f64(double v) { put(v); }
    void real48(const Real48& r) { b_.insert(b_.end(), r.bytes().begin(), r.bytes().end()); }
    void chars(std::string_view s) { b_.insert(b_.end(), s.begin(), s.end()); }
    void fill(std::size_t n, std::uint8_t v) { b_.insert(b_.end(), n, v); }
    // Overwrites bytes already written, at an absolute offset.
    template <class T>
    void putAt(std::size_t offset, T v)
    {
        std::memcpy(b_.data() + offset, &v, sizeof(T));
    }

private:
    template <class T>
    void put(T v)
    {
        const std::size_t at = b_.size();
        b_.resize(at + sizeof(T));
        std::memcpy(b_.data() + at, &v, sizeof(T));
    }
    Bytes b_;
};

} // namespace rawdat
