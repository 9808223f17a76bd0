// The downloads of the cross compiler: the Windows Python pieces and the toolchain over HTTP.
#include "crosscompile/cross.hpp"

#include "core/fileio.hpp"

#include <curl/curl.h>
#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::cross {

namespace {

constexpr long chunkSize = 1L << 20;

// The origin of a release area: the environment variable replaces the default, so that a
// mirror (or a local server) can serve the same paths.
std::string origin(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  std::string text = value != nullptr && *value != '\0' ? value : fallback;
  while (!text.empty() && text.back() == '/') text.pop_back();
  return text;
}

std::string pythonReleaseUrl(const std::string& version, const std::string& name) {
  return origin("QUORVEX_PYTHON_DOWNLOAD_BASE", "https://www.python.org") + "/ftp/python/" +
         version + "/" + name;
}

std::string toolchainUrl() {
  return origin("QUORVEX_LLVM_MINGW_DOWNLOAD_BASE", "https://github.com/mstorsjo/llvm-mingw") +
         "/releases/download/20260602/llvm-mingw-20260602-ucrt-i686.zip";
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

struct Sink {
  std::FILE* file;
  int error = 0;
};

std::size_t writeChunk(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const std::size_t bytes = size * count;
  if (std::fwrite(data, 1, bytes, sink->file) == bytes) return bytes;
  sink->error = errno != 0 ? errno : EIO;
  return 0; // ends the transfer
}

std::error_code errorOf(int error) { return {error != 0 ? error : EIO, std::generic_category()}; }

} // namespace

fs::path CrossCompiler::downloadFile(const fs::path& target, const std::string& url) const {
  static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (initialised != CURLE_OK)
    throw std::runtime_error(
        fmt::format("cannot download {}: {}", url, curl_easy_strerror(initialised)));
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) throw std::runtime_error(fmt::format("cannot download {}: no HTTP client", url));

  fileio::TemporaryFile temporary(fileio::temporarySibling(target));
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(temporary.path().c_str(), "wb"));
  if (!file) throw fs::filesystem_error("cannot write", target, errorOf(errno));
  Sink sink{file.get()};
  char errorText[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_BUFFERSIZE, chunkSize);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, writeChunk);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, errorText);
  const CURLcode code = curl_easy_perform(curl.get());
  if (sink.error != 0) throw fs::filesystem_error("cannot write", target, errorOf(sink.error));
  if (code == CURLE_HTTP_RETURNED_ERROR) {
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    throw std::runtime_error(fmt::format("cannot download {}: HTTP status {}", url, status));
  }
  if (code != CURLE_OK)
    throw std::runtime_error(fmt::format("cannot download {}: {}", url,
                                         *errorText != '\0' ? errorText : curl_easy_strerror(code)));
  errno = 0;
  if (std::fclose(file.release()) != 0)
    throw fs::filesystem_error("cannot write", target, errorOf(errno));
  fs::rename(temporary.path(), target);
  temporary.release();
  return target;
}

void CrossCompiler::prepare_python(const std::string& version, const fs::path& target) const {
  fs::create_directories(target);
  const std::string embedName = "python-" + version + "-embed-amd64.zip";
  unpackZip(target / "embed",
            downloadFile(target / embedName, pythonReleaseUrl(version, embedName)));
  // Every member of the source release lies under "Python-<version>/", so unpacking into the
  // target gives the tree "Python-<version>" there.
  const std::string sourceName = "Python-" + version + ".tar.xz";
  unpackXz(target, downloadFile(target / sourceName, pythonReleaseUrl(version, sourceName)));
  fs::rename(target / ("Python-" + version) / "Include", target / "include");
}

void CrossCompiler::download(const fs::path& target) const {
  unpackZip(target, downloadFile("llvm.zip", toolchainUrl()));
}

} // namespace quorvex::cross
