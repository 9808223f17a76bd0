#pragma once
// The bootstrap module template (Cython with Tempita directives), the C header template, and
// the Python text of the registry of compiled types that the bootstrap carries.

#include <string_view>

namespace quorvex::templates {

extern const std::string_view bootstrapTemplate;
extern const std::string_view headerTemplate;
/// Passed to `bootstrapTemplate` as `compiledTypes`.
extern const std::string_view compiledTypesText;

} // namespace quorvex::templates
