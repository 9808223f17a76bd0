#pragma once
// The POSIX start-up configuration block spliced into the generated main.

#include <string_view>

namespace quorvex::othertemplate {

extern const std::string_view configTemplate;

} // namespace quorvex::othertemplate
