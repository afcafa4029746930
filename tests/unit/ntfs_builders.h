// Small builders for NTFS structures in tests: each sets fields by name and
// gives the bytes, so a test changes exactly the field it is about.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tarnwick::testing {

inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct FileNameFields {
    std::uint64_t parent = 5;
    std::int64_t creation = 1, modification = 2, mftChange = 3, access = 4;
    std::int64_t allocated = 4096, data = 1234;
    std::uint8_t nameSpace = 1;
    std::u16string name = u"file.txt";
};

// The file-name structure as stored on disk.
inline std::vector<std::uint8_t> FileNameBytes(const FileNameFields& f) {
    std::vector<std::uint8_t> b(66 + 2 * f.name.size(), 0);
    Put64(b, 0, f.parent);
    Put64(b, 8, static_cast<std::uint64_t>(f.creation));
    Put64(b, 16, static_cast<std::uint64_t>(f.modification));
    Put64(b, 24, static_cast<std::uint64_t>(f.mftChange));
    Put64(b, 32, static_cast<std::uint64_t>(f.access));
    Put64(b, 40, static_cast<std::uint64_t>(f.allocated));
    Put64(b, 48, static_cast<std::uint64_t>(f.data));
    b[64] = static_cast<std::uint8_t>(f.name.size());
    b[65] = f.nameSpace;
    for (std::size_t i = 0; i < f.name.size(); ++i) Put16(b, 66 + 2 * i, f.name[i]);
    return b;
}

// A file record of `size` bytes with a valid update sequence, built from
// attributes appended in order.
class RecordBuilder {
public:
    explicit RecordBuilder(std::size_t size = 1024, std::uint16_t flags = 1, std::uint32_t number = 42)
        : bytes_(size, 0) {
        std::memcpy(bytes_.data(), "FILE", 4);
        Put16(bytes_, 4, 48);                                           // update sequence array
        Put16(bytes_, 6, static_cast<std::uint16_t>(size / 512 + 1));  // its words
        Put16(bytes_, 20, 56);                                          // first attribute
        Put16(bytes_, 22, flags);
        Put32(bytes_, 44, number);
        next_ = 56;
    }

    RecordBuilder& Base(std::uint64_t base) {
        Put64(bytes_, 32, base);
        return *this;
    }

    RecordBuilder& Sequence(std::uint16_t sequence) {
        Put16(bytes_, 16, sequence);
        return *this;
    }

    // Sets a field of the attribute added last, `at` bytes into it (the
    // sizes of a non-resident attribute, its flags).
    RecordBuilder& Field16(std::size_t at, std::uint16_t value) {
        Put16(bytes_, last_ + at, value);
        return *this;
    }
    RecordBuilder& Field64(std::size_t at, std::uint64_t value) {
        Put64(bytes_, last_ + at, value);
        return *this;
    }

    RecordBuilder& Resident(std::uint32_t type, const std::vector<std::uint8_t>& value) {
        last_ = next_;
        const std::size_t length = (24 + value.size() + 7) & ~std::size_t{7};
        Put32(bytes_, next_, type);
        Put32(bytes_, next_ + 4, static_cast<std::uint32_t>(length));
        Put16(bytes_, next_ + 16, static_cast<std::uint16_t>(value.size()));
        Put16(bytes_, next_ + 20, 24);
        if (!value.empty()) std::memcpy(bytes_.data() + next_ + 24, value.data(), value.size());
        next_ += length;
        return *this;
    }

    RecordBuilder& FileName(const FileNameFields& f) { return Resident(0x30, FileNameBytes(f)); }

    // A non-resident attribute with the given mapping pairs (end byte added)
    // and optional name.
    RecordBuilder& NonResident(std::uint32_t type, const std::vector<std::uint8_t>& pairs,
                               const std::u16string& name = u"", std::uint64_t startVcn = 0) {
        last_ = next_;
        const std::size_t nameAt = 64;
        const std::size_t pairsAt = (nameAt + 2 * name.size() + 7) & ~std::size_t{7};
        const std::size_t length = (pairsAt + pairs.size() + 1 + 7) & ~std::size_t{7};
        Put32(bytes_, next_, type);
        Put32(bytes_, next_ + 4, static_cast<std::uint32_t>(length));
        bytes_[next_ + 8] = 1;
        bytes_[next_ + 9] = static_cast<std::uint8_t>(name.size());
        Put16(bytes_, next_ + 10, static_cast<std::uint16_t>(nameAt));
        Put64(bytes_, next_ + 16, startVcn);
        Put16(bytes_, next_ + 32, static_cast<std::uint16_t>(pairsAt));
        for (std::size_t i = 0; i < name.size(); ++i) Put16(bytes_, next_ + nameAt + 2 * i, name[i]);
        std::memcpy(bytes_.data() + next_ + pairsAt, pairs.data(), pairs.size());
        next_ += length;
        return *this;
    }

    // The record as written to disk: end marker, then the last two bytes of
    // every stride moved into the update sequence array.
    std::vector<std::uint8_t> Bytes(std::uint16_t sequence = 0x0101) const {
        std::vector<std::uint8_t> out = bytes_;
        Put32(out, next_, 0xFFFFFFFF);
        const std::uint16_t usa = 48;
        Put16(out, usa, sequence);
        for (std::size_t k = 1; k <= out.size() / 512; ++k) {
            out[usa + 2 * k] = out[512 * k - 2];
            out[usa + 2 * k + 1] = out[512 * k - 1];
            Put16(out, 512 * k - 2, sequence);
        }
        return out;
    }

    std::size_t end() const { return next_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t next_;
    std::size_t last_ = 0;
};

}  // namespace tarnwick::testing
