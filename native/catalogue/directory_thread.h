// Reads the directories' index buffers on a thread of their own while the
// pass goes on through the master file table. The two halves of a load read
// different bytes through different handles and fill different lists (the
// catalogue's entries; the record names), so on two cores a load takes about
// as long as the longer half instead of both.
//
// Directories are read in the order they were added, exactly as the pass
// would have read them, so the entries come out in the same order. The first
// directory that cannot be read ends the reading; since it was added before
// anything the pass met later, its failure is the load's outcome.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "catalogue/index_reader.h"

namespace tarnwick {

class DirectoryThread {
public:
    // Directories a few megabytes ahead keep the thread busy whenever the
    // pass meets many at once; the bound keeps a volume of millions of
    // directories from queueing them all.
    static constexpr std::size_t kMostWaitingBytes = std::size_t{32} << 20;

    // `reader` is used only through ReadDirectory, on the thread, until
    // Finish. `whileWaiting`, when given, is work for the pass to do instead
    // of waiting for the thread (true when it did some): such as preparing
    // what the thread will need. Directories handed over wait up to about
    // `mostWaitingBytes` of copies before Add waits.
    explicit DirectoryThread(IndexReader& reader, std::function<bool()> whileWaiting = {},
                             std::size_t mostWaitingBytes = kMostWaitingBytes);
    DirectoryThread(const DirectoryThread&) = delete;
    DirectoryThread& operator=(const DirectoryThread&) = delete;
    // Abandons what is left and joins the thread: for a load that ends
    // without Finish (an exception on its way out).
    ~DirectoryThread();

    // Hands a directory over (a copy of its name and runs), after every one
    // added before it. Waits while the thread is far behind, so that the
    // directories waiting stay within a bounded size.
    void Add(const Directory& directory);

    // True once a directory could not be read: the pass may stop early.
    bool Failed() const { return failed_.load(std::memory_order_relaxed); }

    // Reads every directory added and stops the thread: 0, or -1 when one
    // could not be read. Rethrows what the thread threw (out of memory).
    int Finish();

private:
    // Directories handed over together, their names and runs packed.
    struct Batch {
        struct Entry {
            std::size_t nameAt, nameUnits, runsAt, runCount;
            std::int32_t flag;
            bool live;
        };
        std::vector<Entry> directories;
        std::vector<std::uint16_t> names;
        std::vector<RunEntry> runs;

        std::size_t Bytes() const;
        void Clear();
    };

    void Run();
    void ReadBatch(const Batch& batch);
    void HandOver(std::unique_lock<std::mutex>& lock);
    void WaitForRoom(std::unique_lock<std::mutex>& lock);

    static constexpr std::size_t kBatch = 64;

    IndexReader& reader_;
    std::function<bool()> whileWaiting_;
    std::size_t mostWaitingBytes_;
    Batch filling_;  // the pass's, not yet handed over
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> waiting_;  // handed over, not yet taken
    std::vector<Batch> spare_;   // read, kept for their storage
    std::size_t waitingBytes_ = 0;
    bool finishing_ = false;
    bool abandoned_ = false;
    bool stopped_ = false;  // the thread is done
    bool inline_ = false;   // no thread could be started
    std::atomic<bool> failed_{false};
    std::exception_ptr thrown_;
    std::thread thread_;
};

}  // namespace tarnwick
