#pragma once
// A program holds compiled modules only: the templates, SQL and JSON files of its packages stay
// behind, and code that reads them beside its module's __file__ finds nothing. The build says
// so once, naming a few of them and the product that ships them.

#include <filesystem>
#include <vector>

namespace quorvex::builder {

/// Warns once when the package directories of `sources` (paths relative to `base`) hold files
/// other than Python sources, naming up to five of them.
void warnOfProgramData(const std::filesystem::path& base,
                       const std::vector<std::filesystem::path>& sources);

} // namespace quorvex::builder
