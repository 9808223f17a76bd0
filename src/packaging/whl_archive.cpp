#include "packaging/whl_archive.hpp"

#include "core/fileio.hpp"
#include "packaging/record.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <fmt/format.h>
#include <openssl/evp.h>

#include <ctime>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::whl {

namespace {

std::string base64UrlNoPadding(const unsigned char* bytes, std::size_t size) {
  static constexpr char alphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string text;
  for (std::size_t i = 0; i < size; i += 3) {
    unsigned long chunk = static_cast<unsigned long>(bytes[i]) << 16;
    if (i + 1 < size) chunk |= static_cast<unsigned long>(bytes[i + 1]) << 8;
    if (i + 2 < size) chunk |= bytes[i + 2];
    std::size_t characters = std::min<std::size_t>(size - i, 3) + 1;
    for (std::size_t k = 0; k < characters; ++k) text += alphabet[(chunk >> (18 - 6 * k)) & 0x3F];
  }
  return text;
}

const char* errorText(archive* writer) {
  const char* text = archive_error_string(writer);
  return text ? text : "unknown archive error";
}

struct EntryDeleter {
  void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};

} // namespace

std::string recordHash(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr))
    throw std::runtime_error("SHA-256 digest failed");
  return base64UrlNoPadding(digest, length);
}

void checkEntryName(const std::string& arcname) {
  auto refuse = [&](const char* why) {
    throw std::invalid_argument(fmt::format("Refusing wheel entry '{}': {}", arcname, why));
  };
  if (arcname.empty()) refuse("empty name");
  if (arcname.front() == '/') refuse("absolute path");
  if (arcname.find('\\') != std::string::npos) refuse("backslash in name");
  if (arcname.size() >= 2 && arcname[1] == ':') refuse("drive in name");
  std::size_t start = 0;
  while (start <= arcname.size()) {
    auto end = arcname.find('/', start);
    if (end == std::string::npos) end = arcname.size();
    if (arcname.compare(start, end - start, "..") == 0) refuse("'..' leaves the wheel's root");
    start = end + 1;
  }
}

struct WheelArchive::Handle {
  archive* writer = archive_write_new();
  ~Handle() { archive_write_free(writer); }
};

WheelArchive::WheelArchive(fs::path finalPath)
    : finalPath_(std::move(finalPath)), tempPath_(fileio::temporarySibling(finalPath_)),
      handle_(std::make_unique<Handle>()) {
  archive* writer = handle_->writer;
  if (!writer) throw std::runtime_error("Cannot create an archive writer");
  if (archive_write_set_format_zip(writer) != ARCHIVE_OK ||
      archive_write_zip_set_compression_deflate(writer) != ARCHIVE_OK ||
      archive_write_set_format_option(writer, "zip", "hdrcharset", "UTF-8") < ARCHIVE_WARN ||
      // No padding after the central directory: the file ends where the ZIP ends.
      archive_write_set_bytes_in_last_block(writer, 1) != ARCHIVE_OK ||
      archive_write_open_filename(writer, tempPath_.string().c_str()) != ARCHIVE_OK)
    throw std::runtime_error(fmt::format("Cannot write wheel '{}': {}", finalPath_.string(),
                                         errorText(writer)));
}

WheelArchive::~WheelArchive() {
  handle_.reset();
  if (!committed_) {
    std::error_code ignored;
    fs::remove(tempPath_, ignored);
  }
}

void WheelArchive::writeEntry(const std::string& arcname, std::string_view data, unsigned mode) {
  checkEntryName(arcname);
  archive* writer = handle_->writer;
  std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
  archive_entry_set_pathname_utf8(entry.get(), arcname.c_str());
  archive_entry_set_filetype(entry.get(), AE_IFREG);
  archive_entry_set_perm(entry.get(), mode);
  archive_entry_set_size(entry.get(), static_cast<la_int64_t>(data.size()));
  archive_entry_set_mtime(entry.get(), std::time(nullptr), 0);
  auto fail = [&] {
    throw std::runtime_error(fmt::format("Cannot write '{}' into wheel '{}': {}", arcname,
                                         finalPath_.string(), errorText(writer)));
  };
  if (archive_write_header(writer, entry.get()) != ARCHIVE_OK) fail();
  if (!data.empty() &&
      archive_write_data(writer, data.data(), data.size()) != static_cast<la_ssize_t>(data.size()))
    fail();
  if (archive_write_finish_entry(writer) != ARCHIVE_OK) fail();
}

void WheelArchive::write_file(const std::string& arcname, std::string_view data, unsigned mode) {
  writeEntry(arcname, data, mode);
  // A data file's name may hold a comma or a quote: RECORD is CSV, so such a path is quoted.
  records_.push_back(record::line(arcname, data));
}

void WheelArchive::commit(const std::string& recordName) {
  records_.push_back(recordName + ",,");
  writeEntry(recordName, fmt::format("{}", fmt::join(records_, "\n")), fileMode);
  if (archive_write_close(handle_->writer) != ARCHIVE_OK)
    throw std::runtime_error(fmt::format("Cannot write wheel '{}': {}", finalPath_.string(),
                                         errorText(handle_->writer)));
  handle_.reset();
  fs::rename(tempPath_, finalPath_);
  committed_ = true;
}

} // namespace quorvex::whl
