#include "frontend/main_function.hpp"

#include "core/context.hpp"
#include "core/interpreter.hpp"
#include "core/log.hpp"
#include "core/process.hpp"
#include "frontend/build_checks.hpp"
#include "packaging/whl.hpp"
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_text.hpp"

#include <chrono>
#include <string_view>

namespace quorvex::builder {

namespace fs = std::filesystem;

namespace {

// Prints "bound", "unbound" or "unknown" for the module-level `main` of the file argv[1]. The
// module's own scope only: a function's or class's body binds its own names, but `global main`
// anywhere binds the module's.
constexpr const char* bindingScript = R"(import ast, sys
try:
    with open(sys.argv[1], 'rb') as f:
        tree = ast.parse(f.read(), sys.argv[1])
except Exception:
    print('unknown'); sys.exit()
found = set()
def visit(node):
    if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)):
        if node.name == 'main':
            found.add('bound')
        elif node.name == '__getattr__':
            found.add('unknown')
        for child in node.decorator_list:
            visit(child)
        return
    if isinstance(node, ast.Lambda):
        return
    if isinstance(node, ast.Name) and node.id == 'main' and isinstance(node.ctx, ast.Store):
        found.add('bound')
    if isinstance(node, ast.alias):
        if node.name == '*':
            found.add('unknown')
        elif (node.asname or node.name.partition('.')[0]) == 'main':
            found.add('bound')
    if isinstance(node, (ast.MatchAs, ast.MatchStar)) and node.name == 'main':
        found.add('bound')
    for child in ast.iter_child_nodes(node):
        visit(child)
visit(tree)
if any(isinstance(n, ast.Global) and 'main' in n.names for n in ast.walk(tree)):
    found.add('bound')
print('bound' if 'bound' in found else 'unknown' if 'unknown' in found else 'unbound')
)";

// The source file of the module named `mainModule` among `sources`.
std::optional<fs::path> sourceOf(const std::string& mainModule,
                                 const std::vector<fs::path>& sources) {
  for (const fs::path& source : sources)
    if (moduleNameOf(source) == mainModule) return source;
  return std::nullopt;
}

} // namespace

MainBinding mainBindingOf(Context& context, const fs::path& file) {
  const fs::path program = context.interpreter().program;
  const process::Result result =
      process::run({program.string(), "-I", "-c", bindingScript, file.string()},
                   {.timeout = std::chrono::seconds(120)});
  if (result.ok() && result.output == "bound\n") return MainBinding::bound;
  if (result.ok() && result.output == "unbound\n") return MainBinding::unbound;
  return MainBinding::unknown;
}

std::vector<std::pair<std::string, std::string>>
scriptsOfModule(const std::optional<fs::path>& pyproject, const std::string& mainModule) {
  std::vector<std::pair<std::string, std::string>> scripts;
  if (!pyproject) return scripts;
  // Only a hint: a project file that a plain program build does not need may be unreadable.
  toml::table document;
  try {
    document = whl::parseProjectFile(*pyproject);
  } catch (const std::exception&) {
    return scripts;
  }
  const toml::table* table = document["project"]["scripts"].as_table();
  if (!table) return scripts;
  for (const auto& [name, value] : *table) {
    const std::optional<std::string> target = value.value<std::string>();
    if (!target) continue;
    // "module:function", blanks around either part allowed, as entry points are read.
    const auto colon = target->find(':');
    if (colon == std::string::npos) continue;
    const std::string_view text(*target);
    if (whl::stripPythonSpace(text.substr(0, colon)) != mainModule) continue;
    scripts.emplace_back(std::string(name.str()),
                         std::string(whl::stripPythonSpace(text.substr(colon + 1))));
  }
  return scripts;
}

std::string missingMainWarning(const std::string& mainModule,
                               const std::vector<std::pair<std::string, std::string>>& scripts) {
  std::string text = "The main module " + mainModule +
                     " defines no main(), which the program calls once the module's body has "
                     "run: unless that body ends the program itself (sys.exit()), the program "
                     "then stops with the error \"Main module '" + mainModule +
                     "' has no main() function\" and exit status 1";
  if (scripts.empty()) return text;
  std::string started;
  for (const auto& [name, function] : scripts)
    started += (started.empty() ? "" : ", ") + function + " (" + name + " = \"" + mainModule +
               ":" + function + "\")";
  return text + ". [project.scripts] starts it with " + started + ": define main(), or bind it "
                "(main = " + scripts.front().second + ")";
}

void warnOfMissingMain(Context& context, const cli::BuildArguments& args,
                       const std::vector<fs::path>& sources) {
  if (args.library) return;
  const std::optional<fs::path> source = sourceOf(args.mainModule, sources);
  if (!source || mainBindingOf(context, args.base / *source) != MainBinding::unbound) return;
  const auto pyproject =
      whl::find_active_pyproject(fs::weakly_canonical(fs::absolute(args.base)));
  log::getLogger("quorvex.builder")
      .warning("{}",
               missingMainWarning(args.mainModule, scriptsOfModule(pyproject, args.mainModule)));
}

} // namespace quorvex::builder
