#include "catalogue/entry_list.h"

#include "ntfs/file_name.h"

namespace tarnwick {

void EntryList::KeyNewEntries() {
    for (std::size_t position = keys_.size(); position < appended_; ++position) {
        const ResultRecord_Internal& e = *storage_.At(position);
        const bool known = e.nameSpace >= kNamespacePosix && e.nameSpace <= kNamespaceWin32AndDos;
        keys_.push_back({(std::uint64_t{OrderedBits(e.id)} << 32) | OrderedBits(e.parentId),
                         static_cast<std::uint32_t>(position),
                         known ? static_cast<std::uint8_t>(e.nameSpace) : EntryKey::kOtherNamespace,
                         e.parentName[0] == 0, e.duplicate != 0});
    }
}

}  // namespace tarnwick
