#include "drive/concurrent.h"

#include <atomic>
#include <thread>
#include <vector>

void RunConcurrently(size_t count, size_t workers,
                     const std::function<void(size_t job, size_t worker)>& job) {
    if (workers > count)
        workers = count;
    if (workers <= 1) {
        for (size_t i = 0; i < count; ++i)
            job(i, 0);
        return;
    }
    std::atomic<size_t> next{0};
    auto work = [&](size_t worker) {
        for (size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1))
            job(i, worker);
    };
    std::vector<std::thread> threads;
    threads.reserve(workers - 1);
    for (size_t w = 1; w < workers; ++w)
        threads.emplace_back(work, w);
    work(0);
    for (std::thread& t : threads)
        t.join();
}
