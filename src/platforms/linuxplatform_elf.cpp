// Run paths of ELF files: reading them from the dynamic section, and the relative run path that
// a copied Python's file needs so that it searches nothing outside its embedded directory.
#include "platforms/linuxplatform.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <stdexcept>

namespace quorvex::linuxplatform {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t sectionDynamic = 6;
constexpr std::uint64_t tagRpath = 15;
constexpr std::uint64_t tagRunpath = 29;

// Reads the fields of one ELF file in its own class (32 or 64 bits) and byte order.
class ElfReader {
public:
  ElfReader(const fs::path& path, std::ifstream& in, bool wide, bool little)
      : path_(path), in_(in), wide_(wide), little_(little) {}

  std::uint64_t field(std::uint64_t offset, int size) {
    std::array<unsigned char, 8> bytes{};
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(reinterpret_cast<char*>(bytes.data()), size);
    if (!in_) throw std::runtime_error("Cannot read the run path of " + path_.string() +
                                       ": its ELF headers point past its end");
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i)
      value = little_ ? value | (std::uint64_t{bytes[i]} << (8 * i)) : (value << 8) | bytes[i];
    return value;
  }
  // A word of the file's class: 8 bytes in a 64-bit file, 4 in a 32-bit one.
  std::uint64_t word(std::uint64_t offset) { return field(offset, wide_ ? 8 : 4); }
  int wordSize() const { return wide_ ? 8 : 4; }

  std::string text(std::uint64_t offset, std::uint64_t limit) {
    std::string result;
    in_.seekg(static_cast<std::streamoff>(offset));
    for (char c; result.size() < limit && in_.get(c) && c != '\0';) result.push_back(c);
    return result;
  }

private:
  const fs::path& path_;
  std::ifstream& in_;
  bool wide_;
  bool little_;
};

std::vector<std::string> splitEntries(const std::string& list) {
  std::vector<std::string> entries;
  for (std::size_t from = 0; from <= list.size();) {
    const auto colon = std::min(list.find(':', from), list.size());
    if (colon > from) entries.push_back(list.substr(from, colon - from));
    from = colon + 1;
  }
  return entries;
}

// The directory of `embedDir` that an absolute run path entry meant: the one of the longest
// tail of it that the embedded directory holds ("/prefix/lib" gives its "lib").
std::optional<fs::path> copyInside(const fs::path& entry, const fs::path& embedDir) {
  fs::path normal = entry.lexically_normal().relative_path();
  // "/prefix/lib/" names the same directory as "/prefix/lib".
  if (!normal.empty() && normal.filename().empty()) normal = normal.parent_path();
  for (auto tail = normal.begin(); tail != normal.end(); ++tail) {
    fs::path suffix;
    for (auto part = tail; part != normal.end(); ++part) suffix /= *part;
    if (suffix.empty() || *suffix.begin() == "..") continue;
    std::error_code ec;
    if (fs::is_directory(embedDir / suffix, ec)) return embedDir / suffix;
  }
  return std::nullopt;
}

} // namespace

std::optional<RunPath> readRunPath(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::array<char, 6> ident{};
  if (!in.read(ident.data(), ident.size()) || std::string_view(ident.data(), 4) != "\x7f" "ELF")
    return std::nullopt;
  const bool wide = ident[4] == 2;
  ElfReader elf(path, in, wide, ident[5] == 1);
  constexpr std::uint64_t executable = 2, sharedObject = 3;
  const std::uint64_t type = elf.field(16, 2);
  if (type != executable && type != sharedObject) return std::nullopt;
  const std::uint64_t sectionsAt = elf.word(wide ? 0x28 : 0x20);
  const std::uint64_t sectionSize = elf.field(wide ? 0x3A : 0x2E, 2);
  const std::uint64_t sections = elf.field(wide ? 0x3C : 0x30, 2);
  const int w = elf.wordSize();
  for (std::uint64_t index = 0; index < sections; ++index) {
    const std::uint64_t header = sectionsAt + index * sectionSize;
    if (elf.field(header + 4, 4) != sectionDynamic) continue;
    // sh_offset, sh_size and sh_link follow sh_name, sh_type, sh_flags and sh_addr.
    const std::uint64_t dynamicAt = elf.word(header + 8 + 2 * w);
    const std::uint64_t dynamicSize = elf.word(header + 8 + 3 * w);
    const std::uint64_t stringsHeader = sectionsAt + elf.field(header + 8 + 4 * w, 4) * sectionSize;
    const std::uint64_t stringsAt = elf.word(stringsHeader + 8 + 2 * w);
    const std::uint64_t stringsSize = elf.word(stringsHeader + 8 + 3 * w);
    std::optional<RunPath> found;
    for (std::uint64_t at = dynamicAt; at + 2 * w <= dynamicAt + dynamicSize; at += 2 * w) {
      const std::uint64_t tag = elf.word(at);
      if (tag == 0) break;
      if (tag != tagRpath && tag != tagRunpath) continue;
      const std::uint64_t offset = elf.word(at + w);
      const std::uint64_t limit = stringsSize - std::min(offset, stringsSize);
      RunPath runPath{splitEntries(elf.text(stringsAt + offset, limit)), tag == tagRpath};
      // The loader ignores DT_RPATH where DT_RUNPATH is present.
      if (!found || !runPath.legacy) found = std::move(runPath);
    }
    return found;
  }
  return std::nullopt;
}

std::vector<std::string> relocatedRunPath(const std::vector<std::string>& entries,
                                          const fs::path& directory, const fs::path& embedDir) {
  std::vector<std::string> result;
  for (const std::string& entry : entries) {
    std::string kept = entry;
    if (fs::path(entry).is_absolute()) {
      const std::optional<fs::path> inside = copyInside(entry, embedDir);
      // A place outside what the directory carries is the build machine's: dropped.
      if (!inside) continue;
      const fs::path relative = inside->lexically_relative(directory);
      kept = relative == "." ? "$ORIGIN" : "$ORIGIN/" + relative.generic_string();
    }
    if (std::find(result.begin(), result.end(), kept) == result.end()) result.push_back(kept);
  }
  return result;
}

} // namespace quorvex::linuxplatform
