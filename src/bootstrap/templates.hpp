#pragma once
// The bootstrap module template (Cython with Tempita directives) and the C header template.

#include <string_view>

namespace quorvex::templates {

extern const std::string_view bootstrapTemplate;
extern const std::string_view headerTemplate;

} // namespace quorvex::templates
