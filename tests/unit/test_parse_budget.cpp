// The fuzzer's bounds on a parse run: its steps, the length its input may
// grow to and the frames it may hold.
#include <gtest/gtest.h>
#include <string>
#include "eval_support.h"
#include "runtime/collector/collector.h"
#include "runtime/core/memory.h"
#include "runtime/parse/parse.h"

namespace kem {
namespace {

// Runs the source under a step budget: true when the budget stopped it.
bool stopped_by_budget(const std::string& source, uint64_t steps) {
    boot_all();
    stack::init();
    last_throw_code = 0;
    parse_step_budget = steps;
    bool stopped = false;
    try {
        interp::eval_block(test::scan_source(source), false);
    } catch (const ParseStepsSpent&) {
        stopped = true;
    }
    parse_step_budget = 0;
    last_throw_code = 0;
    stack::init();
    return stopped;
}

TEST(ParseBudget, EndsRulesThatNeverStopAndInputsThatKeepGrowing) {
    EXPECT_TRUE(stopped_by_budget("parse \"a\" [while none]", 1000));
    EXPECT_FALSE(stopped_by_budget("parse \"ab\" [some skip]", 1000));
    EXPECT_TRUE(stopped_by_budget("s: copy \"ab\" parse s [while [(append s s)]]", 1000000));
    EXPECT_LE(std::stoul(test::run_kem("length? s")), 2u << 16) << "one doubling past the bound at most";
}

// Each step keeps a copy of 60 KB: the run is stopped once the frames pass
// the bound, long before its steps are spent, and what it made is gone at
// the next collection.
TEST(ParseBudget, EndsRulesThatKeepCopiesOnceTheFramesPassTheBound) {
    EXPECT_TRUE(stopped_by_budget("o: copy [] s: append/dup copy \"\" #\"x\" 60000 "
                                  "parse s [while [(append o copy s)]]",
                                  4000));
    EXPECT_LT(memory.total, PARSE_FUZZ_FRAMES + (uint64_t(8) << 20));
    const uint32_t copies = uint32_t(std::stoul(test::run_kem("length? o")));
    EXPECT_LT(copies, 1000u);
    EXPECT_GT(copies, 200u);
    test::run_kem("o: s: none");
    collector::collect();
    EXPECT_LT(memory.total, uint64_t(16) << 20);
}

} // namespace
} // namespace kem
