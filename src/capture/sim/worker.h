// A library thread that runs posted work at due times on the station clock.
// Each simulated module has two: its board clock (scripts, decision queues,
// pulse generators) and its interrupt thread (client callbacks). The thread
// starts with the first post and is joined by Stop or the destructor.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace kiru::sim {

class Worker {
public:
    Worker() = default;
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Runs fn on the worker thread at dueUs (station clock, microseconds);
    // work that is due at the same time runs in posting order. owner groups
    // work for Cancel. Returns false once the worker is stopped.
    bool Post(std::uint64_t owner, std::int64_t dueUs, std::function<void()> fn);

    // Drops the owner's pending work and, unless called on the worker thread,
    // waits for the owner's work that is running to return.
    void Cancel(std::uint64_t owner);

    // Drops all pending work and joins the thread. Not from the worker thread.
    void Stop();

    bool OnWorkerThread() const;

private:
    struct Item {
        std::uint64_t owner;
        std::function<void()> fn;
    };
    void Run();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::multimap<std::pair<std::int64_t, std::uint64_t>, Item> m_items;
    std::uint64_t m_sequence = 0;
    std::uint64_t m_runningOwner = 0;
    bool m_running = false;
    bool m_stopping = false;
    std::thread m_thread;
    std::thread::id m_threadId;
};

// Owner ids for Worker::Post, unique in the process.
std::uint64_t NewOwnerId();

}  // namespace kiru::sim
