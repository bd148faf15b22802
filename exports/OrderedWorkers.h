#pragma once

// Items made on a few threads of their own and taken in their order on the calling thread,
// which meanwhile does what must happen in order (writing a file). A thread takes the next
// index still to make, but never runs more than `ahead` items past the one taken last, so
// the memory held stays bounded whatever order the items are finished in. Each thread keeps
// a context of its own (GDAL's transformers are not shared between threads, and are
// destroyed on the thread that made them).

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// One thread per core, at most four: more would only hold more items in memory.
inline int WorkerThreads() {
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 4);
}

template <typename Item, typename Context> class OrderedWorkers {
public:
    // Makes a thread's context, on that thread, before its first item.
    using Prepare = std::function<Context()>;
    // Makes item `index` with the thread's context; nullopt when it fails.
    using Make = std::function<std::optional<Item>(int index, Context& context)>;

    OrderedWorkers(int count, int threads, int ahead, Prepare prepare, Make make)
        : m_count(count), m_ahead(std::max(1, ahead)), m_prepare(std::move(prepare)),
          m_make(std::move(make)) {
        for (int worker = 0; worker < std::max(1, threads); ++worker) {
            m_threads.emplace_back([this] { run(); });
        }
    }

    // Gives up what is not made yet and waits for the threads.
    ~OrderedWorkers() {
        cancel();
        for (std::thread& t : m_threads) {
            t.join();
        }
    }
    OrderedWorkers(const OrderedWorkers&) = delete;
    OrderedWorkers& operator=(const OrderedWorkers&) = delete;

    // Item `index`, taken in order from 0, once made; nullopt when making it failed or the work
    // was cancelled.
    std::optional<Item> take(int index) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_cancelled || m_made.count(index) > 0; });
        std::optional<Item> item;
        const auto found = m_made.find(index);
        if (found != m_made.end()) {
            item = std::move(found->second);
            m_made.erase(found);
        }
        m_taken = index + 1;
        m_changed.notify_all();
        return item;
    }

    void cancel() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = true;
        m_changed.notify_all();
    }

private:
    void run() {
        Context context = m_prepare();
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [&] {
                return m_cancelled || m_next >= m_count || m_next < m_taken + m_ahead;
            });
            if (m_cancelled || m_next >= m_count) {
                return;
            }
            const int index = m_next++;
            lock.unlock();
            std::optional<Item> item = m_make(index, context);
            lock.lock();
            m_made.emplace(index, std::move(item));
            m_changed.notify_all();
        }
    }

    const int m_count;
    const int m_ahead;
    const Prepare m_prepare;
    const Make m_make;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<int, std::optional<Item>> m_made;
    int m_next = 0;
    int m_taken = 0;
    bool m_cancelled = false;
    std::vector<std::thread> m_threads;
};
