#include "capture/sim/worker.h"

#include <atomic>
#include <chrono>

#include "capture/sim/sim_clock.h"

namespace kiru::sim {

std::uint64_t NewOwnerId() {
    static std::atomic<std::uint64_t> next{1};
    return next++;
}

Worker::~Worker() { Stop(); }

bool Worker::Post(std::uint64_t owner, std::int64_t dueUs, std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping) return false;
    if (!m_thread.joinable()) {
        m_thread = std::thread([this] { Run(); });
        m_threadId = m_thread.get_id();
    }
    m_items.emplace(std::make_pair(dueUs, m_sequence++), Item{owner, std::move(fn)});
    m_wake.notify_one();
    return true;
}

void Worker::Cancel(std::uint64_t owner) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool onThread = std::this_thread::get_id() == m_threadId;
    for (;;) {
        for (auto it = m_items.begin(); it != m_items.end();) {
            it = it->second.owner == owner ? m_items.erase(it) : std::next(it);
        }
        // Work posted by the running item itself is removed on the next pass.
        if (onThread || !(m_running && m_runningOwner == owner)) break;
        m_idle.wait(lock);
    }
}

void Worker::Stop() {
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_items.clear();
        m_wake.notify_all();
        thread = std::move(m_thread);
    }
    if (thread.joinable()) thread.join();
}

bool Worker::OnWorkerThread() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::this_thread::get_id() == m_threadId;
}

void Worker::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        if (m_items.empty()) {
            m_wake.wait(lock);
            continue;
        }
        auto first = m_items.begin();
        const std::int64_t due = first->first.first;
        const std::int64_t now = NowUs();
        if (due > now) {
            m_wake.wait_for(lock, std::chrono::microseconds(due - now));
            continue;
        }
        Item item = std::move(first->second);
        m_items.erase(first);
        m_running = true;
        m_runningOwner = item.owner;
        lock.unlock();
        item.fn();
        item.fn = nullptr;
        lock.lock();
        m_running = false;
        m_runningOwner = 0;
        m_idle.notify_all();
    }
}

}  // namespace kiru::sim
