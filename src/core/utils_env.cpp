#include "core/utils.hpp"

#include <cstdlib>
#include <system_error>

namespace quorvex::utils {

void setEnv(const std::string& name, const std::optional<std::string>& value) {
#if defined(_WIN32)
  // An empty value removes the variable on Windows, as an unset does.
  int failed = _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
  int failed = value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
#endif
  if (failed)
    throw std::system_error(errno, std::generic_category(),
                            "cannot set the environment variable " + name);
}

withEnv::withEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) previous_ = old;
  setEnv(name_, value);
}

withEnv::~withEnv() {
  try {
    setEnv(name_, previous_);
  } catch (...) {
    // A destructor must not throw; the variable stays as the scope left it.
  }
}

} // namespace quorvex::utils
