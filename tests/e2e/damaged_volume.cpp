#include "damaged_volume.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "ntfs/attribute.h"
#include "ntfs/file_name.h"
#include "ntfs/file_record.h"
#include "ntfs/index_buffer.h"
#include "tarnwick.h"
#include "../shared_images.h"

namespace tarnwick::e2e {

namespace {

namespace fs = std::filesystem;

constexpr char kDriveLetter = 'H';

fs::path WorkDir() {
    const fs::path dir = fs::path(TARNWICK_E2E_WORK_DIR);
    fs::create_directories(dir);
    return dir;
}

// Runs `command` writing `target` through a file of this process, renamed
// into place, so that tests running side by side never see half a file.
bool MakeOnce(const fs::path& target, const std::string& command) {
    if (fs::exists(target)) return true;
    const fs::path part = target.string() + ".part." + std::to_string(getpid());
    const std::string full = "set -e; rm -f '" + part.string() + "'; " + command + " '" + part.string() + "'";
    if (std::system(full.c_str()) != 0) {
        std::error_code ignored;
        fs::remove(part, ignored);
        return false;
    }
    fs::rename(part, target);
    return true;
}

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& bytes, std::int64_t offset, std::int64_t size) {
    if (offset < 0 || size < 0 || static_cast<std::uint64_t>(offset + size) > bytes.size()) return {};
    return {bytes.begin() + offset, bytes.begin() + offset + size};
}

std::uint64_t Little(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t width) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width && at + i < b.size(); ++i) v |= std::uint64_t{b[at + i]} << (8 * i);
    return v;
}

}  // namespace

std::optional<Volume> Volume::Shared(const std::string& relative) {
    const fs::path image = tarnwick::testdata::SharedImage(relative);
    if (image.empty()) return std::nullopt;
    return Mapped(fs::path(relative).filename().string(), image.string());
}

std::optional<Volume> Volume::Formatted(int megabytes, int clusterSize) {
    const std::string name = "mkntfs-" + std::to_string(megabytes) + "m-c" + std::to_string(clusterSize) + ".img";
    const fs::path image = WorkDir() / name;
    const std::string command = "m() { truncate -s " + std::to_string(megabytes) +
                                "M \"$1\" && mkntfs -q -F -Q -s 512 -S 0 -H 0 -p 0 -L damaged -c " +
                                std::to_string(clusterSize) + " \"$1\" >/dev/null 2>&1; }; m";
    if (std::system("command -v mkntfs >/dev/null 2>&1 || test -x /usr/sbin/mkntfs") != 0) return std::nullopt;
    if (!MakeOnce(image, "PATH=$PATH:/usr/sbin; " + command)) return std::nullopt;
    return Mapped(name, image.string());
}

const Volume* Volume::Named(const std::string& source) {
    static std::map<std::string, std::optional<Volume>> volumes;
    auto found = volumes.find(source);
    if (found == volumes.end()) {
        std::optional<Volume> v;
        if (source.rfind("mkntfs-", 0) == 0) {
            const auto dash = source.find('-', 7);
            v = Formatted(std::stoi(source.substr(7, dash - 7)), std::stoi(source.substr(dash + 1)));
        } else {
            v = Shared(source);
        }
        found = volumes.emplace(source, std::move(v)).first;
    }
    return found->second ? &*found->second : nullptr;
}

std::string ParamName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name;
    for (const char c : info.param) name.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
    return name;
}

std::optional<Volume> Volume::Mapped(const std::string& name, const std::string& path) {
    Volume v;
    v.name_ = name;
    v.path_ = path;
    if (!v.Map()) return std::nullopt;
    return v;
}

bool Volume::Map() {
    bytes_ = ReadFile(path_);
    const std::vector<std::uint8_t> boot = Slice(bytes_, 0, boot_sector::kSize);
    if (boot.empty() || ParseBootSector(boot, info_) != 0) return false;

    std::vector<std::uint8_t> first = Slice(bytes_, record0(), recordSize());
    FileRecordHeader header;
    RunList mftRuns;
    if (first.empty() || ParseEntry(ParseMode::MftData, first, header, mftRuns) != 0) return false;

    // The table as one stream across its runs, as the load reads it.
    std::uint32_t position = 0;
    MftRecord current;
    std::int64_t filled = 0;
    for (const RunEntry& run : mftRuns) {
        std::int64_t at = run.lcn * clusterSize();
        const std::int64_t end = at + static_cast<std::int64_t>(run.length) * clusterSize();
        while (at < end) {
            const std::int64_t take = std::min(recordSize() - filled, end - at);
            current.pieces.push_back({at, at + take});
            at += take;
            filled += take;
            if (filled == recordSize()) {
                current.position = position++;
                records_.push_back(current);
                current = MftRecord{};
                filled = 0;
            }
        }
    }

    for (const MftRecord& r : records_) {
        std::vector<std::uint8_t> bytes;
        for (const Extent& piece : r.pieces) {
            const std::vector<std::uint8_t> part = Slice(bytes_, piece.begin, piece.end - piece.begin);
            bytes.insert(bytes.end(), part.begin(), part.end());
        }
        if (static_cast<std::int64_t>(bytes.size()) != recordSize()) break;  // the image ends inside its table
        RunList runs;
        if (ParseEntry(ParseMode::IndexAllocation, bytes, header, runs) != 0) continue;
        Directory d;
        d.position = r.position;
        d.flags = header.flags;
        for (const RunEntry& run : runs) {
            const std::int64_t buffers = static_cast<std::int64_t>(run.length) * clusterSize() / indexSize();
            for (std::int64_t j = 0; j < buffers; ++j) {
                IndexBuffer b;
                b.offset = run.lcn * clusterSize() + j * indexSize();
                b.indx = b.offset >= 0 && static_cast<std::uint64_t>(b.offset) + 4 <= bytes_.size() &&
                         std::memcmp(bytes_.data() + b.offset, "INDX", 4) == 0;
                d.buffers.push_back(b);
            }
        }
        directories_.push_back(d);
    }

    referenceStatus = LoadImage(path_, referenceCount);
    Clear();
    return true;
}

std::optional<Volume> Volume::Built(const std::string& name, const std::string& description) {
#ifdef TARNWICK_VOLUME_BUILDER
    const fs::path text = WorkDir() / (name + ".vol");
    std::ofstream(text) << description;
    const fs::path image = WorkDir() / (name + ".img");
    const std::string command = std::string("b() { '") + TARNWICK_VOLUME_BUILDER + "' build '" + text.string() +
                                "' \"$1\" >/dev/null 2>&1; }; b";
    if (!MakeOnce(image, command)) return std::nullopt;
    return Mapped(name, image.string());
#else
    (void)name;
    (void)description;
    return std::nullopt;
#endif
}

const Directory* Volume::IndexedDirectory() const {
    for (const Directory& d : directories_) {
        if (d.flags == kFlagDirectory) continue;
        for (const IndexBuffer& b : d.buffers) {
            if (b.indx && !Entries(b.offset).empty()) return &d;
        }
    }
    return nullptr;
}

const MftRecord* Volume::Record(std::uint32_t position) const {
    for (const MftRecord& r : records_) {
        if (r.position == position) return &r;
    }
    return nullptr;
}

std::vector<std::uint8_t> Volume::FixedUp(std::int64_t offset, std::int64_t size) const {
    std::vector<std::uint8_t> copy = Slice(bytes_, offset, size);
    if (copy.size() < 8) return copy;
    ApplyFixups(copy, static_cast<std::uint16_t>(Little(copy, 4, 2)), static_cast<std::uint16_t>(Little(copy, 6, 2)));
    return copy;
}

std::vector<IndexEntry> Volume::Entries(std::int64_t offset) const {
    const std::vector<std::uint8_t> buffer = FixedUp(offset, indexSize());
    std::vector<IndexEntry> entries;
    IndexBufferHeader header;
    IndexNodeHeader node;
    if (ParseIndexBufferHeader(buffer, header) != 0 || ParseIndexNodeHeader(buffer, 65535, node) != 0) return entries;
    std::size_t m = index_buffer::kNodeHeader + static_cast<std::size_t>(node.entriesOffset);
    const std::size_t end = index_buffer::kNodeHeader + static_cast<std::size_t>(node.entriesSize);
    while (m + index_entry::kKey < end) {
        IndexEntryHeader entry;
        if (ParseIndexEntryHeader(buffer, m, 65535, entry) != 0 || entry.length <= 0) break;
        const std::uint32_t flags = static_cast<std::uint32_t>(Little(buffer, m + 12, 4));
        if ((flags & 2) != 0) break;  // the closing entry, with no key
        FileNameInfo key;
        const NameRef name = ParseFileName(buffer, m + index_entry::kKey, key);
        IndexEntry e;
        e.position = m;
        e.id = entry.fileReference;
        e.parent = key.parent;
        e.length = static_cast<std::uint16_t>(entry.length);
        for (std::size_t i = 0; i < name.units; ++i) {
            e.name.push_back(static_cast<char16_t>(name.bytes[2 * i] | (name.bytes[2 * i + 1] << 8)));
        }
        entries.push_back(e);
        m += static_cast<std::size_t>(entry.length);
    }
    return entries;
}

std::optional<std::size_t> Volume::Attribute(std::int64_t offset, std::uint32_t type) const {
    const std::vector<std::uint8_t> record = FixedUp(offset, recordSize());
    FileRecordHeader header;
    if (ParseFileRecordHeader(record, header) != 0) return std::nullopt;
    NonResidentHeader nonResident;
    const std::int64_t at = FindAttribute(record, type, header.firstAttributeOffset, nonResident);
    if (at < 0) return std::nullopt;
    return static_cast<std::size_t>(at);
}

void Damaged::Put(std::int64_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) bytes.at(static_cast<std::size_t>(at) + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

void Damaged::PutProtected(std::int64_t structure, std::size_t at, std::uint64_t value, std::size_t width) {
    const auto base = static_cast<std::size_t>(structure);
    const std::size_t usa = static_cast<std::size_t>(Little(bytes, base + 4, 2));
    for (std::size_t i = 0; i < width; ++i) {
        const std::size_t p = at + i;
        const auto byte = static_cast<std::uint8_t>(value >> (8 * i));
        const std::size_t inStride = p % kFixupStride;
        if (inStride >= kFixupStride - 2) {
            bytes.at(base + usa + 2 * (p / kFixupStride + 1) + (inStride - (kFixupStride - 2))) = byte;
        } else {
            bytes.at(base + p) = byte;
        }
    }
}

void Damaged::Zero(std::int64_t at, std::size_t length) {
    std::fill_n(bytes.begin() + at, static_cast<std::ptrdiff_t>(length), std::uint8_t{0});
}

std::int32_t Damaged::Load(std::size_t& count) const {
    static std::atomic<int> serial{0};
    const fs::path file = WorkDir() / ("damaged-" + std::to_string(getpid()) + "-" + std::to_string(serial++) + ".img");
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    if (sparseSize > static_cast<std::int64_t>(bytes.size())) fs::resize_file(file, static_cast<std::uintmax_t>(sparseSize));
    const std::int32_t status = LoadImage(file.string(), count);
    std::error_code ignored;
    fs::remove(file, ignored);
    return status;
}

std::int32_t LoadImage(const std::string& path, std::size_t& count) {
    const std::string variable = std::string("TARNWICK_DRIVE_") + kDriveLetter;
    setenv(variable.c_str(), path.c_str(), 1);
    const std::int32_t status = LoadMft(static_cast<std::uint32_t>(kDriveLetter - 'A'), &count);
    unsetenv(variable.c_str());
    return status;
}

}  // namespace tarnwick::e2e
