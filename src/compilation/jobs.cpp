#include "compilation/jobs.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace quorvex::compiler {

namespace {

// More children than this would outgrow the table the signal handlers stop children from.
constexpr std::size_t maxJobs = 64;

} // namespace

std::size_t jobCount(std::size_t cores, const std::optional<std::string>& requested) {
  std::size_t jobs = std::clamp<std::size_t>(cores, 1, maxJobs);
  if (!requested || requested->empty()) return jobs;
  std::size_t value = 0;
  bool valid = requested->size() <= 6 &&
               requested->find_first_not_of("0123456789") == std::string::npos;
  if (valid) value = std::stoul(*requested);
  if (!valid || value == 0)
    throw std::invalid_argument("QUORVEX_JOBS must be a whole number from 1, got '" +
                                *requested + "'");
  return std::min(jobs, value);
}

std::size_t jobCount() {
  const char* requested = std::getenv("QUORVEX_JOBS");
  return jobCount(std::thread::hardware_concurrency(),
                  requested ? std::optional<std::string>(requested) : std::nullopt);
}

void runJobs(const std::vector<std::function<void()>>& tasks, std::size_t jobs,
             const std::function<void(std::size_t)>& finished) {
  if (jobs <= 1 || tasks.size() <= 1) {
    for (std::size_t i = 0; i < tasks.size(); ++i) {
      tasks[i]();
      finished(i);
    }
    return;
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0, running = 0;
  std::deque<std::size_t> done;
  std::exception_ptr failure;

  auto work = [&] {
    std::unique_lock lock(mutex);
    while (next < tasks.size() && !failure) {
      std::size_t index = next++;
      ++running;
      lock.unlock();
      std::exception_ptr error;
      try {
        tasks[index]();
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      --running;
      if (error && !failure) failure = error;
      if (!error) done.push_back(index);
      changed.notify_all();
    }
  };

  std::vector<std::jthread> workers;
  for (std::size_t i = 0; i < std::min(jobs, tasks.size()); ++i) workers.emplace_back(work);
  // The calling thread reports each finished task as it ends, so that progress shows at once.
  std::unique_lock lock(mutex);
  for (;;) {
    changed.wait(lock, [&] {
      return !done.empty() || (running == 0 && (next == tasks.size() || failure));
    });
    while (!done.empty()) {
      std::size_t index = done.front();
      done.pop_front();
      if (failure) continue;
      lock.unlock();
      try {
        finished(index);
      } catch (...) {
        lock.lock();
        if (!failure) failure = std::current_exception();
        continue;
      }
      lock.lock();
    }
    if (running == 0 && (next == tasks.size() || failure)) break;
  }
  lock.unlock();
  workers.clear();
  if (failure) std::rethrow_exception(failure);
}

} // namespace quorvex::compiler
