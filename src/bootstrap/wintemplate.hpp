#pragma once
// The Windows start-up configuration block spliced into the generated main.

#include <string_view>

namespace quorvex::wintemplate {

extern const std::string_view configTemplate;

} // namespace quorvex::wintemplate
