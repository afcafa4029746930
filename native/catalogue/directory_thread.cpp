#include "catalogue/directory_thread.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>
#include <utility>

namespace tarnwick {

std::size_t DirectoryThread::Batch::Bytes() const {
    return directories.size() * sizeof(Entry) + names.size() * sizeof(std::uint16_t) + runs.size() * sizeof(RunEntry);
}

void DirectoryThread::Batch::Clear() {
    directories.clear();
    names.clear();
    runs.clear();
}

DirectoryThread::DirectoryThread(IndexReader& reader, std::function<bool()> whileWaiting,
                                 std::size_t mostWaitingBytes)
    : reader_(reader), whileWaiting_(std::move(whileWaiting)), mostWaitingBytes_(mostWaitingBytes) {
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

void DirectoryThread::Add(const Directory& directory) {
    if (inline_) {
        if (!failed_.load() && reader_.ReadDirectory(directory) < 0) failed_.store(true);
        return;
    }
    Batch& b = filling_;
    b.directories.push_back({b.names.size(), directory.name.units, b.runs.size(), directory.runs.size(), directory.flag,
                             directory.live});
    b.names.resize(b.names.size() + directory.name.units);
    if (directory.name.units > 0) {
        std::memcpy(b.names.data() + b.directories.back().nameAt, directory.name.bytes, 2 * directory.name.units);
    }
    b.runs.insert(b.runs.end(), directory.runs.begin(), directory.runs.end());
    if (b.directories.size() < kBatch) return;

    std::unique_lock lock(mutex_);
    WaitForRoom(lock);
    HandOver(lock);
}

void DirectoryThread::WaitForRoom(std::unique_lock<std::mutex>& lock) {
    // Backpressure: the pass works on something else or waits, rather than
    // pile up directories.
    const auto room = [this] { return waitingBytes_ < mostWaitingBytes_ || failed_.load(); };
    while (!room()) {
        lock.unlock();
        const bool worked = whileWaiting_ && whileWaiting_();
        lock.lock();
        if (!worked) changed_.wait(lock, room);
    }
}

void DirectoryThread::HandOver(std::unique_lock<std::mutex>& lock) {
    waitingBytes_ += filling_.Bytes();
    waiting_.push_back(std::move(filling_));
    if (!spare_.empty()) {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
    } else {
        filling_ = Batch();
    }
    lock.unlock();
    changed_.notify_all();
}

int DirectoryThread::Finish() {
    if (thread_.joinable()) {
        std::unique_lock lock(mutex_);
        finishing_ = true;
        HandOver(lock);
        // The pass is over: what it can still do for the thread, it does.
        while (whileWaiting_) {
            lock.lock();
            const bool done = stopped_;
            lock.unlock();
            if (done) break;
            if (!whileWaiting_()) {
                lock.lock();
                changed_.wait_for(lock, std::chrono::milliseconds(1), [this] { return stopped_; });
                lock.unlock();
            }
        }
        thread_.join();
    }
    if (thrown_) std::rethrow_exception(std::exchange(thrown_, nullptr));
    return failed_.load() ? -1 : 0;
}

void DirectoryThread::ReadBatch(const Batch& batch) {
    for (const Batch::Entry& e : batch.directories) {
        Directory directory;
        directory.name = {reinterpret_cast<const std::uint8_t*>(batch.names.data() + e.nameAt), e.nameUnits};
        directory.flag = e.flag;
        directory.live = e.live;
        directory.runs = std::span<const RunEntry>(batch.runs.data() + e.runsAt, e.runCount);
        if (reader_.ReadDirectory(directory) < 0) {
            failed_.store(true);
            return;
        }
    }
}

void DirectoryThread::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !waiting_.empty() || finishing_; });
        if (abandoned_ || failed_.load() || waiting_.empty()) break;
        Batch batch = std::move(waiting_.front());
        waiting_.pop_front();
        const std::size_t bytes = batch.Bytes();
        lock.unlock();
        try {
            ReadBatch(batch);
        } catch (...) {
            thrown_ = std::current_exception();
            failed_.store(true);
        }
        batch.Clear();
        lock.lock();
        waitingBytes_ -= bytes;
        spare_.push_back(std::move(batch));
        changed_.notify_all();  // room for the pass again
    }
    stopped_ = true;
    changed_.notify_all();
}

}  // namespace tarnwick
