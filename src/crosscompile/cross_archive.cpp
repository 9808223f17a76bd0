// Unpacking of the downloaded archives. Member names come from outside: every member must land
// inside the extraction directory, so absolute names, ".." components and links that lead out
// are refused before anything of that member is written.
#include "crosscompile/cross.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <fmt/format.h>

#include <memory>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::cross {

namespace {

struct ReadDeleter {
  void operator()(archive* reader) const { archive_read_free(reader); }
};
struct WriteDeleter {
  void operator()(archive* writer) const { archive_write_free(writer); }
};
using Reader = std::unique_ptr<archive, ReadDeleter>;

[[noreturn]] void fail(const fs::path& fileName, archive* handle) {
  const char* text = archive_error_string(handle);
  throw std::runtime_error(
      fmt::format("cannot unpack {}: {}", fileName.string(), text ? text : "unknown error"));
}

// Whether the member name `name` is relative and has no ".." component.
bool plainName(const fs::path& name) {
  if (name.has_root_path()) return false;
  for (const fs::path& part : name)
    if (part == "..") return false;
  return true;
}

void refuse(const fs::path& fileName, const std::string& member) {
  throw std::runtime_error(fmt::format("cannot unpack {}: member '{}' leads outside the "
                                       "extraction directory",
                                       fileName.string(), member));
}

// Writes every member of the open `reader` under `targetDir`.
void extract(archive* reader, const fs::path& fileName, const fs::path& targetDir) {
  fs::create_directories(targetDir);
  // A canonical root: the writer refuses paths through symbolic links.
  const fs::path root = fs::canonical(targetDir);
  std::unique_ptr<archive, WriteDeleter> writer(archive_write_disk_new());
  archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_TIME |
                                                   ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                   ARCHIVE_EXTRACT_SECURE_NODOTDOT);
  archive_entry* entry = nullptr;
  int status = ARCHIVE_OK;
  while ((status = archive_read_next_header(reader, &entry)) == ARCHIVE_OK ||
         status == ARCHIVE_WARN) {
    const std::string name = archive_entry_pathname(entry);
    if (!plainName(name)) refuse(fileName, name);
    if (const char* hardlink = archive_entry_hardlink(entry)) {
      if (!plainName(hardlink)) refuse(fileName, name);
      archive_entry_set_hardlink(entry, (root / hardlink).c_str());
    }
    // A symbolic link is resolved against its own directory; it may climb within the tree.
    if (const char* symlink = archive_entry_symlink(entry)) {
      const fs::path resolved = (fs::path(name).parent_path() / symlink).lexically_normal();
      if (fs::path(symlink).has_root_path() || (!resolved.empty() && *resolved.begin() == ".."))
        refuse(fileName, name);
    }
    archive_entry_set_pathname(entry, (root / name).c_str());
    if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN) fail(fileName, writer.get());
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    int data = ARCHIVE_OK;
    while ((data = archive_read_data_block(reader, &block, &size, &offset)) == ARCHIVE_OK) {
      if (archive_write_data_block(writer.get(), block, size, offset) < ARCHIVE_WARN)
        fail(fileName, writer.get());
    }
    if (data != ARCHIVE_EOF) fail(fileName, reader);
    if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN) fail(fileName, writer.get());
  }
  if (status != ARCHIVE_EOF) fail(fileName, reader);
  if (archive_write_close(writer.get()) != ARCHIVE_OK) fail(fileName, writer.get());
}

Reader openReader(const fs::path& fileName, bool xzTar) {
  Reader reader(archive_read_new());
  if (xzTar) {
    // Every filter, so that another compression is recognised and refused by name.
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_tar(reader.get());
  } else {
    archive_read_support_format_zip(reader.get());
  }
  if (archive_read_open_filename(reader.get(), fileName.c_str(), 1 << 16) != ARCHIVE_OK)
    fail(fileName, reader.get());
  return reader;
}

} // namespace

void CrossCompiler::unpackZip(const fs::path& targetDir, const fs::path& fileName) const {
  extract(openReader(fileName, false).get(), fileName, targetDir);
}

void CrossCompiler::unpackXz(const fs::path& targetDir, const fs::path& fileName) const {
  Reader reader = openReader(fileName, true);
  // The filters are chosen when the archive is opened: an uncompressed or otherwise compressed
  // tar opens with no xz filter at all.
  if (archive_filter_code(reader.get(), 0) != ARCHIVE_FILTER_XZ)
    throw std::runtime_error(
        fmt::format("cannot unpack {}: not an xz-compressed tar archive", fileName.string()));
  extract(reader.get(), fileName, targetDir);
}

} // namespace quorvex::cross
