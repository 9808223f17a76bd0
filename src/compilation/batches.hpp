#pragma once
// Dealing the modules to translate into batches, one Cython interpreter each: starting Python
// and importing Cython costs about a second, more than translating a small module.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvex::compiler {

/// Deals items of the given source sizes into batches, none empty: at most `count`, and no
/// more than the work is worth (an item's work is its size plus what any module costs to
/// translate; a batch is worth some tens of kilobytes of it). The largest item goes first,
/// each to the batch with the least work so far. Each batch lists indexes into `sizes`, largest
/// first; the batches come with the most work first.
std::vector<std::vector<std::size_t>> dealIntoBatches(const std::vector<std::uintmax_t>& sizes,
                                                      std::size_t count);

} // namespace quorvex::compiler
