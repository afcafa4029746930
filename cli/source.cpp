#include "source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "byte_size.h"
#include "ewf_source.h"
#include "option_value.h"
#include "partition_table.h"

namespace tarnwick::cli {

namespace {

std::string DriveVariable(char letter) { return std::string("TARNWICK_DRIVE_") + letter; }

std::string ErrnoText(int error) {
    std::string text = std::strerror(error);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

std::string DeniedText(bool device) {
    if (device) return "permission denied: reading a raw device needs root or membership of the disk group";
    return "permission denied";
}

}  // namespace

bool IsDriveLetter(std::string_view argument) {
    if (argument.size() == 2 && argument[1] != ':') return false;
    if (argument.size() != 1 && argument.size() != 2) return false;
    return std::isalpha(static_cast<unsigned char>(argument[0])) != 0;
}

std::optional<std::string> ResolveSource(std::string_view argument, Source& source) {
    source.label = std::string(argument);
    if (argument.empty()) return std::string("no such file or device");
    if (IsDriveLetter(argument)) {
        source.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(argument[0])));
        const std::string variable = DriveVariable(source.letter);
        const char* value = std::getenv(variable.c_str());
        if (value == nullptr || *value == '\0') {
            return variable + " is not set (set it to a device or image, or name the device or image itself)";
        }
        source.path = value;
        return std::nullopt;
    }
    source.path = std::string(argument);
    for (char letter = 'Z'; letter >= 'A'; --letter) {
        const std::string variable = DriveVariable(letter);
        const char* value = std::getenv(variable.c_str());
        if (value != nullptr && *value != '\0') continue;
        if (setenv(variable.c_str(), source.path.c_str(), 1) != 0) return ErrnoText(errno);
        source.letter = letter;
        return std::nullopt;
    }
    return std::string("no free drive letter: every TARNWICK_DRIVE_A to TARNWICK_DRIVE_Z is set");
}

std::optional<std::string> CheckReadable(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) return std::string("no such file or device");
        if (error == EACCES) return DeniedText(false);
        return ErrnoText(error);
    }
    if (S_ISDIR(info.st_mode)) return std::string("is a directory, not a device or volume image");
    const bool device = S_ISBLK(info.st_mode);
    // Opening a FIFO or a terminal could block or consume input: only
    // devices and regular files are volumes.
    if (!device && !S_ISREG(info.st_mode)) return std::string("not a block device or volume image");
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM) return DeniedText(device);
        return ErrnoText(error);
    }
    close(fd);
    return std::nullopt;
}

namespace {

constexpr std::size_t kSector = 512;
constexpr std::size_t kWideSector = 4096;  // of 4Kn disks, which a GPT and an MBR may count in
// Logical partitions chain through one extended boot record each; real
// disks have a handful, so a longer chain is damage (or a loop).
constexpr int kMaxLogicalPartitions = 128;

class FileReader final : public platform::VolumeReader {
public:
    explicit FileReader(int fd) : fd_(fd) {}
    ~FileReader() override { close(fd_); }
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    std::size_t ReadAt(std::int64_t offset, void* out, std::size_t length) override {
        auto* bytes = static_cast<unsigned char*>(out);
        std::size_t done = 0;
        while (done < length) {
            const ssize_t n = pread(fd_, bytes + done, length - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    }

private:
    int fd_;
};

// A volume at an offset inside a disk: offsets from the volume's first
// byte, reads stopping at the end of the partition.
class SliceReader final : public platform::VolumeReader {
public:
    SliceReader(std::shared_ptr<platform::VolumeReader> disk, std::uint64_t start, std::uint64_t length)
        : disk_(std::move(disk)), start_(start), length_(length) {}

    std::size_t ReadAt(std::int64_t offset, void* out, std::size_t length) override {
        if (offset < 0 || static_cast<std::uint64_t>(offset) >= length_) return 0;
        const std::uint64_t room = length_ - static_cast<std::uint64_t>(offset);
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(length, room));
        return disk_->ReadAt(static_cast<std::int64_t>(start_ + static_cast<std::uint64_t>(offset)), out, want);
    }

private:
    std::shared_ptr<platform::VolumeReader> disk_;
    std::uint64_t start_;
    std::uint64_t length_;
};

std::vector<std::uint8_t> ReadBytes(platform::VolumeReader& disk, std::uint64_t offset, std::size_t length) {
    std::vector<std::uint8_t> bytes(length, 0);
    if (offset <= static_cast<std::uint64_t>(INT64_MAX)) disk.ReadAt(static_cast<std::int64_t>(offset), bytes.data(), length);
    return bytes;
}

bool IsNtfsBootSector(std::span<const std::uint8_t> sector) {
    return sector.size() >= 7 && std::memcmp(sector.data() + 3, "NTFS", 4) == 0;
}

std::string HexType(std::uint8_t type) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", type);
    return text;
}

// An MBR's four slots must each be unused or carry a boot flag of 0 or 0x80;
// a boot sector of some file system with the 0x55AA signature fails that.
bool LooksLikeMbr(std::span<const std::uint8_t> sector) {
    for (std::size_t i = 0; i < 4; ++i) {
        const std::uint8_t status = sector[mbr::kEntries + i * mbr::kEntrySize];
        if (status != 0 && status != 0x80) return false;
    }
    return true;
}

std::optional<std::string> ReadGpt(platform::VolumeReader& disk, std::vector<Partition>& partitions) {
    // The header sits in LBA 1: byte 512 on disks of 512-byte sectors, 4096 on 4Kn disks.
    for (const std::size_t sectorSize : {kSector, kWideSector}) {
        const std::vector<std::uint8_t> sector = ReadBytes(disk, sectorSize, sectorSize);
        const GptHeaderResult found = ParseGptHeader(sector);
        if (found.problem) return found.problem;
        if (!found.header) continue;
        const GptHeader& header = *found.header;
        if (header.entriesLba > UINT64_MAX / sectorSize) return std::string("GPT header damaged: entries out of range");
        const std::vector<std::uint8_t> entries =
            ReadBytes(disk, header.entriesLba * sectorSize, static_cast<std::size_t>(header.EntryBytes()));
        return ParseGptEntries(entries, header, static_cast<std::uint32_t>(sectorSize), partitions);
    }
    return std::string("a protective MBR but no GPT header");
}

std::optional<std::string> ReadLogicalPartitions(platform::VolumeReader& disk, std::uint64_t sectorSize,
                                                 std::uint64_t extendedLba, std::vector<Partition>& partitions) {
    std::set<std::uint64_t> visited;
    std::uint64_t ebrLba = extendedLba;
    for (int number = 5; number < 5 + kMaxLogicalPartitions; ++number) {
        if (!visited.insert(ebrLba).second) return std::string("the chain of logical partitions loops");
        const std::vector<std::uint8_t> sector = ReadBytes(disk, ebrLba * sectorSize, kSector);
        const auto slots = ParseMbr(sector);
        if (!slots) return "extended boot record at byte " + std::to_string(ebrLba * sectorSize) + " is damaged";
        const TableEntry& logical = (*slots)[0];
        if (logical.mbrType != 0 && logical.sectors != 0) {
            partitions.push_back({number, (ebrLba + logical.firstLba) * sectorSize, logical.sectors * sectorSize,
                                  HexType(logical.mbrType)});
        }
        const TableEntry& next = (*slots)[1];
        if (next.mbrType == 0 || next.firstLba == 0) return std::nullopt;
        ebrLba = extendedLba + next.firstLba;
    }
    return std::string("more logical partitions than a disk holds: the chain is damaged");
}

// The partitions of the disk's table; an empty list and no message when the
// first sector is not a partition table. An MBR counts in the disk's own
// sectors, `sectorSize` bytes each; a GPT says itself which size it counts in.
std::optional<std::string> ReadPartitions(platform::VolumeReader& disk, std::uint64_t sectorSize,
                                          std::vector<Partition>& partitions) {
    partitions.clear();
    const std::vector<std::uint8_t> first = ReadBytes(disk, 0, kSector);
    const auto slots = ParseMbr(first);
    if (!slots || !LooksLikeMbr(first)) return std::nullopt;
    for (const TableEntry& slot : *slots) {
        if (slot.mbrType == mbr::kProtective) return ReadGpt(disk, partitions);
    }
    for (std::size_t i = 0; i < slots->size(); ++i) {
        const TableEntry& slot = (*slots)[i];
        if (slot.mbrType == 0 || slot.sectors == 0) continue;
        if (IsExtendedType(slot.mbrType)) {
            if (auto problem = ReadLogicalPartitions(disk, sectorSize, slot.firstLba, partitions)) return problem;
            continue;
        }
        partitions.push_back({static_cast<int>(i) + 1, slot.firstLba * sectorSize, slot.sectors * sectorSize,
                              HexType(slot.mbrType)});
    }
    std::sort(partitions.begin(), partitions.end(), [](const Partition& a, const Partition& b) { return a.number < b.number; });
    return std::nullopt;
}

std::vector<Partition> NtfsPartitions(platform::VolumeReader& disk, const std::vector<Partition>& partitions) {
    std::vector<Partition> ntfs;
    for (const Partition& partition : partitions) {
        if (IsNtfsBootSector(ReadBytes(disk, partition.start, kSector))) ntfs.push_back(partition);
    }
    return ntfs;
}

std::string Where(const Partition& partition) {
    return std::to_string(partition.number) + " (at byte " + std::to_string(partition.start) + ", " +
           HumanBytes(partition.length) + ")";
}

std::string Numbers(const std::vector<Partition>& partitions) {
    std::string text;
    for (const Partition& partition : partitions) text += (text.empty() ? "" : ", ") + std::to_string(partition.number);
    return text;
}

// Opens the file itself: an evidence file's media, or the file or device.
std::optional<std::string> OpenContainer(const std::string& path, std::shared_ptr<platform::VolumeReader>& disk,
                                         std::uint64_t& size, OpenedSource& opened) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ErrnoText(errno);
    auto file = std::make_shared<FileReader>(fd);
    std::uint8_t head[8] = {};
    file->ReadAt(0, head, sizeof head);
    if (IsEwfSignature(head)) {
        opened.evidenceFile = true;
        file.reset();
        return OpenEwf(path, disk, opened.errors, size);
    }
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) return ErrnoText(errno);
    size = static_cast<std::uint64_t>(end);
    disk = std::move(file);
    return std::nullopt;
}

// The byte count in the drive's variable ending in `suffix`, read as the
// library reads it; `bytes` stays unset when the variable is.
std::optional<std::string> DriveBytes(char letter, const char* suffix, std::optional<std::uint64_t>& bytes) {
    const std::string variable = DriveVariable(letter) + suffix;
    const char* text = std::getenv(variable.c_str());
    if (text == nullptr || *text == '\0') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || *text < '0' || *text > '9') return variable + " is not a number of bytes";
    bytes = static_cast<std::uint64_t>(value);
    return std::nullopt;
}

// A drive letter may carry the volume's place in the disk, its first byte
// and its length, as the library reads them; an offset or partition on the
// command line comes first. A path borrows a free letter, whose variables
// left over from elsewhere say nothing of it.
std::optional<std::string> TakeDriveExtent(const Source& source, SourceOptions& options,
                                           std::optional<std::uint64_t>& length) {
    if (!IsDriveLetter(source.label) || options.offset || options.partition) return std::nullopt;
    if (auto problem = DriveBytes(source.letter, "_OFFSET", options.offset)) return problem;
    if (auto problem = DriveBytes(source.letter, "_LENGTH", length)) return problem;
    if (length && !options.offset) options.offset = 0;
    return std::nullopt;
}

void UseVolume(std::shared_ptr<platform::VolumeReader> disk, std::uint64_t start, std::uint64_t length, int partition,
               OpenedSource& opened) {
    opened.offset = start;
    opened.length = length;
    opened.partition = partition;
    opened.volume = std::make_shared<SliceReader>(std::move(disk), start, length);
}

std::optional<std::string> OpenAtOffset(std::shared_ptr<platform::VolumeReader> disk, std::uint64_t size,
                                        std::uint64_t offset, std::optional<std::uint64_t> length, OpenedSource& opened) {
    if (offset >= size) {
        return "offset " + std::to_string(offset) + " is past the end (" + std::to_string(size) + " bytes)";
    }
    if (!IsNtfsBootSector(ReadBytes(*disk, offset, kSector))) return "no NTFS volume at offset " + std::to_string(offset);
    UseVolume(std::move(disk), offset, std::min(size - offset, length.value_or(UINT64_MAX)), 0, opened);
    return std::nullopt;
}

// A table that points past the disk's end is damaged (or the image is cut
// short); either way no partition of it can be trusted blindly.
std::optional<std::string> CheckInsideDisk(const std::vector<Partition>& partitions, std::uint64_t size) {
    for (const Partition& partition : partitions) {
        if (partition.start < size && partition.length <= size - partition.start) continue;
        return "partition " + std::to_string(partition.number) + " (bytes " + std::to_string(partition.start) + " to " +
               std::to_string(partition.start + partition.length) + ") lies outside the disk (" + std::to_string(size) +
               " bytes); --offset BYTES reads a volume at a byte offset";
    }
    return std::nullopt;
}

// The partition asked for, or else the only NTFS one; a one-line reason
// when there is none to read.
std::optional<std::string> ChoosePartition(const std::vector<Partition>& partitions, const std::vector<Partition>& ntfs,
                                           std::optional<int> wanted, const Partition*& chosen) {
    if (wanted) {
        const auto it = std::find_if(partitions.begin(), partitions.end(),
                                     [&](const Partition& p) { return p.number == *wanted; });
        if (it == partitions.end()) {
            return "no partition " + std::to_string(*wanted) + " (the table has " + Numbers(partitions) + ")";
        }
        if (std::none_of(ntfs.begin(), ntfs.end(), [&](const Partition& p) { return p.number == *wanted; })) {
            return "partition " + Where(*it) + " is not NTFS";
        }
        chosen = &*it;
        return std::nullopt;
    }
    if (ntfs.empty()) return "no NTFS partition in the partition table (partitions " + Numbers(partitions) + ")";
    if (ntfs.size() > 1) {
        std::string list;
        for (const Partition& partition : ntfs) list += (list.empty() ? "" : ", ") + Where(partition);
        return std::to_string(ntfs.size()) + " NTFS partitions: " + list + "; choose one with --partition N";
    }
    chosen = &ntfs.front();
    return std::nullopt;
}

std::optional<std::string> Locate(const Source& source, SourceOptions options, OpenedSource& opened) {
    std::optional<std::uint64_t> length;
    if (auto problem = TakeDriveExtent(source, options, length)) return problem;
    std::shared_ptr<platform::VolumeReader> disk;
    std::uint64_t size = 0;
    if (auto problem = OpenContainer(source.path, disk, size, opened)) return problem;
    if (options.offset) return OpenAtOffset(std::move(disk), size, *options.offset, length, opened);

    const bool ntfsAtStart = IsNtfsBootSector(ReadBytes(*disk, 0, kSector));
    if (ntfsAtStart && options.partition) return std::string("no partition table: the source is an NTFS volume itself");
    std::vector<Partition> partitions;
    if (!ntfsAtStart) {
        if (auto problem = ReadPartitions(*disk, kSector, partitions)) return "partition table damaged: " + *problem;
    }
    if (partitions.empty()) {
        if (options.partition) return std::string("no partition table");
        // A volume from its first byte; when it is not one, the reader of the
        // volume says why it is not NTFS.
        opened.length = size;
        opened.volume = std::move(disk);
        return std::nullopt;
    }
    if (auto problem = CheckInsideDisk(partitions, size)) return problem;
    std::vector<Partition> ntfs = NtfsPartitions(*disk, partitions);
    // The disk's sector size is nowhere in an MBR. Where no partition of it
    // counted in 512-byte sectors holds NTFS, the table may count in 4096-byte
    // ones (a 4Kn disk): taken when that puts an NTFS volume at a partition.
    std::vector<Partition> wide;
    if (ntfs.empty() && !ReadPartitions(*disk, kWideSector, wide) && !CheckInsideDisk(wide, size)) {
        std::vector<Partition> wideNtfs = NtfsPartitions(*disk, wide);
        if (!wideNtfs.empty()) {
            partitions = std::move(wide);
            ntfs = std::move(wideNtfs);
        }
    }
    const Partition* chosen = nullptr;
    if (auto problem = ChoosePartition(partitions, ntfs, options.partition, chosen)) return problem;
    UseVolume(std::move(disk), chosen->start, chosen->length, chosen->number, opened);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> OpenSource(const Source& source, const SourceOptions& options, OpenedSource& opened) {
    opened = {};
    auto problem = Locate(source, options, opened);
    // A damaged evidence file shows first as a boot sector or table that
    // is not there; its own reason is the one to give.
    if (auto media = ReadProblem(opened)) problem = std::move(media);
    if (problem) opened.volume.reset();
    return problem;
}

std::optional<std::string> ReadProblem(const OpenedSource& opened) {
    return opened.errors ? opened.errors->FirstReadError() : std::nullopt;
}

bool MapDriveToVolume(const Source& source, const OpenedSource& opened) {
    if (opened.evidenceFile || source.letter == 0) return false;
    const std::string variable = DriveVariable(source.letter);
    // Set even for a whole file: a length the user gave stays the limit.
    return setenv((variable + "_OFFSET").c_str(), std::to_string(opened.offset).c_str(), 1) == 0 &&
           setenv((variable + "_LENGTH").c_str(), std::to_string(opened.length).c_str(), 1) == 0;
}

bool TakeSourceOption(std::span<const std::string_view> args, std::size_t& i, SourceOptions& options,
                      std::string& problem) {
    std::string_view name;
    std::optional<std::string_view> value;
    bool missing = false;
    for (const std::string_view known : {std::string_view("--offset"), std::string_view("--partition")}) {
        if (value) break;
        value = TakeValue(args, i, known, missing);
        name = known;
    }
    if (!value) return false;
    if (missing) {
        problem = std::string(name) + (name == "--offset" ? " needs a number of bytes" : " needs a partition number");
        return true;
    }
    std::uint64_t number = 0;
    const bool digits = !value->empty() && value->size() <= 19 &&
                        std::all_of(value->begin(), value->end(), [](char c) { return c >= '0' && c <= '9'; });
    for (const char c : *value) number = digits ? number * 10 + static_cast<std::uint64_t>(c - '0') : 0;
    if (name == "--offset") {
        if (!digits) problem = "--offset takes a number of bytes, not '" + std::string(*value) + "'";
        options.offset = number;
    } else {
        if (!digits || number == 0 || number > 1000000) {
            problem = "--partition takes a partition number from 1, not '" + std::string(*value) + "'";
        }
        options.partition = static_cast<int>(number);
    }
    if (problem.empty() && options.offset && options.partition) problem = "--offset and --partition exclude each other";
    return true;
}

SourceHandle OpenHandle(const OpenedSource& opened) { return SourceHandle(platform::OpenReader(opened.volume)); }

void ReadBootSector(const OpenedSource& opened, std::array<std::uint8_t, 512>& boot) {
    boot.fill(0);
    if (opened.volume) opened.volume->ReadAt(0, boot.data(), boot.size());
}

}  // namespace tarnwick::cli
