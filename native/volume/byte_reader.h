// Bounds-checked little-endian reads over bytes taken from a volume. The
// error is sticky: the first read out of range fails the reader and every
// later read returns 0, so a parser checks ok() once where it may give up.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace tarnwick {

// True when [offset, offset + length) lies inside a buffer of `size` bytes,
// in a form that cannot overflow.
constexpr bool InBounds(std::size_t size, std::size_t offset, std::size_t length) {
    return offset <= size && length <= size - offset;
}

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }
    std::size_t size() const { return bytes_.size(); }
    std::span<const std::uint8_t> bytes() const { return bytes_; }

    std::uint8_t U8(std::size_t offset) { return static_cast<std::uint8_t>(Read(offset, 1)); }
    std::uint16_t U16(std::size_t offset) { return static_cast<std::uint16_t>(Read(offset, 2)); }
    std::uint32_t U32(std::size_t offset) { return static_cast<std::uint32_t>(Read(offset, 4)); }
    std::uint64_t U64(std::size_t offset) { return Read(offset, 8); }
    std::int8_t I8(std::size_t offset) { return static_cast<std::int8_t>(U8(offset)); }
    std::int16_t I16(std::size_t offset) { return static_cast<std::int16_t>(U16(offset)); }
    std::int64_t I64(std::size_t offset) { return static_cast<std::int64_t>(U64(offset)); }

    // An unsigned little-endian integer of `width` bytes (0 to 8).
    std::uint64_t UVar(std::size_t offset, std::size_t width) { return width > 8 ? Fail() : Read(offset, width); }

    // True when the bytes at `offset` equal `text` (without its terminator).
    template <std::size_t N>
    bool Matches(std::size_t offset, const char (&text)[N]) {
        if (!InBounds(bytes_.size(), offset, N - 1)) return Fail() != 0;
        return std::memcmp(bytes_.data() + offset, text, N - 1) == 0;
    }

private:
    std::uint64_t Fail() {
        ok_ = false;
        return 0;
    }

    // Volumes are little-endian and so is every host this library is built
    // for: a field is copied as it lies, which the compiler turns into one
    // load where the width is known.
    static_assert(std::endian::native == std::endian::little);
    std::uint64_t Read(std::size_t offset, std::size_t width) {
        if (!ok_ || !InBounds(bytes_.size(), offset, width)) return Fail();
        std::uint64_t value = 0;
        std::memcpy(&value, bytes_.data() + offset, width);
        return value;
    }

    std::span<const std::uint8_t> bytes_;
    bool ok_ = true;
};

// The fields of a structure of `Size` bytes at fixed offsets, checked to lie
// in the buffer once, where the structure is found: each field's offset is
// checked against `Size` when compiled, so reading it is one load. A reader
// whose bytes do not fit reads 0 everywhere, as ByteReader does after a
// failed read.
template <std::size_t Size>
class FixedReader {
public:
    FixedReader(std::span<const std::uint8_t> bytes, std::size_t offset)
        : at_(InBounds(bytes.size(), offset, Size) ? bytes.data() + offset : nullptr) {}

    bool ok() const { return at_ != nullptr; }

    template <std::size_t Offset>
    std::uint8_t U8() const { return Load<Offset, std::uint8_t>(); }
    template <std::size_t Offset>
    std::uint16_t U16() const { return Load<Offset, std::uint16_t>(); }
    template <std::size_t Offset>
    std::uint32_t U32() const { return Load<Offset, std::uint32_t>(); }
    template <std::size_t Offset>
    std::uint64_t U64() const { return Load<Offset, std::uint64_t>(); }
    template <std::size_t Offset>
    std::int64_t I64() const { return static_cast<std::int64_t>(U64<Offset>()); }

private:
    template <std::size_t Offset, typename T>
    T Load() const {
        static_assert(Offset + sizeof(T) <= Size, "a field beyond the bytes checked");
        T value = 0;
        if (at_ != nullptr) std::memcpy(&value, at_ + Offset, sizeof(T));
        return value;
    }

    const std::uint8_t* at_;
};

}  // namespace tarnwick
