#pragma once
// The bootstrap module template (Cython with Tempita directives), the C header template, and
// the Python texts that the bootstrap carries: the registry of compiled types and the
// recognition of the children that multiprocessing starts through a program.

#include <string_view>

namespace quorvex::templates {

extern const std::string_view bootstrapTemplate;
extern const std::string_view headerTemplate;
/// Passed to `bootstrapTemplate` as `compiledTypes`.
extern const std::string_view compiledTypesText;
/// Passed to `bootstrapTemplate` as `childProcesses`.
extern const std::string_view childProcessesText;

} // namespace quorvex::templates
