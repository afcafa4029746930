// One large buffer between the listing and standard output: a million lines
// go out in a few hundred big writes instead of a million small ones.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string_view>

namespace tarnwick::cli {

class OutputBuffer {
public:
    // With `file` null everything stays in memory (for tests); otherwise the
    // buffer is written out each time its `chunk` bytes are full.
    explicit OutputBuffer(std::FILE* file, std::size_t chunk = std::size_t{1} << 20);
    ~OutputBuffer();
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    // Room for at least `bytes` more bytes at the returned address; finish
    // with Commit(end) where `end` is one past the last byte written.
    char* Reserve(std::size_t bytes) {
        if (capacity_ - used_ < bytes) MakeRoom(bytes);
        return data_.get() + used_;
    }
    void Commit(char* end) { used_ = static_cast<std::size_t>(end - data_.get()); }

    void Append(std::string_view text);
    void Append(char c) {
        char* p = Reserve(1);
        *p = c;
        Commit(p + 1);
    }

    // Text formatted elsewhere, after what is held: a large block goes out
    // as it is rather than copied through the buffer.
    void Pass(std::string_view text);
    // Forgets what is held (in memory mode, once it has been passed on).
    void Clear() { used_ = 0; }

    // Writes everything held so far. False once any write has failed.
    bool Flush();
    bool Failed() const { return failed_; }
    int Error() const { return error_; }

    // What has not been written out yet (all of it in memory mode).
    std::string_view Pending() const { return {data_.get(), used_}; }

private:
    void MakeRoom(std::size_t bytes);
    void WriteOut();

    std::FILE* file_;
    std::unique_ptr<char[]> data_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    bool failed_ = false;
    int error_ = 0;
};

}  // namespace tarnwick::cli
