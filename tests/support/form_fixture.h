// A fixture that runs a test once per form (fast, portable) with that form installed,
// and puts the process's real choice back afterwards.
#pragma once

#include <cstring>
#include <ostream>

#include <gtest/gtest.h>

#include "crypto/zantu_hash.h"
#include "tests/support/dispatch_guard.h"

struct HashForm {
    const char* name;
    int32_t fast;
};

inline void PrintTo(const HashForm& form, std::ostream* os) {
    *os << form.name;
}

inline const HashForm kHashForms[] = {{"fast", 1}, {"portable", 0}};

class HashFormTest : public ::testing::TestWithParam<HashForm> {
  protected:
    void SetUp() override {
        if (GetParam().fast == 1 && probe_fast_hash_support() != 1)
            GTEST_SKIP() << "processor lacks the fast forms";
        install_forms(GetParam().fast);
    }

  private:
    DispatchGuard restore_;
};

#define INSTANTIATE_FOR_EVERY_FORM(suite)                                                          \
    INSTANTIATE_TEST_SUITE_P(AllForms, suite, ::testing::ValuesIn(kHashForms),                     \
                             [](const auto& info) { return std::string(info.param.name); })
