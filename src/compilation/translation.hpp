#pragma once
// The Cython runs of a build side by side: batches of modules, each batch one interpreter in
// which the driver translates its modules one after the other, and single runs beside them.

#include "core/context.hpp"
#include "core/utils.hpp"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quorvex::compiler {

/// One module to translate: its dotted name, the file Cython reads and the C file it writes.
struct ModuleTranslation {
  std::string name;
  std::filesystem::path source;
  std::filesystem::path cFile;
};

/// One Cython interpreter's work: the modules of a batch, or, without modules, one other run
/// whose output is `what`. A batch keeps the options of all its modules, `common`, to go on
/// with the modules after one that crashed the interpreter.
struct Translation {
  utils::PythonCommand command;
  std::vector<ModuleTranslation> modules;
  std::string what;
  std::vector<std::string> common{};
};

/// The modules dealt into at most `batches` batches (`dealIntoBatches` by source size), each a
/// driver run with the options `common` for all its modules (and Cython's "-v" when DEBUG
/// records are made, for whole crash reports) and then, after "--modules",
/// "--module-name NAME --output-file C SOURCE" for each.
std::vector<Translation> batchTranslations(Context& context, const std::vector<std::string>& common,
                                           const std::vector<ModuleTranslation>& modules,
                                           std::size_t batches);

/// Runs the translations side by side (`jobCount` at once), calling `finish` for each module's
/// C file when its batch ends (on the batch's thread). Logs "[n/N] translated NAME" at INFO as
/// the driver reports each module's C file written, each C file with its time at DEBUG, the
/// interpreter's start counted to the first module of its batch, and the step's whole time.
/// Before a batch runs, its modules' C files are removed; a module without one afterwards
/// failed, and the error names every failed module of the batch with the driver's
/// output. A module during which the interpreter dies of a crash signal (SIGSEGV, ...) is one
/// of them, with what CPython's compile() says of it when it refuses it too; the batch's later
/// modules are translated by a new interpreter. A failing single run throws the
/// "Command failed: " error of `utils::system`.
void translateAll(const std::vector<Translation>& runs,
                  const std::function<void(const ModuleTranslation&)>& finish);

} // namespace quorvex::compiler
