#include "mft/threaded_mft_stream.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace tarnwick {

namespace {

// A read this size costs one system call for a few hundred records, and
// four of them in flight keep the reading a little ahead without letting
// the chunks fall out of the cache before they are decoded.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
constexpr std::size_t kChunks = 4;

// The reading thread wrote the chunk on another core, so each line of a
// record is a wait when first read here. A record's headers and the
// attributes a decoder reads first lie in its first few lines: asking for
// those of a record a little ahead lets the wait pass while this one is
// decoded (a few percent of the decoding time on a million records).
constexpr std::size_t kRecordsAhead = 2;
constexpr std::size_t kLinesAhead = 8;
constexpr std::size_t kLineBytes = 64;
void FetchAhead(const std::uint8_t* record) {
#if defined(__GNUC__)
    for (std::size_t line = 0; line < kLinesAhead; ++line) __builtin_prefetch(record + kLineBytes * line);
#else
    (void)record;
#endif
}

}  // namespace

ThreadedMftStream::ThreadedMftStream(platform::RawHandle volume, std::size_t recordSize,
                                     std::vector<TableExtent> extents, std::int64_t volumeEnd,
                                     std::function<bool()> idle)
    : volume_(volume), recordSize_(recordSize), extents_(std::move(extents)), volumeEnd_(volumeEnd),
      idle_(std::move(idle)), pending_(recordSize) {
    // A small table (a test volume, a fuzzer's input) gets a ring of its
    // own size, not four megabytes to clear.
    std::uint64_t tableBytes = 0;
    for (const TableExtent& extent : extents_) tableBytes += std::min<std::uint64_t>(extent.bytes, kChunkBytes);
    chunkBytes_ = static_cast<std::size_t>(std::clamp<std::uint64_t>(tableBytes, recordSize, std::max(kChunkBytes, recordSize)));
    storage_.resize(kChunks * chunkBytes_);
    ring_.resize(kChunks);
    for (std::size_t i = 0; i < kChunks; ++i) ring_[i].bytes = storage_.data() + i * chunkBytes_;
    try {
        reader_ = std::thread(&ThreadedMftStream::ReadLoop, this);
    } catch (const std::system_error&) {
        // No thread to be had: the caller reads every chunk itself.
    }
}

ThreadedMftStream::~ThreadedMftStream() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (reader_.joinable()) reader_.join();
}

bool ThreadedMftStream::Claim(std::size_t& number, Piece& piece) {
    if (stop_ || planEnded_ || claimed_ - taken_ >= ring_.size()) return false;
    number = claimed_++;
    piece = {};
    while (extent_ < extents_.size()) {
        const TableExtent& extent = extents_[extent_];
        if (extent.offset < 0) {
            piece.failed = true;
            break;
        }
        const auto inside = static_cast<std::uint64_t>(std::max<std::int64_t>(volumeEnd_ - extent.offset, 0));
        const std::uint64_t usable = std::min(extent.bytes, inside);
        if (extentDone_ >= usable) {
            if (extent.bytes > inside) {
                piece.failed = true;
                break;
            }
            ++extent_;
            extentDone_ = 0;
            continue;
        }
        piece.offset = extent.offset + static_cast<std::int64_t>(extentDone_);
        piece.length = static_cast<std::size_t>(std::min<std::uint64_t>(usable - extentDone_, chunkBytes_));
        piece.streamAt = streamDone_;
        extentDone_ += piece.length;
        streamDone_ += piece.length;
        return true;
    }
    piece.last = !piece.failed;
    planEnded_ = true;
    return true;
}

std::size_t ThreadedMftStream::ReadByRecord(Chunk& chunk, const Piece& piece, bool& failed) {
    failed = true;
    // Only whole records can be passed over: the end of one begun in the
    // chunk before, or the start of one the next chunk ends, would be
    // joined to bytes never read.
    const std::size_t head =
        std::min(piece.length, static_cast<std::size_t>((recordSize_ - piece.streamAt % recordSize_) % recordSize_));
    auto read = [&](std::size_t at, std::size_t length) {
        return platform::ReadExactAt(volume_, piece.offset + static_cast<std::int64_t>(at), chunk.bytes + at,
                                     static_cast<std::uint32_t>(length));
    };
    if (head > 0 && !read(0, head)) return 0;
    std::size_t done = head;
    std::size_t run = 0;  // unreadable records just before `done`
    for (; done + recordSize_ <= piece.length; done += recordSize_) {
        if (read(done, recordSize_)) {
            run = 0;
            continue;
        }
        if (run == kMostUnreadableInARow) {
            chunk.unreadable.resize(chunk.unreadable.size() - run);
            return done - run * recordSize_;
        }
        chunk.unreadable.push_back(done);
        ++run;
    }
    if (done < piece.length && !read(done, piece.length - done)) return done;
    failed = false;
    return piece.length;
}

void ThreadedMftStream::Read(const Piece& piece, Chunk& chunk) {
    chunk.length = 0;
    chunk.failed = piece.failed;
    chunk.last = piece.last;
    chunk.unreadable.clear();
    if (piece.length == 0) return;
    bool failed = true;
    try {
        if (platform::ReadExactAt(volume_, piece.offset, chunk.bytes, static_cast<std::uint32_t>(piece.length))) {
            chunk.length = piece.length;
            return;
        }
        chunk.length = ReadByRecord(chunk, piece, failed);
    } catch (...) {
        // A reader behind the handle that throws (out of memory in an
        // evidence file's library) ends the stream like a failed read.
        failed = true;
    }
    chunk.failed = failed;
}

void ThreadedMftStream::ReadOne(std::unique_lock<std::mutex>& lock, std::size_t number, const Piece& piece) {
    Chunk& chunk = ring_[number % ring_.size()];
    lock.unlock();
    Read(piece, chunk);
    lock.lock();
    chunk.holds = number;
    changed_.notify_all();
}

void ThreadedMftStream::ReadLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        std::size_t number = 0;
        Piece piece;
        bool claimed = false;
        bool idleDone = !idle_;
        for (;;) {
            if (stop_ || planEnded_ || (claimed = Claim(number, piece))) break;
            if (!idleDone) {
                // Unlocked meanwhile: what it missed is asked again above
                // before this thread waits.
                lock.unlock();
                try {
                    idleDone = !idle_();
                } catch (...) {
                    idleDone = true;  // work on the side, never a reason to stop reading
                }
                lock.lock();
                continue;
            }
            changed_.wait(lock);
            idleDone = !idle_;
        }
        if (!claimed || stop_) return;
        ReadOne(lock, number, piece);
    }
}

ThreadedMftStream::Chunk* ThreadedMftStream::TakeNext() {
    std::unique_lock lock(mutex_);
    if (chunk_ != nullptr) {
        chunk_->holds = kNone;
        ++taken_;
        changed_.notify_all();
    }
    Chunk& next = ring_[taken_ % ring_.size()];
    while (next.holds != taken_) {
        // Rather than wait for the reading thread, read what comes after
        // (or, with no thread, the chunk wanted itself).
        std::size_t number = 0;
        Piece piece;
        if (Claim(number, piece)) {
            ReadOne(lock, number, piece);
            continue;
        }
        changed_.wait(lock);
    }
    return &next;
}

int ThreadedMftStream::Next() {
    unreadable_ = false;
    if (endedInFailure_) return -1;
    for (;;) {
        if (giveUnreadable_ > 0) {
            --giveUnreadable_;
            unreadable_ = true;
            std::fill(pending_.begin(), pending_.end(), std::uint8_t{0});
            current_ = pending_.data();
            return 1;
        }
        if (chunk_ != nullptr && at_ < chunk_->length) {
            // Unreadable records count only once a readable one follows;
            // a run too long, or one at the end, is where the volume ends.
            const std::vector<std::size_t>& unreadable = chunk_->unreadable;
            if (nextUnreadable_ < unreadable.size() && unreadable[nextUnreadable_] == at_) {
                ++nextUnreadable_;
                at_ += recordSize_;
                if (++unreadableRun_ > kMostUnreadableInARow) {
                    endedInFailure_ = true;
                    return -1;
                }
                continue;
            }
            if (unreadableRun_ > 0) {
                giveUnreadable_ = unreadableRun_;
                unreadableRun_ = 0;
                continue;
            }
            const std::size_t left = chunk_->length - at_;
            if (pendingFilled_ == 0 && left >= recordSize_) {
                current_ = chunk_->bytes + at_;
                if (left >= (kRecordsAhead + 1) * recordSize_) FetchAhead(current_ + kRecordsAhead * recordSize_);
                at_ += recordSize_;
                return 1;
            }
            const std::size_t take = std::min(recordSize_ - pendingFilled_, left);
            std::memcpy(pending_.data() + pendingFilled_, chunk_->bytes + at_, take);
            pendingFilled_ += take;
            at_ += take;
            if (pendingFilled_ == recordSize_) {
                pendingFilled_ = 0;
                current_ = pending_.data();
                return 1;
            }
            continue;
        }
        if (chunk_ != nullptr && (chunk_->failed || chunk_->last)) {
            endedInFailure_ = chunk_->failed || unreadableRun_ > 0;
            return endedInFailure_ ? -1 : 0;
        }
        chunk_ = TakeNext();
        at_ = 0;
        nextUnreadable_ = 0;
    }
}

}  // namespace tarnwick
