// The black-box cases: each directory of tests/cases is one run of the built
// program in a fresh working directory, compared byte for byte (the format
// is described in tests/cases/README).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.hpp"

namespace blocklevels {
namespace {

namespace fs = std::filesystem;
using testing::read_file;

const fs::path kCases = fs::path(BLOCKLEVELS_SOURCE_DIR) / "tests" / "cases";

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(kCases)) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Every regular file below `root`, by its relative path, with its bytes.
std::map<std::string, std::string> files_below(const fs::path& root) {
  std::map<std::string, std::string> files;
  if (!fs::is_directory(root)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), root).string()] = read_file(entry.path().string());
    }
  }
  return files;
}

class BlackBox : public ::testing::TestWithParam<std::string> {};

TEST_P(BlackBox, Run) {
  const fs::path dir = kCases / GetParam();
#ifdef BLOCKLEVELS_SANITIZED
  if (fs::exists(dir / "needs-allocation-failure")) {
    GTEST_SKIP() << "AddressSanitizer aborts on a failed allocation instead of throwing";
  }
#endif
  const auto expected_bytes = [&](const char* name) {
    return testing::mask_stop_place(read_file((dir / name).string()));
  };
  testing::TemporaryDirectory work;
  if (fs::is_directory(dir / "given")) {
    fs::copy(dir / "given", work.path(), fs::copy_options::recursive);
  }
  testing::RunOptions options;
  std::istringstream args(read_file((dir / "args").string()));
  for (std::string arg; std::getline(args, arg);) options.args.push_back(arg);
  const testing::ProgramRun run =
      testing::run_program(read_file((dir / "stdin").string()), work.path(), options);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(testing::mask_stop_place(run.out), expected_bytes("stdout"));
  EXPECT_EQ(testing::mask_stop_place(run.err), expected_bytes("stderr"));
  EXPECT_EQ(std::to_string(run.exit_status) + "\n", read_file((dir / "status").string()));
  // The given files stay as they were unless files/ says otherwise.
  std::map<std::string, std::string> files = files_below(dir / "files");
  files.merge(files_below(dir / "given"));
  EXPECT_EQ(files_below(work.path()), files);
}

INSTANTIATE_TEST_SUITE_P(Cases, BlackBox, ::testing::ValuesIn(case_names()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                           std::string name = param.param;
                           std::replace_if(
                               name.begin(), name.end(),
                               [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
                               '_');
                           return name;
                         });

}  // namespace
}  // namespace blocklevels
