#pragma once
// Python identifiers as `str.isidentifier` judges them: a letter or "_" (Unicode's XID_Start),
// then letters, digits and joining marks (XID_Continue), non-ASCII ones included.

#include <string_view>

namespace quorvex::identifier {

/// Whether the UTF-8 text `text` is a Python identifier; false for text that is not UTF-8.
bool isPythonIdentifier(std::string_view text);

} // namespace quorvex::identifier
