#include "catalogue/directory_thread.h"

#include <iterator>
#include <system_error>
#include <utility>

namespace tarnwick {

DirectoryThread::DirectoryThread(IndexReader& reader) : reader_(reader) {
    filling_.reserve(kBatch);
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread to be had: the directories are read as they are added.
        inline_ = true;
    }
}

DirectoryThread::~DirectoryThread() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard lock(mutex_);
        abandoned_ = true;
        finishing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void DirectoryThread::Add(DirectoryJob&& job) {
    if (inline_) {
        if (!failed_.load() && reader_.ReadDirectory(job) < 0) failed_.store(true);
        return;
    }
    filling_.push_back(std::move(job));
    if (filling_.size() < kBatch) return;
    std::unique_lock lock(mutex_);
    // Backpressure: the pass waits rather than pile up directories.
    changed_.wait(lock, [this] { return waiting_.size() < kMostWaiting || failed_.load(); });
    HandOver(lock);
}

void DirectoryThread::HandOver(std::unique_lock<std::mutex>& lock) {
    const bool wake = idle_;
    waiting_.insert(waiting_.end(), std::make_move_iterator(filling_.begin()), std::make_move_iterator(filling_.end()));
    filling_.clear();
    lock.unlock();
    if (wake) changed_.notify_all();
}

int DirectoryThread::Finish() {
    if (thread_.joinable()) {
        std::unique_lock lock(mutex_);
        finishing_ = true;
        HandOver(lock);
        changed_.notify_all();
        thread_.join();
    }
    if (thrown_) std::rethrow_exception(std::exchange(thrown_, nullptr));
    return failed_.load() ? -1 : 0;
}

void DirectoryThread::Run() {
    std::vector<DirectoryJob> taken;
    std::unique_lock lock(mutex_);
    for (;;) {
        idle_ = true;
        changed_.wait(lock, [this] { return !waiting_.empty() || finishing_; });
        idle_ = false;
        if (abandoned_ || (waiting_.empty() && finishing_)) return;
        taken.swap(waiting_);
        lock.unlock();
        changed_.notify_all();  // room for the pass again
        try {
            for (const DirectoryJob& job : taken) {
                if (reader_.ReadDirectory(job) < 0) {
                    failed_.store(true);
                    break;
                }
            }
        } catch (...) {
            thrown_ = std::current_exception();
            failed_.store(true);
        }
        taken.clear();
        lock.lock();
        if (failed_.load()) {
            changed_.notify_all();
            return;
        }
    }
}

}  // namespace tarnwick
