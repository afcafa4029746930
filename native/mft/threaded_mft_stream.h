// The master file table as one stream of records, like MftStream, but read
// a megabyte at a time on a thread of its own: the system's copy of the
// next stretch of the table is made while the caller decodes this one. The
// copy takes longer than the decoding, so a caller that would wait for it
// reads a later stretch itself meanwhile. For the listing, which may use a
// second core; the exports' load starts no thread and reads with MftStream.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "platform/page_allocator.h"
#include "platform/platform.h"

namespace tarnwick {

// A stretch of the volume the table lies in, in table order.
struct TableExtent {
    std::int64_t offset = 0;
    std::uint64_t bytes = 0;
};

class ThreadedMftStream {
public:
    // The extents are read one after the other as one stream of records; a
    // record split between two extents is put together from both. Nothing
    // at or past `volumeEnd` is read: an extent that reaches there ends the
    // stream with a failure where it crosses it. The handle is read only
    // with ReadExactAt until this object is gone.
    //
    // `idle`, when given, is work for the reading thread while every chunk
    // is full: it is called, one step at a time, until it answers false,
    // and runs beside the caller.
    ThreadedMftStream(platform::RawHandle volume, std::size_t recordSize, std::vector<TableExtent> extents,
                      std::int64_t volumeEnd = std::numeric_limits<std::int64_t>::max(),
                      std::function<bool()> idle = {});
    ~ThreadedMftStream();
    ThreadedMftStream(const ThreadedMftStream&) = delete;
    ThreadedMftStream& operator=(const ThreadedMftStream&) = delete;

    // 1 when record() holds the next record (or the next record is one that
    // could not be read: unreadable()), 0 at the end of the extents, -1 when
    // reads failed for good or would cross the end of the volume (after
    // every whole record read before it).
    //
    // A read that fails is tried again a record at a time. A few records
    // that cannot be read with readable ones after them (bad sectors) are
    // passed over, each given as unreadable; a longer run of them, or one
    // that reaches the end of the table, is where the volume ends (an image
    // cut short), as is any failure inside a record split between extents.
    int Next();

    // Valid, and changeable in place, until the next call of Next.
    std::span<std::uint8_t> record() { return {current_, recordSize_}; }
    // The record Next gave could not be read: record() holds zeros.
    bool unreadable() const { return unreadable_; }

    // Unreadable records in a row beyond which the volume counts as ended.
    static constexpr std::size_t kMostUnreadableInARow = 64;

private:
    struct Chunk {
        std::uint8_t* bytes = nullptr;  // chunkBytes_ of storage_
        std::size_t length = 0;
        bool failed = false;  // the stream ends with a failure after these bytes
        bool last = false;    // the stream ends after these bytes
        std::size_t holds = kNone;  // the number of the chunk it holds once filled
        std::vector<std::size_t> unreadable;  // offsets of the records that could not be read, rising
    };
    // Where the next chunk lies; or, with no bytes, how the stream ends.
    struct Piece {
        std::int64_t offset = 0;
        std::size_t length = 0;
        bool failed = false;
        bool last = false;
        std::uint64_t streamAt = 0;  // bytes of the stream before it
    };
    static constexpr std::size_t kNone = ~std::size_t{0};

    // Hands out the next stretch to read and its chunk, in stream order;
    // false when the ring is full or the stream has no more. Under the lock.
    bool Claim(std::size_t& number, Piece& piece);
    void Read(const Piece& piece, Chunk& chunk);
    // Reads a record at a time after a whole read failed, so every record
    // before a failure that ends the stream still counts; returns the bytes
    // the chunk holds, false in `failed` when that is all of them.
    std::size_t ReadByRecord(Chunk& chunk, const Piece& piece, bool& failed);
    // Claims, reads and marks one chunk; the lock is held on entry and on
    // return, not while reading.
    void ReadOne(std::unique_lock<std::mutex>& lock, std::size_t number, const Piece& piece);
    void ReadLoop();
    // The next filled chunk, once the one before it is given back.
    Chunk* TakeNext();

    platform::RawHandle volume_;
    std::size_t recordSize_;
    std::vector<TableExtent> extents_;
    std::int64_t volumeEnd_;
    std::function<bool()> idle_;
    // Where the reading stands.
    std::size_t extent_ = 0;
    std::uint64_t extentDone_ = 0;
    std::uint64_t streamDone_ = 0;  // bytes of the stream claimed
    bool planEnded_ = false;

    // A ring of chunks, claimed and filled in order by the reading thread,
    // and by the caller too while the chunk it wants is still being read;
    // the caller empties them in the same order.
    std::vector<Chunk> ring_;
    // The chunks' bytes in one page-aligned block of whole huge pages: the
    // system copies into a buffer that starts off a cache line a third
    // slower.
    LargeVector<std::uint8_t> storage_;
    std::size_t chunkBytes_ = 0;
    std::size_t claimed_ = 0;  // chunks claimed for reading since the start
    std::size_t taken_ = 0;    // chunks the caller has given back
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread reader_;

    // The caller's side.
    Chunk* chunk_ = nullptr;
    std::size_t at_ = 0;
    std::vector<std::uint8_t> pending_;  // a record split between chunks
    std::size_t pendingFilled_ = 0;
    std::uint8_t* current_ = nullptr;
    std::size_t nextUnreadable_ = 0;  // into chunk_->unreadable
    std::size_t unreadableRun_ = 0;   // passed over, not given yet: a readable record must follow
    std::size_t giveUnreadable_ = 0;  // given before the record at at_
    bool unreadable_ = false;
    bool endedInFailure_ = false;
};

}  // namespace tarnwick
