// Every crypto test starts from the state the solver's start-up leaves: processor probed,
// Haraka forms selected.
#include <gtest/gtest.h>

#include "crypto/selection.h"
#include "crypto/haraka/haraka.h"

namespace {

class StartupEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        probe_fast_hash_support();
        select_haraka_implementations();
    }
};

[[maybe_unused]] ::testing::Environment* const startup_environment =
    ::testing::AddGlobalTestEnvironment(new StartupEnvironment);

} // namespace
