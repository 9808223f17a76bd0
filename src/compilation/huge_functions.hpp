#pragma once
// Bounding the C compiler's time on generated functions that hold thousands of objects at once.

#include <cstddef>
#include <string>

namespace quorvex::compiler {

/// The object temporaries one generated function may declare and still be optimised.
inline constexpr std::size_t optimisedTemporariesLimit = 100;

/// Marks each function of the generated C `text` that declares more than
/// `optimisedTemporariesLimit` object temporaries to be compiled without optimisation (GCC,
/// Clang and MSVC), and returns how many it marked; text of another shape is left alone.
std::size_t markHugeFunctionsUnoptimised(std::string& text);

} // namespace quorvex::compiler
