// A fixture that runs a test once per form record (fast, portable) with those forms installed,
// and puts the process's real choice back afterwards.
#pragma once

#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "crypto/zantu_hash.h"
#include "tests/support/dispatch_guard.h"

// kEveryForm: the form records, fast first.
inline const HashForms* const kEveryForm[] = {&kFastForms, &kPortableForms};

inline void PrintTo(const HashForms* forms, std::ostream* os) {
    *os << forms->name;
}

// runnable_here tells whether this processor runs |forms|: the portable ones always, the fast
// ones where the probe found their instructions.
inline bool runnable_here(const HashForms& forms) {
    return forms.probe_answer != 1 || probe_fast_hash_support() == 1;
}

class HashFormTest : public ::testing::TestWithParam<const HashForms*> {
  protected:
    void SetUp() override {
        if (!runnable_here(*GetParam())) GTEST_SKIP() << "processor lacks the fast forms";
        install_forms(*GetParam());
    }

  private:
    DispatchGuard restore_;
};

#define INSTANTIATE_FOR_EVERY_FORM(suite)                                                          \
    INSTANTIATE_TEST_SUITE_P(AllForms, suite, ::testing::ValuesIn(kEveryForm),                     \
                             [](const auto& info) { return std::string(info.param->name); })
