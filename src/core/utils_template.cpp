#include "core/utils.hpp"

#include "core/interpreter.hpp"
#include "core/fileio.hpp"
#include "core/utf8.hpp"

#include <fmt/format.h>

namespace fs = std::filesystem;

namespace quorvex::utils {

namespace {

// Renders with Cython's Tempita in the build interpreter. The job arrives as JSON on standard
// input, so JSON null, lists and objects become None, lists and dicts and display as Tempita
// writes them. Status 3 marks a template error, 4 an unreadable template file and 5 a target
// that cannot be written; the message is then the whole output. Isolated mode keeps modules in
// the working directory from standing in for standard ones. The job is pure ASCII (escaped
// JSON), so the interpreter's standard input encoding cannot garble it.
constexpr const char* renderScript = R"PY(
import json, sys
job = json.load(sys.stdin)
if "path" in job:
    try:
        with open(job["path"]) as source:
            text = source.read()
    except OSError as error:
        sys.stdout.write(error.strerror or str(error))
        sys.exit(4)
else:
    text = job["text"]
from Cython.Tempita import Template
try:
    rendered = Template(text).substitute(**job["values"])
except Exception as error:
    sys.stdout.write(str(error))
    sys.exit(3)
try:
    with open(job["temporary"], "w") as target:
        target.write(rendered)
except OSError as error:
    sys.stdout.write(error.strerror or str(error))
    sys.exit(5)
)PY";

constexpr int templateErrorStatus = 3;
constexpr int unreadableTemplateStatus = 4;
constexpr int unwritableTargetStatus = 5;

} // namespace

void template_(Context& context, const TemplateSource& templatePath, const fs::path& targetPath,
               const nlohmann::json& values) {
  if (!values.is_object())
    throw std::invalid_argument("Template values for '" + targetPath.string() +
                                "' must be a JSON object");
  const interpreter::Facts& facts = context.interpreter();

  fs::path temporary = fileio::temporarySibling(targetPath);
  fileio::TemporaryFile cleanup(temporary);
  nlohmann::json job = {{"values", values}, {"temporary", temporary.string()}};
  if (const auto* path = std::get_if<fs::path>(&templatePath))
    job["path"] = path->string();
  else
    job["text"] = std::get<std::string>(templatePath);

  process::Result result = process::run(
      {facts.program.string(), "-I", "-c", renderScript},
      {.captureOutput = true,
       .timeout = commandTimeout,
       .input = job.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace)});
  std::string output = utf8::decodeReplace(result.output);
  if (result.signal == 0 && result.exitCode == templateErrorStatus)
    throw std::runtime_error(
        fmt::format("Template error while rendering '{}': {}", targetPath.string(), output));
  if (result.signal == 0 && result.exitCode == unreadableTemplateStatus)
    throw std::runtime_error(fmt::format("Cannot read the template '{}': {}",
                                         std::get<fs::path>(templatePath).string(), output));
  if (result.signal == 0 && result.exitCode == unwritableTargetStatus)
    throw std::runtime_error(
        fmt::format("Cannot write the rendered template to '{}': {}", targetPath.string(), output));
  if (!result.ok())
    throw std::runtime_error(
        fmt::format("Rendering the template into '{}' failed:\n{}", targetPath.string(), output));
  fs::rename(temporary, targetPath);
  cleanup.release();
}

} // namespace quorvex::utils
