#include "output_buffer.h"

#include <cerrno>
#include <cstring>

namespace tarnwick::cli {

OutputBuffer::OutputBuffer(std::FILE* file, std::size_t chunk)
    : file_(file), data_(new char[chunk]), capacity_(chunk) {}

OutputBuffer::~OutputBuffer() = default;

void OutputBuffer::Append(std::string_view text) {
    if (text.empty()) return;  // an empty view may carry a null pointer, which memcpy must not see
    char* p = Reserve(text.size());
    std::memcpy(p, text.data(), text.size());
    Commit(p + text.size());
}

void OutputBuffer::Pass(std::string_view text) {
    if (file_ == nullptr || text.size() < capacity_ - used_) {
        Append(text);
        return;
    }
    WriteOut();
    if (!failed_ && std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
        failed_ = true;
        error_ = errno;
    }
}

void OutputBuffer::WriteOut() {
    if (file_ == nullptr || used_ == 0) return;
    if (!failed_ && std::fwrite(data_.get(), 1, used_, file_) != used_) {
        failed_ = true;
        error_ = errno;
    }
    // After a failure the output is dropped: the caller reports the error once.
    used_ = 0;
}

bool OutputBuffer::Flush() {
    WriteOut();
    if (file_ != nullptr && !failed_ && std::fflush(file_) != 0) {
        failed_ = true;
        error_ = errno;
    }
    return !failed_;
}

void OutputBuffer::MakeRoom(std::size_t bytes) {
    WriteOut();
    if (capacity_ - used_ >= bytes) return;
    std::size_t grown = capacity_ * 2;
    while (grown - used_ < bytes) grown *= 2;
    std::unique_ptr<char[]> bigger(new char[grown]);
    std::memcpy(bigger.get(), data_.get(), used_);
    data_ = std::move(bigger);
    capacity_ = grown;
}

}  // namespace tarnwick::cli
