#include "compilation/batches.hpp"

#include <algorithm>
#include <numeric>

namespace quorvex::compiler {

namespace {

// Cython translates about 120 kB of source a second once started. What translating even an
// empty module costs, counted in bytes of source: some 15 ms.
constexpr std::uintmax_t moduleCost = 2 * 1024;
// The least work worth an interpreter of its own: most of what starting Python and importing
// Cython costs (about a second). Below it, a second interpreter would only add its start-up:
// forty tiny modules go through one.
constexpr std::uintmax_t batchWork = 96 * 1024;

std::vector<std::size_t> largestFirst(const std::vector<std::uintmax_t>& weights) {
  std::vector<std::size_t> order(weights.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return weights[a] > weights[b]; });
  return order;
}

} // namespace

std::vector<std::vector<std::size_t>> dealIntoBatches(const std::vector<std::uintmax_t>& sizes,
                                                      std::size_t count) {
  std::uintmax_t work = 0;
  for (auto size : sizes) work += size + moduleCost;
  const auto worthwhile = static_cast<std::size_t>((work + batchWork - 1) / batchWork);
  std::vector<std::vector<std::size_t>> batches(
      std::min({std::max<std::size_t>(count, 1), worthwhile, sizes.size()}));
  std::vector<std::uintmax_t> loads(batches.size(), 0);
  for (std::size_t item : largestFirst(sizes)) {
    auto lightest = static_cast<std::size_t>(std::min_element(loads.begin(), loads.end()) -
                                             loads.begin());
    batches[lightest].push_back(item);
    loads[lightest] += sizes[item] + moduleCost;
  }
  std::vector<std::vector<std::size_t>> heaviestFirst;
  for (std::size_t batch : largestFirst(loads)) heaviestFirst.push_back(std::move(batches[batch]));
  return heaviestFirst;
}

} // namespace quorvex::compiler
