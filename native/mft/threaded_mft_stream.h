// The master file table as one stream of records, like MftStream, but read
// a megabyte at a time on a thread of its own: the system's copy of the
// next stretch of the table is made while the caller decodes this one. For
// the listing, which may use a second core; the exports' load starts no
// thread and reads with MftStream.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
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
    // stream with a failure where it crosses it. The handle is used by the
    // reading thread alone until this object is gone.
    ThreadedMftStream(platform::RawHandle volume, std::size_t recordSize, std::vector<TableExtent> extents,
                      std::int64_t volumeEnd = std::numeric_limits<std::int64_t>::max());
    ~ThreadedMftStream();
    ThreadedMftStream(const ThreadedMftStream&) = delete;
    ThreadedMftStream& operator=(const ThreadedMftStream&) = delete;

    // 1 when record() holds the next record, 0 at the end of the extents,
    // -1 when a read failed or would cross the end of the volume (after
    // every whole record read before it).
    int Next();

    // Valid, and changeable in place, until the next call of Next.
    std::span<std::uint8_t> record() { return {current_, recordSize_}; }

private:
    struct Chunk {
        // Page-aligned: the system copies into a buffer that starts off a
        // cache line a third slower.
        LargeVector<std::uint8_t> bytes;
        std::size_t length = 0;
        bool failed = false;  // the stream ends with a failure after these bytes
        bool last = false;    // the stream ends after these bytes
    };

    // Reads the next stretch into `chunk`; the reading thread's (or, with
    // no thread to be had, the caller's) side.
    void Fill(Chunk& chunk);
    // Reads [offset, offset + length) a record at a time after a whole read
    // failed, so every record before the failure still counts; returns the
    // bytes read.
    std::size_t FillPrefix(Chunk& chunk, std::int64_t offset, std::size_t length);
    void ReadLoop();
    // The next filled chunk, once the one before it is given back.
    Chunk* TakeNext();

    platform::RawHandle volume_;
    std::size_t recordSize_;
    std::vector<TableExtent> extents_;
    std::int64_t volumeEnd_;
    // Where the reading side stands.
    std::size_t extent_ = 0;
    std::uint64_t extentDone_ = 0;

    // A ring of chunks: the reader fills them in order, the caller empties
    // them in the same order.
    std::vector<Chunk> ring_;
    std::size_t filled_ = 0;  // chunks filled since the start
    std::size_t taken_ = 0;   // chunks the caller has given back
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread reader_;
    bool threaded_ = false;

    // The caller's side.
    Chunk* chunk_ = nullptr;
    std::size_t at_ = 0;
    std::vector<std::uint8_t> pending_;  // a record split between chunks
    std::size_t pendingFilled_ = 0;
    std::uint8_t* current_ = nullptr;
};

}  // namespace tarnwick
