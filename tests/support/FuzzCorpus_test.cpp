// Replays the saved corpus of one fuzz target through its entry: every input must pass
// without a crash or a broken invariant (the entries abort on one).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "TempTree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace vorn {
namespace {

TEST(FuzzCorpus, ReplaysEveryInput) {
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VORN_FUZZ_CORPUS)) {
    if (!entry.is_regular_file()) continue;
    const std::string bytes = test::ReadFile(entry.path().string());
    SCOPED_TRACE(entry.path().filename().string());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++replayed;
  }
  EXPECT_GE(replayed, 5);
}

}  // namespace
}  // namespace vorn
