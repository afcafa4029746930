// The names and flags of the file records, collected during the pass and
// looked up by record number when the catalogue is finished.
#pragma once

#include <cstddef>
#include <climits>
#include <cstdint>
#include <vector>

#include "catalogue/stable_storage.h"
#include "platform/page_allocator.h"
#include "ntfs/file_name.h"

namespace tarnwick {

struct RecordName {
    std::int32_t recordNumber;
    std::int32_t flags;
    std::int32_t mark;           // kFromExtensionRecord, or 0
    const std::uint16_t* name;   // terminated, at most kLongestName units, in the list's own storage
};

// The element's name and flags were found in an extension record, whose
// flags say nothing about whether the file is a directory.
inline constexpr std::int32_t kFromExtensionRecord = 1;

class RecordNameList {
public:
    void Append(std::int32_t recordNumber, NameRef name, std::int32_t flags, std::int32_t mark = 0);

    // The flags of the base record at `position` of the master file table,
    // noted for every base record of the pass in order.
    void NoteBaseFlags(std::uint32_t position, std::int32_t flags);


    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    // The element at `index` in list order (sorted order after Sort).
    const RecordName& operator[](std::size_t index) const { return *items_[index]; }

    // Orders the list by record number as signed numbers. Elements with equal
    // numbers keep their order of appending, so lookups are repeatable. An
    // element from an extension record takes the flags of its base record
    // here, when the pass saw that record: only the base record says whether
    // the file is a directory.
    void Sort();

    // Index of an element whose number equals `recordNumber` in the sorted
    // list, or -1. The answer is the one halving the sorted numbers gives,
    // also for a number several elements share; where the numbers are dense
    // (they are a sound volume's record numbers) it comes from a table by
    // number instead of a search.
    std::int32_t Find(std::int32_t recordNumber) const;

    // The flags of the element Find picks, or `missing` when there is none.
    std::int32_t FlagsOf(std::int32_t recordNumber, std::int32_t missing) const {
        const std::int32_t k = Find(recordNumber);
        return k < 0 ? missing : sortedFlags_[static_cast<std::size_t>(k)];
    }

    void Clear();

private:
    std::int32_t Halve(std::int32_t recordNumber) const;
    void BuildTableByNumber();

    StableStorage<RecordName> storage_;
    TextStorage names_;
    LargeVector<RecordName*> items_;
    // In sorted order, packed: the lookups read these rather than elements
    // scattered over the storage.
    LargeVector<std::int32_t> sortedNumbers_;
    LargeVector<std::int32_t> sortedFlags_;
    // Find's answer + 1 for each number from 0, 0 where there is none; empty
    // when the numbers are too sparse for a table.
    LargeVector<std::int32_t> indexByNumber_;
    LargeVector<std::int32_t> baseFlags_;  // by position; kNoBaseRecord where none was seen
    static constexpr std::int32_t kNoBaseRecord = INT32_MIN;
};

}  // namespace tarnwick
