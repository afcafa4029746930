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
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "ntfs/index_reader.h"

namespace tarnwick {

class DirectoryThread {
public:
    // `reader` is used only through ReadDirectory, on the thread, until Finish.
    explicit DirectoryThread(IndexReader& reader);
    DirectoryThread(const DirectoryThread&) = delete;
    DirectoryThread& operator=(const DirectoryThread&) = delete;
    // Abandons what is left and joins the thread: for a load that ends
    // without Finish (an exception on its way out).
    ~DirectoryThread();

    // Hands a directory over, after every one added before it. Waits while
    // the thread is far behind, so that the waiting directories stay few.
    void Add(DirectoryJob&& job);

    // True once a directory could not be read: the pass may stop early.
    bool Failed() const { return failed_.load(std::memory_order_relaxed); }

    // Reads every directory added and stops the thread: 0, or -1 when one
    // could not be read. Rethrows what the thread threw (out of memory).
    int Finish();

private:
    void Run();
    void HandOver(std::unique_lock<std::mutex>& lock);

    static constexpr std::size_t kBatch = 64;
    static constexpr std::size_t kMostWaiting = 64 * kBatch;

    IndexReader& reader_;
    std::vector<DirectoryJob> filling_;  // the pass's, not yet handed over
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DirectoryJob> waiting_;  // handed over, not yet taken
    bool finishing_ = false;
    bool abandoned_ = false;
    bool idle_ = false;
    bool inline_ = false;  // no thread could be started
    std::atomic<bool> failed_{false};
    std::exception_ptr thrown_;
    std::thread thread_;
};

}  // namespace tarnwick
