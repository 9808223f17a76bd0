#include "core/utils.hpp"

#include "core/fileio.hpp"
#include "core/filetimes.hpp"
#include "core/process.hpp"

#include <algorithm>

namespace fs = std::filesystem;

namespace quorvex::utils {

namespace {

using IgnoreFn = std::function<std::vector<std::string>(const fs::path&,
                                                        const std::vector<std::string>&)>;

// A file's content, permission bits and times; a directory target receives it under its name.
void copyWithMetadata(const fs::path& source, fs::path target) {
  if (fs::is_directory(target)) target /= source.filename();
  fileio::copyWithMetadata(source, target);
}

// A whole subtree into a new directory `target`, which must not exist yet. A failing entry
// does not stop the copy: its error joins `errors` and the rest is still copied.
void copyWholeTree(const fs::path& source, const fs::path& target, bool symlinks,
                   const IgnoreFn& ignore, std::vector<std::string>& errors) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(source))
    names.push_back(entry.path().filename().string());
  std::vector<std::string> skipped;
  if (ignore) skipped = ignore(source, names);

  if (fs::exists(fs::symlink_status(target)))
    throw fs::filesystem_error("cannot copy a directory onto an existing entry", source, target,
                               std::make_error_code(std::errc::file_exists));
  fs::create_directories(target);
  for (const auto& name : names) {
    process::checkStop();
    if (std::find(skipped.begin(), skipped.end(), name) != skipped.end()) continue;
    fs::path from = source / name, to = target / name;
    try {
      if (symlinks && fs::is_symlink(fs::symlink_status(from)))
        fs::copy_symlink(from, to);
      else if (fs::is_directory(from))
        copyWholeTree(from, to, symlinks, ignore, errors);
      else
        copyWithMetadata(from, to);
    } catch (const std::exception& error) {
      errors.push_back(error.what());
    }
  }
  try {
    fs::permissions(target, fs::status(source).permissions(), fs::perm_options::replace);
    filetimes::copyTimes(source, target);
  } catch (const std::exception& error) {
    errors.push_back(error.what());
  }
}

// A whole subtree copy that reports all of its failed entries at once, after copying the rest.
void copyWholeTree(const fs::path& source, const fs::path& target, bool symlinks,
                   const IgnoreFn& ignore) {
  std::vector<std::string> errors;
  copyWholeTree(source, target, symlinks, ignore, errors);
  if (errors.empty()) return;
  std::string message = "cannot copy every entry of the tree";
  for (const auto& error : errors) message += "\n  " + error;
  throw fs::filesystem_error(message, source, target, std::make_error_code(std::errc::io_error));
}

} // namespace

void copytree(const fs::path& src, const fs::path& dst, bool symlinks, const IgnoreFn& ignore) {
  for (const auto& entry : fs::directory_iterator(src)) {
    process::checkStop();
    fs::path name = entry.path().filename();
    fs::path from = src / name, to = dst / name;
    if (fs::is_directory(from)) {
      if (fs::is_directory(to))
        copytree(from, to, symlinks, ignore);
      else
        copyWholeTree(from, to, symlinks, ignore);
    } else {
      copyWithMetadata(from, to);
    }
  }
}

bool isWithin(const fs::path& inner, const fs::path& outer) {
  auto innerIt = inner.begin();
  for (auto outerIt = outer.begin(); outerIt != outer.end(); ++outerIt, ++innerIt) {
    if (outerIt->empty())
      continue; // a trailing separator
    if (innerIt == inner.end() || *innerIt != *outerIt)
      return false;
  }
  return true;
}

void chmodRW(const fs::path& path) {
  fs::permissions(path,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                      fs::perms::group_write,
                  fs::perm_options::add);
}

} // namespace quorvex::utils
