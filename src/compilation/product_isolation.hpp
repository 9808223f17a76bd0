#pragma once
// Keeping the compiled code of one product apart from another's in the same process: a program
// and the libraries it imports, or several libraries, each carry Cython's shared utility
// module and Cython's shared types, under names that every product uses alike.

#include <string>
#include <vector>

namespace quorvex::compiler {

/// A short name, in hexadecimal digits, for the product of the kind `library` made of the
/// modules `moduleNames`: the same for the same build, and different for products that one
/// process can hold at once (they cannot share a module name).
std::string productToken(bool library, const std::vector<std::string>& moduleNames);

/// Rewrites the generated C `text` of one module of the product `token` (`sharedModule` for
/// the shared utility module `sharedName`) so that the module takes its shared functions from
/// its own product's shared module, however many modules of that name the process holds, and
/// keeps Cython's shared types (its function, generator and coroutine types) in a module of the
/// product's own name. Returns whether the text had the shape this expects; text of another
/// shape is left alone.
bool isolateProduct(std::string& text, const std::string& token, const std::string& sharedName,
                    bool sharedModule);

} // namespace quorvex::compiler
