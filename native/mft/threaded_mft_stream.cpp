#include "mft/threaded_mft_stream.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace tarnwick {

namespace {

// A read this size costs one system call for a few hundred records, and
// four of them in flight keep the reader a little ahead without letting the
// chunks fall out of the cache before they are decoded.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
constexpr std::size_t kChunks = 4;

}  // namespace

ThreadedMftStream::ThreadedMftStream(platform::RawHandle volume, std::size_t recordSize,
                                     std::vector<TableExtent> extents, std::int64_t volumeEnd)
    : volume_(volume), recordSize_(recordSize), extents_(std::move(extents)), volumeEnd_(volumeEnd),
      pending_(recordSize) {
    ring_.resize(kChunks);
    for (Chunk& chunk : ring_) chunk.bytes.resize(std::max(kChunkBytes, recordSize));
    try {
        reader_ = std::thread(&ThreadedMftStream::ReadLoop, this);
        threaded_ = true;
    } catch (const std::system_error&) {
        // No thread to be had: the caller reads each chunk as it needs it.
    }
}

ThreadedMftStream::~ThreadedMftStream() {
    if (!threaded_) return;
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    reader_.join();
}

std::size_t ThreadedMftStream::FillPrefix(Chunk& chunk, std::int64_t offset, std::size_t length) {
    std::size_t done = 0;
    while (done + recordSize_ <= length && platform::SetPosition(volume_, offset + static_cast<std::int64_t>(done)) &&
           platform::ReadExact(volume_, chunk.bytes.data() + done, static_cast<std::uint32_t>(recordSize_))) {
        done += recordSize_;
    }
    return done;
}

void ThreadedMftStream::Fill(Chunk& chunk) {
    chunk.length = 0;
    chunk.failed = false;
    chunk.last = false;
    while (extent_ < extents_.size()) {
        const TableExtent& extent = extents_[extent_];
        if (extent.offset < 0) {
            chunk.failed = true;
            return;
        }
        const auto inside = static_cast<std::uint64_t>(std::max<std::int64_t>(volumeEnd_ - extent.offset, 0));
        const std::uint64_t usable = std::min(extent.bytes, inside);
        if (extentDone_ >= usable) {
            if (extent.bytes > inside) {
                chunk.failed = true;
                return;
            }
            ++extent_;
            extentDone_ = 0;
            continue;
        }
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(usable - extentDone_, chunk.bytes.size()));
        const std::int64_t offset = extent.offset + static_cast<std::int64_t>(extentDone_);
        if (!platform::SetPosition(volume_, offset) ||
            !platform::ReadExact(volume_, chunk.bytes.data(), static_cast<std::uint32_t>(length))) {
            chunk.length = FillPrefix(chunk, offset, length);
            chunk.failed = true;
            return;
        }
        chunk.length = length;
        extentDone_ += length;
        return;
    }
    chunk.last = true;
}

void ThreadedMftStream::ReadLoop() {
    for (;;) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return stop_ || filled_ - taken_ < ring_.size(); });
        if (stop_) return;
        Chunk& chunk = ring_[filled_ % ring_.size()];
        lock.unlock();
        try {
            Fill(chunk);
        } catch (...) {
            // A reader behind the handle that throws (out of memory in an
            // evidence file's library) ends the stream like a failed read.
            chunk.length = 0;
            chunk.failed = true;
        }
        lock.lock();
        ++filled_;
        const bool end = chunk.failed || chunk.last;
        lock.unlock();
        changed_.notify_all();
        if (end) return;
    }
}

ThreadedMftStream::Chunk* ThreadedMftStream::TakeNext() {
    if (!threaded_) {
        Fill(ring_[0]);
        return &ring_[0];
    }
    std::unique_lock lock(mutex_);
    if (chunk_ != nullptr) {
        ++taken_;
        changed_.notify_all();
    }
    changed_.wait(lock, [this] { return filled_ > taken_; });
    return &ring_[taken_ % ring_.size()];
}

int ThreadedMftStream::Next() {
    for (;;) {
        if (chunk_ != nullptr && at_ < chunk_->length) {
            const std::size_t left = chunk_->length - at_;
            if (pendingFilled_ == 0 && left >= recordSize_) {
                current_ = chunk_->bytes.data() + at_;
                at_ += recordSize_;
                return 1;
            }
            const std::size_t take = std::min(recordSize_ - pendingFilled_, left);
            std::memcpy(pending_.data() + pendingFilled_, chunk_->bytes.data() + at_, take);
            pendingFilled_ += take;
            at_ += take;
            if (pendingFilled_ == recordSize_) {
                pendingFilled_ = 0;
                current_ = pending_.data();
                return 1;
            }
            continue;
        }
        if (chunk_ != nullptr && (chunk_->failed || chunk_->last)) return chunk_->failed ? -1 : 0;
        chunk_ = TakeNext();
        at_ = 0;
    }
}

}  // namespace tarnwick
