#include "fakes.hpp"

#include "support/tempdir.hpp"

#include <algorithm>

namespace fs = std::filesystem;

namespace quorvex::compilation_test {

process::Result CythonRecorder::play(const std::vector<std::string>& argv) {
  std::vector<std::string> args(argv.begin() + 1, argv.end());
  runs.push_back(args);
  auto at = [&](const std::string& flag) { return std::find(args.begin(), args.end(), flag); };
  if (auto shared = at("--generate-shared"); shared != args.end()) {
    quorvex::testing::writeFile(*(shared + 1), "/* shared */\n");
  } else if (at("--embed") != args.end()) {
    fs::path pyx = args.back();
    if (writeEmbedOutput)
      quorvex::testing::writeFile(pyx.replace_extension(".c"), embedText);
  } else if (auto out = at("--output-file"); out != args.end()) {
    if (duringBatch) duringBatch();
    for (auto it = out + 4; it != args.end(); ++it) {
      if (!failOn.empty() && it->find(failOn) != std::string::npos)
        return {.exitCode = 1, .output = *it + ":1:4: Syntax error in simple statement list"};
      quorvex::testing::writeFile(fs::path(*(out + 1)) / (fs::path(*it).stem().string() + ".c"),
                                  "/* module */\n");
    }
  }
  return {};
}

LogRecorder::LogRecorder() : previousLevel_(log::root().level) {
  log::addHandler(handler);
  log::root().level = log::DEBUG;
}

LogRecorder::~LogRecorder() {
  log::removeHandler(handler);
  log::root().level = previousLevel_;
}

std::vector<std::string> LogRecorder::messages(const std::string& logger) const {
  std::vector<std::string> out;
  for (const auto& record : handler->records)
    if (record.name == logger) out.push_back(record.msg);
  return out;
}

} // namespace quorvex::compilation_test
