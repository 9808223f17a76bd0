#include "packaging/embed.hpp"

#include "core/fileio.hpp"
#include "packaging/record.hpp"
#include "packaging/whl_names.hpp"
#include "packaging/whl_io.hpp"

#include <utility>

namespace fs = std::filesystem;

namespace quorvex::embed {

namespace {

// A path as RECORD gives it: relative to site-packages, with "/" between its parts.
std::string recordPath(const fs::path& file, const fs::path& sitePackages) {
  const auto normal = [](const fs::path& path) { return fs::absolute(path).lexically_normal(); };
  return normal(file).lexically_relative(normal(sitePackages)).generic_string();
}

} // namespace

void installProjectMetadata(const whl::Project& project, const fs::path& sitePackages,
                            const std::vector<fs::path>& installed) {
  const std::string distInfo = whl::distributionName(project.name) + "-" +
                               whl::distributionVersion(project.version) + ".dist-info";
  // The same texts as in the project's wheel, so that both installs answer alike.
  std::vector<std::pair<std::string, std::string>> files = {
      {"METADATA", whl::metadataText(project)}};
  if (std::string entryPoints = whl::entryPointsText(project); !entryPoints.empty())
    files.emplace_back("entry_points.txt", std::move(entryPoints));
  files.emplace_back("INSTALLER", "quorvex\n");

  const fs::path directory = sitePackages / distInfo;
  fs::create_directories(directory);
  std::string lines;
  for (const auto& [name, text] : files) {
    fileio::writeFile(directory / name, text);
    lines += record::line(distInfo + "/" + name, text) + "\n";
  }
  for (const fs::path& file : installed)
    lines += record::line(recordPath(file, sitePackages), whl::readBytes(file)) + "\n";
  lines += distInfo + "/RECORD,,\n";
  fileio::writeFile(directory / "RECORD", lines);
}

} // namespace quorvex::embed
