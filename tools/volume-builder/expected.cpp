#include "expected.h"

#include "description.h"
#include "ntfs3g.h"
#include "text.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <stdexcept>

namespace volume_builder {
namespace {

constexpr std::uint32_t kAttrFileName = 0x30;
constexpr std::uint32_t kAttrIndexAllocation = 0xA0;
constexpr std::uint32_t kAttrAttributeList = 0x20;
constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;
constexpr int kNodeLimit = 4096;  // the reader's fixed limit on node and entry sizes
constexpr std::int32_t kStatusIndexFailure = -113;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) { return U16(p) | static_cast<std::uint32_t>(U16(p + 2)) << 16; }
std::uint64_t U64(const std::uint8_t* p) { return U32(p) | static_cast<std::uint64_t>(U32(p + 4)) << 32; }

// Update sequence fix-ups over 512-byte strides, restoring strides up to the
// first mismatch.
bool ApplyFixups(std::vector<std::uint8_t>& buf, std::uint16_t usaOffset, std::uint16_t usaCount) {
    if (usaCount <= 1) return true;
    if (usaOffset + 2ull * usaCount > buf.size()) return false;
    for (std::uint32_t k = 1; k < usaCount; ++k) {
        const std::size_t end = 512ull * k;
        if (end > buf.size()) return false;
        if (buf[end - 2] != buf[usaOffset] || buf[end - 1] != buf[usaOffset + 1]) return false;
        buf[end - 2] = buf[usaOffset + 2 * k];
        buf[end - 1] = buf[usaOffset + 2 * k + 1];
    }
    return true;
}

struct FileName {
    bool ok = false;
    std::uint32_t parent = 0;
    std::int64_t times[4] = {};
    std::int64_t allocated = 0, size = 0;
    int nameSpace = 0;
    std::u16string name;
};

// A file-name structure at `pos`; !ok when the name is empty or runs past the end.
FileName ReadFileName(const std::vector<std::uint8_t>& buf, std::size_t pos) {
    FileName fn;
    if (pos > buf.size() || buf.size() - pos < 66) return fn;
    const std::uint8_t* p = buf.data() + pos;
    fn.parent = U32(p);
    for (int t = 0; t < 4; ++t) fn.times[t] = static_cast<std::int64_t>(U64(p + 8 + 8 * t));
    fn.allocated = static_cast<std::int64_t>(U64(p + 40));
    fn.size = static_cast<std::int64_t>(U64(p + 48));
    const std::size_t len = p[64];
    if (len == 0 || pos + 66 + 2 * len > buf.size()) return fn;
    fn.nameSpace = p[65];
    fn.name.resize(len);
    for (std::size_t i = 0; i < len; ++i) fn.name[i] = static_cast<char16_t>(U16(p + 66 + 2 * i));
    fn.ok = true;
    return fn;
}

struct RecordName {
    std::int32_t number;
    std::u16string name;
    std::int32_t flags;
    bool extension;
};

struct Extent {
    std::int64_t vcn, lcn, length;
};

class Scanner {
public:
    explicit Scanner(const std::string& image) : image_(image) {
        vol_ = ntfs_mount(image.c_str(), static_cast<ntfs_mount_flags>(NTFS_MNT_RDONLY | NTFS_MNT_IGNORE_HIBERFILE));
        if (!vol_) throw std::runtime_error("libntfs-3g cannot mount " + image + ": " + std::strerror(errno));
        fd_ = ::open(image.c_str(), O_RDONLY);
        if (fd_ < 0) throw std::runtime_error("cannot open " + image);
        cluster_ = vol_->cluster_size;
        recordSize_ = vol_->mft_record_size;
        indexSize_ = vol_->indx_record_size;
    }
    ~Scanner() {
        if (fd_ >= 0) ::close(fd_);
        if (vol_) ntfs_umount(vol_, FALSE);
    }

    Scan Run();

private:
    bool ReadAt(std::int64_t offset, std::vector<std::uint8_t>& buf) {
        std::size_t done = 0;
        while (done < buf.size()) {
            const auto n = ::pread(fd_, buf.data() + done, buf.size() - done, offset + static_cast<off_t>(done));
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        if (done < buf.size()) std::fill(buf.begin() + static_cast<std::ptrdiff_t>(done), buf.end(), 0);
        return done == buf.size();
    }

    void Fail113(const std::string& why) {
        if (scan_.status == 0) {
            scan_.status = kStatusIndexFailure;
            scan_.warnings.push_back("load fails with -113: " + why);
        }
    }

    void Record(std::vector<std::uint8_t>& rec, std::uint64_t position);
    void ReadAllocation(const std::vector<Extent>& runs, bool live, std::int32_t dir, const std::u16string& dirName,
                        const std::vector<std::uint8_t>& bitmap);
    void InspectDirectory(std::int32_t number, const std::u16string& name, const std::vector<Extent>& ownRuns,
                          bool hasAttributeList);
    void Finish();

    std::string image_;
    ntfs_volume* vol_ = nullptr;
    int fd_ = -1;
    std::uint32_t cluster_, recordSize_, indexSize_;
    Scan scan_;
    std::vector<RecordName> names_;
    // Flags of every base record, by its position in the MFT: a name found in
    // an extension record takes these, since only the base says "directory".
    std::map<std::int32_t, std::int32_t> baseFlags_;
    std::vector<CatalogueEntry> raw_;
    std::vector<std::uint8_t> bitmap_;
};

std::vector<Extent> RunsOf(runlist_element* rl) {
    std::vector<Extent> runs;
    for (; rl && rl->length; ++rl)
        if (rl->lcn != LCN_RL_NOT_MAPPED) runs.push_back({rl->vcn, rl->lcn, rl->length});
    return runs;
}

void Scanner::Record(std::vector<std::uint8_t>& rec, std::uint64_t position) {
    if (std::memcmp(rec.data(), "FILE", 4) != 0) return;
    ApplyFixups(rec, U16(&rec[4]), U16(&rec[6]));
    const std::size_t firstAttr = U16(&rec[20]);
    const std::int32_t flags = static_cast<std::int16_t>(U16(&rec[22]));
    const std::uint64_t base = U64(&rec[32]);
    // Headers of NTFS 3.0 place the update sequence array at 0x2A, where later
    // ones keep the record's number; such a record is known by its position.
    const bool hasNumber = U16(&rec[4]) >= 48;
    std::int32_t number = hasNumber ? static_cast<std::int32_t>(U32(&rec[44])) : static_cast<std::int32_t>(position);
    if (base != 0) number = static_cast<std::int32_t>(base & 0xFFFFFFFF);
    else if (static_cast<std::uint64_t>(static_cast<std::uint32_t>(number)) != position && flags != 0)
        scan_.warnings.push_back("record " + std::to_string(position) + " says it is record " + std::to_string(number));

    // The record's own name: its first file name, in attribute order, that is not a DOS name.
    std::u16string name;
    std::size_t allocationAttr = 0;
    bool hasAttributeList = false;
    for (std::size_t pos = firstAttr; pos + 8 <= rec.size();) {
        const std::uint32_t type = U32(&rec[pos]);
        const std::uint32_t length = U32(&rec[pos + 4]);
        if (type == kAttrEnd || length == 0 || length > rec.size() - pos) break;
        const bool resident = rec[pos + 8] == 0;
        if (type == kAttrFileName && resident && name.empty() && pos + 22 <= rec.size()) {
            const auto fn = ReadFileName(rec, pos + U16(&rec[pos + 20]));
            if (fn.ok && fn.nameSpace != FILE_NAME_DOS) name = fn.name;
        }
        if (type == kAttrIndexAllocation && !allocationAttr) allocationAttr = pos;
        if (type == kAttrAttributeList) hasAttributeList = true;
        pos += length;
    }
    if (base == 0) baseFlags_[static_cast<std::int32_t>(position)] = flags;
    if (flags != 0 && flags != 2 && !name.empty()) names_.push_back({number, name, flags, base != 0});
    if (flags != 3 && flags != 2) return;

    std::vector<Extent> ownRuns;
    if (allocationAttr) {
        auto* attr = reinterpret_cast<ATTR_RECORD*>(&rec[allocationAttr]);
        runlist_element* rl = nullptr;
        if (attr->non_resident && sle64_to_cpu(attr->lowest_vcn) == 0)
            rl = ntfs_mapping_pairs_decompress(vol_, attr, nullptr);
        if (rl) {
            ownRuns = RunsOf(rl);
            free(rl);
        } else {
            scan_.warnings.push_back("record " + std::to_string(position) + ": unusable index allocation");
        }
    }
    if (flags == 2) {
        ReadAllocation(ownRuns, false, number, name, {});
    } else if (base != 0) {
        if (allocationAttr)
            scan_.warnings.push_back("extension record " + std::to_string(position) + " flagged as directory");
    } else {
        InspectDirectory(number, name, ownRuns, hasAttributeList);
    }
}

// Root-node names, the index bitmap and (for an allocation held in an
// extension record) the allocation itself, through libntfs-3g.
void Scanner::InspectDirectory(std::int32_t number, const std::u16string& name, const std::vector<Extent>& ownRuns,
                               bool hasAttributeList) {
    auto& facts = scan_.directories[number];
    facts.name = name;
    bitmap_.clear();
    ntfs_inode* ni = ntfs_inode_open(vol_, static_cast<MFT_REF>(static_cast<std::uint32_t>(number)));
    if (!ni) {
        scan_.warnings.push_back("libntfs-3g cannot open directory " + std::to_string(number));
        if (!ownRuns.empty()) ReadAllocation(ownRuns, true, number, name, {});
        return;
    }
    if (ntfs_attr* root = ntfs_attr_open(ni, AT_INDEX_ROOT, NTFS_INDEX_I30, 4)) {
        std::vector<std::uint8_t> value(static_cast<std::size_t>(root->data_size));
        if (ntfs_attr_pread(root, 0, root->data_size, value.data()) == root->data_size && value.size() >= 32) {
            std::size_t pos = 16 + U32(&value[16]);
            const std::size_t end = std::min<std::size_t>(value.size(), 16 + U32(&value[20]));
            while (pos + 16 <= end) {
                const std::uint16_t length = U16(&value[pos + 8]);
                const std::uint16_t entryFlags = U16(&value[pos + 12]);
                if (entryFlags & INDEX_ENTRY_END || length < 16) break;
                const auto fn = ReadFileName(value, pos + 16);
                if (fn.ok) {
                    scan_.indexNames.push_back({number, "root", static_cast<std::int32_t>(U32(&value[pos])),
                                                fn.nameSpace, fn.name});
                    ++facts.rootNames;
                }
                pos += length;
            }
        }
        ntfs_attr_close(root);
    }
    if (ntfs_attr* bm = ntfs_attr_open(ni, AT_BITMAP, NTFS_INDEX_I30, 4)) {
        bitmap_.resize(static_cast<std::size_t>(bm->data_size));
        if (ntfs_attr_pread(bm, 0, bm->data_size, bitmap_.data()) != bm->data_size) bitmap_.clear();
        ntfs_attr_close(bm);
    }
    // Planned behaviour: a directory's whole allocation is read, also the parts
    // that its attribute list places in extension records (libntfs-3g puts them
    // there for directories with long names or fragmented indexes).
    std::vector<Extent> runs = ownRuns;
    if (hasAttributeList) {
        if (ntfs_attr* ia = ntfs_attr_open(ni, AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4)) {
            if (ntfs_attr_map_whole_runlist(ia) == 0) {
                auto all = RunsOf(ia->rl);
                std::int64_t ownClusters = 0, allClusters = 0;
                for (const auto& r : ownRuns) ownClusters += r.length;
                for (const auto& r : all) allClusters += r.length;
                facts.allocationInExtension = ownRuns.empty() || ownClusters != allClusters;
                runs = std::move(all);
            } else {
                scan_.warnings.push_back("cannot map the index allocation of directory " + std::to_string(number));
            }
            ntfs_attr_close(ia);
        }
    }
    ntfs_inode_close(ni);
    if (!runs.empty()) ReadAllocation(runs, true, number, name, bitmap_);
}

void Scanner::ReadAllocation(const std::vector<Extent>& runs, bool live, std::int32_t dir, const std::u16string& dirName,
                             const std::vector<std::uint8_t>& bitmap) {
    DirectoryFacts* facts = live ? &scan_.directories[dir] : nullptr;
    if (facts) facts->hasAllocation = true;
    std::vector<std::uint8_t> buf(indexSize_);
    bool deletedCounted = false;
    for (const auto& run : runs) {
        if (run.lcn < 0) {
            scan_.warnings.push_back("directory " + std::to_string(dir) + ": sparse index allocation run");
            continue;
        }
        const std::int64_t n = run.length * static_cast<std::int64_t>(cluster_) / indexSize_;
        for (std::int64_t j = 0; j < n; ++j) {
            const std::int64_t offset = run.lcn * cluster_ + j * indexSize_;
            ReadAt(offset, buf);
            if (std::memcmp(buf.data(), "INDX", 4) != 0) {
                if (!live) return;  // a deleted directory's pass ends at its first unwritten buffer
                continue;
            }
            if (!live && !deletedCounted) {
                ++scan_.deletedDirsWithIndx;
                deletedCounted = true;
            }
            if (!ApplyFixups(buf, U16(&buf[4]), U16(&buf[6]))) {
                Fail113("fix-up mismatch in an index buffer of directory " + std::to_string(dir));
                return;
            }
            int entriesOffset = static_cast<std::int16_t>(U16(&buf[24]));
            if (entriesOffset < 0) entriesOffset = 0;
            const int entriesSize = static_cast<std::int16_t>(U16(&buf[28]));
            const int allocated = U16(&buf[32]);
            if (entriesSize < 0 || entriesSize > kNodeLimit || allocated > kNodeLimit) {
                Fail113("index node header out of limits in directory " + std::to_string(dir));
                return;
            }
            const std::int64_t bufferIndex = (run.vcn * cluster_ + j * indexSize_) / indexSize_;
            const bool inUse = !bitmap.empty() && static_cast<std::size_t>(bufferIndex / 8) < bitmap.size() &&
                               (bitmap[static_cast<std::size_t>(bufferIndex / 8)] >> (bufferIndex % 8) & 1);
            if (facts) {
                ++facts->indxBuffers;
                if (!inUse) ++facts->staleBuffers;
            }
            for (std::size_t m = 24 + static_cast<std::size_t>(entriesOffset), b = m;
                 b + 16 < static_cast<std::size_t>(entriesSize);) {
                if (m + 16 > buf.size()) break;
                const std::uint32_t ref = U32(&buf[m]);
                const int length = static_cast<std::int16_t>(U16(&buf[m + 8]));
                const int keyLength = static_cast<std::int16_t>(U16(&buf[m + 10]));
                if (length < 0 || length > kNodeLimit || keyLength < 0 || keyLength > kNodeLimit) {
                    Fail113("index entry header out of limits in directory " + std::to_string(dir));
                    return;
                }
                if (length == 0) break;
                const auto fn = ReadFileName(buf, m + 16);
                if (fn.ok && live) {
                    CatalogueEntry e;
                    e.parentId = static_cast<std::int32_t>(fn.parent);
                    e.id = static_cast<std::int32_t>(ref);
                    e.name = fn.name;
                    e.nameSpace = fn.nameSpace;
                    e.parentName = dirName;
                    e.allocatedSize = fn.allocated;
                    e.actualSize = fn.size;
                    e.creationTime = fn.times[0];
                    e.modificationTime = fn.times[1];
                    e.mftModificationTime = fn.times[2];
                    e.accessTime = fn.times[3];
                    raw_.push_back(std::move(e));
                    scan_.indexNames.push_back({dir, inUse ? "alloc" : "stale", static_cast<std::int32_t>(ref),
                                                fn.nameSpace, fn.name});
                }
                m += static_cast<std::size_t>(length);
                b += static_cast<std::size_t>(length);
            }
        }
    }
}

// Outcome of the duplicate pass over one group of entries with the same record
// number, taken in the order given.
struct GroupOutcome {
    std::int32_t status = 0;
    std::vector<std::size_t> kept;
    bool operator<(const GroupOutcome& o) const { return std::tie(status, kept) < std::tie(o.status, o.kept); }
};

GroupOutcome DuplicatePass(const std::vector<CatalogueEntry>& all, const std::vector<std::size_t>& order) {
    GroupOutcome out;
    std::vector<bool> marked(order.size(), false);
    for (std::size_t i = 1; i < order.size(); ++i) {
        const auto& first = all[order[i - 1]];
        const auto& second = all[order[i]];
        if (first.parentId != second.parentId) continue;
        if (first.nameSpace == 0 || second.nameSpace == 0) {
            if (first.nameSpace == 0) marked[i - 1] = true;
            if (second.nameSpace == 0) marked[i] = true;
        } else if (second.nameSpace == 1 && first.nameSpace == 2) {
            marked[i - 1] = true;
        } else if (second.nameSpace == 2 && first.nameSpace == 1) {
            marked[i] = true;
        } else {
            out.status = second.nameSpace == 3 ? -1000 : -1001;
            return out;
        }
    }
    for (std::size_t i = 0; i < order.size(); ++i)
        if (!marked[i]) out.kept.push_back(order[i]);
    std::sort(out.kept.begin(), out.kept.end());
    return out;
}

void Scanner::Finish() {
    if (scan_.status != 0) return;
    if (raw_.empty()) {
        scan_.status = -101;
        return;
    }
    // Groups by record number, in ascending signed order.
    std::vector<std::size_t> order(raw_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return raw_[a].id < raw_[b].id; });
    std::vector<CatalogueEntry> kept;
    for (std::size_t start = 0; start < order.size();) {
        std::size_t end = start;
        while (end < order.size() && raw_[order[end]].id == raw_[order[start]].id) ++end;
        std::vector<std::size_t> group(order.begin() + static_cast<std::ptrdiff_t>(start),
                                       order.begin() + static_cast<std::ptrdiff_t>(end));
        start = end;
        GroupOutcome outcome;
        if (group.size() == 1) {
            outcome.kept = group;
        } else {
            // The sort that groups entries is not stable, so the pass may meet a
            // group in any order; every order must give the same result.
            std::set<GroupOutcome> outcomes;
            std::sort(group.begin(), group.end());
            if (group.size() <= 7) {
                do outcomes.insert(DuplicatePass(raw_, group));
                while (std::next_permutation(group.begin(), group.end()));
            } else {
                outcomes.insert(DuplicatePass(raw_, group));
            }
            if (outcomes.size() > 1)
                scan_.warnings.push_back("ambiguous: the outcome for record " + std::to_string(raw_[group[0]].id) +
                                         " depends on the order of its " + std::to_string(group.size()) + " entries");
            outcome = *outcomes.begin();
        }
        if (outcome.status != 0) {
            scan_.status = outcome.status;
            scan_.warnings.push_back("load fails with " + std::to_string(outcome.status) + " at record " +
                                     std::to_string(raw_[group[0]].id));
            return;
        }
        for (auto k : outcome.kept) kept.push_back(raw_[k]);
    }
    std::stable_sort(names_.begin(), names_.end(),
                     [](const RecordName& a, const RecordName& b) { return a.number < b.number; });
    // All elements for a number; when they disagree the lookup result depends on
    // the search, so prefer the base record's and say so.
    auto lookup = [&](std::int32_t number, const char* what) -> const RecordName* {
        auto range = std::equal_range(names_.begin(), names_.end(), RecordName{number, {}, 0, false},
                                      [](const RecordName& a, const RecordName& b) { return a.number < b.number; });
        if (range.first == range.second) return nullptr;
        const RecordName* pick = &*range.first;
        for (auto it = range.first; it != range.second; ++it) {
            if (!it->extension) pick = &*it;
            const bool flagsOnly = std::string(what) == "flags";
            if (flagsOnly ? it->flags != range.first->flags : it->name != range.first->name)
                scan_.warnings.push_back(std::string("ambiguous ") + what + " of record " + std::to_string(number) +
                                         ": its records disagree");
        }
        return pick;
    };
    for (auto& e : kept) {
        if (e.nameSpace == FILE_NAME_DOS) {
            const auto* rn = lookup(e.id, "name");
            if (!rn) {
                scan_.status = -1002;
                return;
            }
            e.name = rn->name;
            e.nameSpace = 3;
        }
        if (e.parentName.empty()) {
            const auto* rn = lookup(e.parentId, "parent name");
            if (!rn) {
                scan_.status = -1003;
                return;
            }
            e.parentName = rn->name;
        }
    }
    for (auto& e : kept) {
        const auto* rn = lookup(e.id, "flags");
        e.flag = rn ? rn->flags : 1;
        if (rn && rn->extension) {
            if (const auto base = baseFlags_.find(e.id); base != baseFlags_.end()) e.flag = base->second;
        }
    }
    if (kept.empty()) scan_.status = -102;
    std::sort(kept.begin(), kept.end(), [](const CatalogueEntry& a, const CatalogueEntry& b) {
        return std::tie(a.parentId, a.id, a.name) < std::tie(b.parentId, b.id, b.name);
    });
    scan_.entries = std::move(kept);
}

Scan Scanner::Run() {
    if (ntfs_attr_map_whole_runlist(vol_->mft_na) != 0) throw std::runtime_error("cannot map the MFT's runs");
    const auto runs = RunsOf(vol_->mft_na->rl);
    if (NInoAttrList(vol_->mft_ni))
        scan_.warnings.push_back("the MFT has an attribute list: record 0 alone does not give all its runs");
    scan_.mftRuns = static_cast<int>(runs.size());
    // Records are one stream across the runs; a run whose length is not a whole
    // number of records leaves a record split between two runs.
    std::vector<std::uint8_t> chunk, record(recordSize_);
    std::size_t filled = 0;
    std::uint64_t position = 0;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const auto& run = runs[r];
        const std::uint64_t bytes = static_cast<std::uint64_t>(run.length) * cluster_;
        if (bytes % recordSize_ != 0 && r + 1 < runs.size()) scan_.mftRecordStraddlesRuns = true;
        if (run.lcn < 0) {
            scan_.warnings.push_back("sparse MFT run");
            continue;
        }
        constexpr std::uint64_t kChunk = 8u << 20;
        for (std::uint64_t done = 0; done < bytes;) {
            chunk.resize(static_cast<std::size_t>(std::min(kChunk, bytes - done)));
            ReadAt(run.lcn * cluster_ + static_cast<std::int64_t>(done), chunk);
            done += chunk.size();
            for (std::size_t i = 0; i < chunk.size();) {
                const std::size_t take = std::min(chunk.size() - i, record.size() - filled);
                std::memcpy(record.data() + filled, chunk.data() + i, take);
                filled += take;
                i += take;
                if (filled == record.size()) {
                    auto copy = record;
                    Record(copy, position++);
                    filled = 0;
                }
            }
        }
    }
    scan_.mftRecords = position;
    Finish();
    return std::move(scan_);
}

}  // namespace

Scan ScanImage(const std::string& imagePath) {
    Scanner scanner(imagePath);
    return scanner.Run();
}

void WriteExpected(const Scan& scan, const std::string& imageName, const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << "# tarnwick expected catalogue\n";
    out << "# image\t" << imageName << "\n";
    out << "# status\t" << scan.status << "\n";
    out << "# entries\t" << (scan.status == 0 ? scan.entries.size() : 0) << "\n";
    for (const auto& w : scan.warnings) out << "# warning\t" << w << "\n";
    out << "# parentId\tid\tflag\tnameSpace\tallocatedSize\tactualSize\tcreationTime\tmodificationTime"
           "\tmftModificationTime\taccessTime\tname\tparentName\n";
    if (scan.status != 0) return;
    for (const auto& e : scan.entries) {
        out << e.parentId << '\t' << e.id << '\t' << e.flag << '\t' << e.nameSpace << '\t' << e.allocatedSize << '\t'
            << e.actualSize << '\t' << e.creationTime << '\t' << e.modificationTime << '\t' << e.mftModificationTime
            << '\t' << e.accessTime << '\t' << EscapeName(e.name) << '\t' << EscapeName(e.parentName) << '\n';
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteIndexNames(const Scan& scan, const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << "# every index entry of every directory in use: where it was found\n";
    out << "# directory\twhere\tid\tnameSpace\tname\n";
    for (const auto& n : scan.indexNames)
        out << n.directory << '\t' << n.where << '\t' << n.id << '\t' << n.nameSpace << '\t' << EscapeName(n.name)
            << '\n';
}

void RunChecks(const Description& description, const Scan& scan, const std::string& imagePath) {
    ntfs_volume* vol = nullptr;
    auto resolve = [&](const std::string& text) -> std::pair<std::int32_t, std::int32_t> {
        if (!vol) {
            vol = ntfs_mount(imagePath.c_str(), NTFS_MNT_RDONLY);
            if (!vol) throw std::runtime_error("cannot mount " + imagePath);
        }
        std::int32_t parent = FILE_root, self = FILE_root;
        for (const auto& name : ParsePath(text)) {
            ntfs_inode* dir = ntfs_inode_open(vol, static_cast<MFT_REF>(self));
            if (!dir) throw std::runtime_error("cannot open " + std::to_string(self));
            const MFT_REF ref = ntfs_inode_lookup_by_name(dir, reinterpret_cast<const ntfschar*>(name.data()),
                                                          static_cast<int>(name.size()));
            ntfs_inode_close(dir);
            if (ref == static_cast<MFT_REF>(-1)) throw std::runtime_error("no such path " + text);
            parent = self;
            self = static_cast<std::int32_t>(MREF(ref));
        }
        return {parent, self};
    };
    auto directory = [&](const std::string& text) -> const DirectoryFacts& {
        const auto it = scan.directories.find(resolve(text).second);
        if (it == scan.directories.end()) throw std::runtime_error(text + " is not a directory in use");
        return it->second;
    };
    auto number = [](const Step& s, std::size_t i) {
        if (s.args.size() <= i) throw std::runtime_error("check " + s.args[0] + " needs a number");
        return std::stoll(s.args[i], nullptr, 0);
    };
    std::string failure;
    for (const auto& step : description.steps) {
        if (step.command != "check") continue;
        const auto& what = step.args[0];
        const std::string arg = step.args.size() > 1 ? step.args[1] : "";
        bool ok = false;
        try {
            if (what == "alloc") ok = directory(arg).hasAllocation;
            else if (what == "root-only") ok = !directory(arg).hasAllocation;
            else if (what == "buffers") ok = directory(arg).indxBuffers >= number(step, 2);
            else if (what == "alloc-in-extension") ok = directory(arg).allocationInExtension;
            else if (what == "stale") ok = directory(arg).staleBuffers > 0;
            else if (what == "mft-runs") ok = scan.mftRuns >= number(step, 1);
            else if (what == "mft-straddle") ok = scan.mftRecordStraddlesRuns;
            else if (what == "deleted-dir-indx") ok = scan.deletedDirsWithIndx > 0;
            else if (what == "status") ok = scan.status == number(step, 1);
            else if (what == "namespace") {
                const auto [parent, self] = resolve(arg);
                for (const auto& n : scan.indexNames)
                    ok |= n.directory == parent && n.id == self && n.nameSpace == number(step, 2);
            } else if (what == "entry" || what == "no-entry" || what == "flag") {
                const auto [parent, self] = resolve(arg);
                int count = 0;
                for (const auto& e : scan.entries) {
                    if (e.parentId != parent || e.id != self) continue;
                    ++count;
                    if (what == "flag") ok = e.flag == number(step, 2);
                }
                if (what == "entry") ok = count == 1;
                if (what == "no-entry") ok = count == 0;
            } else if (what == "absent") {
                // A deleted name: no entry under its parent carries it.
                const Path path = ParsePath(arg);
                const Path parentPath(path.begin(), path.end() - 1);
                const std::int32_t parent = parentPath.empty() ? FILE_root : resolve(step.args[1].substr(0, step.args[1].rfind('/'))).second;
                ok = true;
                for (const auto& e : scan.entries) ok &= !(e.parentId == parent && e.name == path.back());
            } else {
                throw std::runtime_error("unknown check '" + what + "'");
            }
        } catch (const std::exception& e) {
            failure = "line " + std::to_string(step.line) + ": check " + what + " " + arg + ": " + e.what();
            break;
        }
        if (!ok) {
            failure = "line " + std::to_string(step.line) + ": check " + what + " " + arg + " does not hold";
            break;
        }
    }
    if (vol) ntfs_umount(vol, FALSE);
    if (!failure.empty()) throw std::runtime_error(failure);
}

}  // namespace volume_builder
