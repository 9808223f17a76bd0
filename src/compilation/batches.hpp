#pragma once
// Dealing the modules to translate into batches, one Cython interpreter each: starting Python
// and importing Cython costs about a second, more than translating a small module.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvex::compiler {

/// Deals items of the given source sizes into min(`count`, items) batches, none empty: the
/// largest first, each to the batch with the least work so far, where an item's work is its
/// size plus what any module costs to translate. Each batch lists indexes into `sizes`, largest
/// first; the batches come with the most work first.
std::vector<std::vector<std::size_t>> dealIntoBatches(const std::vector<std::uintmax_t>& sizes,
                                                      std::size_t count);

} // namespace quorvex::compiler
