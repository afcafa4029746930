#include "mft/mft_stream.h"

#include <algorithm>

namespace tarnwick {

bool MftStream::StartRun(std::int64_t offset, std::uint64_t bytes) {
    const auto inside = static_cast<std::uint64_t>(std::max<std::int64_t>(volumeEnd_ - offset, 0));
    runLeft_ = std::min(bytes, inside);
    pastEnd_ = bytes > inside;
    return platform::SetPosition(volume_, offset, runLeft_);
}

int MftStream::Next() {
    while (runLeft_ > 0) {
        if (filled_ == 0 && runLeft_ >= record_.size()) {
            current_ = platform::ReadInPlace(volume_, record_.data(), static_cast<std::uint32_t>(record_.size()));
            if (current_ == nullptr) return -1;
            runLeft_ -= record_.size();
            return 1;
        }
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(record_.size() - filled_, runLeft_));
        if (!platform::ReadExact(volume_, record_.data() + filled_, static_cast<std::uint32_t>(want))) return -1;
        filled_ += want;
        runLeft_ -= want;
        if (filled_ == record_.size()) {
            filled_ = 0;
            current_ = record_.data();
            return 1;
        }
    }
    return pastEnd_ ? -1 : 0;
}

}  // namespace tarnwick
