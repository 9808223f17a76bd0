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

// What every entry of one copy shares: both roots in a form that compares by components.
struct TreeCopy {
  fs::path sourceRoot; // canonical: links inside the tree are judged by their real targets
  fs::path targetRoot; // absolute and normal
  LinkCopy links;
  const IgnoreFn& ignore;
};

// A file's content, permission bits and times; a directory target receives it under its name.
void copyWithMetadata(const fs::path& source, fs::path target) {
  if (fs::is_directory(target)) target /= source.filename();
  fileio::copyWithMetadata(source, target);
}

// The text of the link that the link `from` becomes at `to`, or none when it is followed. A
// link kept inside the tree leads from its own place in the copy to the copy of its real
// target, without passing through another link, so that it means the same wherever the copy
// lies; a missing target or one outside the tree is never linked to.
std::optional<fs::path> linkText(const TreeCopy& copy, const fs::path& from, const fs::path& to) {
  if (copy.links == LinkCopy::follow) return std::nullopt;
  if (copy.links == LinkCopy::keep) return fs::read_symlink(from);
  std::error_code missing;
  const fs::path target = fs::canonical(from, missing);
  if (missing || !isWithin(target, copy.sourceRoot)) return std::nullopt;
  fs::path targetCopy =
      (copy.targetRoot / target.lexically_relative(copy.sourceRoot)).lexically_normal();
  if (!targetCopy.has_filename()) targetCopy = targetCopy.parent_path(); // the root: no "/"
  return targetCopy.lexically_relative(fs::absolute(to).lexically_normal().parent_path());
}

// Makes `to` the link that `from` becomes, when it stays one; false when it is to be followed.
bool copyAsLink(const TreeCopy& copy, const fs::path& from, const fs::path& to) {
  if (!fs::is_symlink(fs::symlink_status(from))) return false;
  const std::optional<fs::path> text = linkText(copy, from, to);
  if (!text) return false;
  if (fs::is_directory(from))
    fs::create_directory_symlink(*text, to);
  else
    fs::create_symlink(*text, to);
  return true;
}

void copyWholeTree(const TreeCopy& copy, const fs::path& source, const fs::path& target,
                   std::vector<std::string>& errors);

// One entry that is new at `to`: a link that stays one, a directory copied whole (its failed
// entries joining `errors`), or a file with its metadata.
void copyEntry(const TreeCopy& copy, const fs::path& from, const fs::path& to,
               std::vector<std::string>& errors) {
  if (copyAsLink(copy, from, to)) return;
  if (fs::is_directory(from))
    copyWholeTree(copy, from, to, errors);
  else
    copyWithMetadata(from, to);
}

// A whole subtree into a new directory `target`, which must not exist yet. A failing entry
// does not stop the copy: its error joins `errors` and the rest is still copied.
void copyWholeTree(const TreeCopy& copy, const fs::path& source, const fs::path& target,
                   std::vector<std::string>& errors) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(source))
    names.push_back(entry.path().filename().string());
  std::vector<std::string> skipped;
  if (copy.ignore) skipped = copy.ignore(source, names);

  if (fs::exists(fs::symlink_status(target)))
    throw fs::filesystem_error("cannot copy a directory onto an existing entry", source, target,
                               std::make_error_code(std::errc::file_exists));
  fs::create_directories(target);
  for (const auto& name : names) {
    process::checkStop();
    if (std::find(skipped.begin(), skipped.end(), name) != skipped.end()) continue;
    try {
      copyEntry(copy, source / name, target / name, errors);
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

// The entries of `src` into the existing directory `dst`, merging into directories on both
// sides; an entry copied whole reports all of its failed entries at once, after the rest.
void mergeTree(const TreeCopy& copy, const fs::path& src, const fs::path& dst) {
  for (const auto& entry : fs::directory_iterator(src)) {
    process::checkStop();
    const fs::path name = entry.path().filename();
    const fs::path from = src / name, to = dst / name;
    if (copyAsLink(copy, from, to)) continue;
    if (!fs::is_directory(from)) {
      copyWithMetadata(from, to);
      continue;
    }
    if (fs::is_directory(to)) {
      mergeTree(copy, from, to);
      continue;
    }
    std::vector<std::string> errors;
    copyWholeTree(copy, from, to, errors);
    if (errors.empty()) continue;
    std::string message = "cannot copy every entry of the tree";
    for (const auto& error : errors) message += "\n  " + error;
    throw fs::filesystem_error(message, from, to, std::make_error_code(std::errc::io_error));
  }
}

} // namespace

void copytree(const fs::path& src, const fs::path& dst, LinkCopy links, const IgnoreFn& ignore) {
  const TreeCopy copy{.sourceRoot = fs::canonical(src),
                      .targetRoot = fs::absolute(dst).lexically_normal(),
                      .links = links,
                      .ignore = ignore};
  mergeTree(copy, src, dst);
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
