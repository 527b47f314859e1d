// Work on several drives at once: each job talks to one drive, so that waiting for drives
// overlaps instead of adding up.
#pragma once

#include <cstddef>
#include <functional>

// At most this many threads work on drives at the same time.
inline constexpr size_t kMaxDriveThreads = 32;

// Runs job(0) to job(count - 1) on min(count, workers) threads; worker (0 to workers - 1)
// names the thread that runs a job, so that a caller can give each thread its own resources.
// With one job or one worker everything runs on the calling thread. Returns when all jobs
// have ended.
void RunConcurrently(size_t count, size_t workers,
                     const std::function<void(size_t job, size_t worker)>& job);
