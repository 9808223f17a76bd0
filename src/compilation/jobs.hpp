#pragma once
// Running the steps of a build at once: the Cython translations and the C compiles are
// independent child processes, so the machine's cores work on them side by side.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::compiler {

/// How many steps run at once: the machine's cores, or fewer when QUORVEX_JOBS asks for fewer
/// (a whole number from 1). Throws `std::invalid_argument` naming QUORVEX_JOBS for another value.
std::size_t jobCount();
/// The same for a given core count and value of QUORVEX_JOBS.
std::size_t jobCount(std::size_t cores, const std::optional<std::string>& requested);

/// Runs every task, at most `jobs` at a time, starting them in the order given. `finished` is
/// called on the calling thread after each task that succeeded, in the order they end. After a
/// failure no further task starts; the running ones end, and the first failure is rethrown.
/// With one job the tasks run on the calling thread, one after the other.
void runJobs(const std::vector<std::function<void()>>& tasks, std::size_t jobs,
             const std::function<void(std::size_t)>& finished);

} // namespace quorvex::compiler
