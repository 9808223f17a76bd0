#include "support/pristine_env.hpp"

#include "core/process.hpp"

#include <sstream>
#include <stdexcept>

namespace quorvex::testing {

std::map<std::string, std::string> pristineEnvironment() {
  const char* names[] = {"UV_PYTHON_DOWNLOADS_JSON_URL", "UV_PYTHON_INSTALL_BIN", "PATH"};
  std::string script = ". '" QUORVEX_SOURCE_DIR "/scripts/pristine-env' >/dev/null 2>&1 && printf "
                       "'%s\\n%s\\n%s\\n'";
  for (const char* name : names) script += std::string(" \"$") + name + "\"";
  // A run that printed no value for a name is tried again (a test that went on with an empty
  // UV_PYTHON_INSTALL_BIN failed far from here, in uv), then reported with what it printed.
  std::string printed;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const process::Result result = process::run({"bash", "-c", script});
    if (!result.ok()) throw std::runtime_error("scripts/pristine-env failed: " + result.output);
    std::map<std::string, std::string> values;
    std::istringstream lines(result.output);
    for (const char* name : names) std::getline(lines, values[name]);
    if (!values["UV_PYTHON_DOWNLOADS_JSON_URL"].empty() &&
        !values["UV_PYTHON_INSTALL_BIN"].empty())
      return values;
    printed = result.output;
  }
  throw std::runtime_error("scripts/pristine-env set no uv variables; it printed:\n" + printed);
}

} // namespace quorvex::testing
