// Catalogue entries built in memory, as the library would hand them out.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "tarnwick.h"

namespace tarnwick::cli::test {

inline constexpr std::int32_t kFile = 1;
inline constexpr std::int32_t kDirectory = 3;

class Entries {
public:
    ResultRecord_Internal& Add(std::uint32_t id, std::uint32_t parent, std::u16string_view name, std::int32_t flag = kFile) {
        auto entry = std::make_unique<ResultRecord_Internal>();
        *entry = ResultRecord_Internal{};
        entry->id = static_cast<std::int32_t>(id);
        entry->parentId = static_cast<std::int32_t>(parent);
        for (std::size_t i = 0; i < name.size() && i < 255; ++i) entry->name[i] = name[i];
        entry->flag = flag;
        owned_.push_back(std::move(entry));
        pointers_.push_back(owned_.back().get());
        return *owned_.back();
    }
    ResultRecord_Internal& Directory(std::uint32_t id, std::uint32_t parent, std::u16string_view name) {
        return Add(id, parent, name, kDirectory);
    }

    const std::vector<const ResultRecord_Internal*>& All() const { return pointers_; }
    void Reverse() { std::reverse(pointers_.begin(), pointers_.end()); }

private:
    std::vector<std::unique_ptr<ResultRecord_Internal>> owned_;
    std::vector<const ResultRecord_Internal*> pointers_;
};

}  // namespace tarnwick::cli::test
