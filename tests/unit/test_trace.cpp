// Trace events: the tracer is installed only for the traced evaluation and
// leaves every flag clear afterwards, whichever way that evaluation ends.
#include "eval_support.h"
#include "runtime/interpreter/trace.h"

namespace kem::test {
namespace {

void expect_idle() {
    EXPECT_FALSE(interp::trace_run);
    EXPECT_FALSE(interp::trace_on);
    EXPECT_FALSE(interp::tracing);
}

TEST(Trace, FlagsClearAfterEveryEnding) {
    const Case cases[] = {
        {"do/trace [1 + 2] func [e c o v r f] [none]", "3"},
        {"do/trace [1 / 0] func [e c o v r f] [none]", "error math/zero-divide"},
        {"catch [do/trace [throw 4] func [e c o v r f] [none]]", "4"},
        {"do/trace [1] func [e c o v r f] [[end] 1 / 0]", "error math/zero-divide"},
        {"f: func [] [do/trace [return 3] func [e c o v r f] [none] 9] f", "3"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run_kem(c.source), c.expected) << c.source;
        expect_idle();
    }
}

TEST(Trace, EventMaskFromTheBodysFirstBlock) {
    const struct {
        const char* source;
        const char* mask;
    } cases[] = {
        {"func [e c o v r f] []", "131071"},
        {"func [e c o v r f] [1]", "131071"},
        {"func [e c o v r f] [[call return]]", "2176"},
        {"func [e c o v r f] [[init 3 \"x\" nothing end]]", "3"},
    };
    for (const auto& c : cases) {
        boot_all();
        stack::init();
        Cell body = *scan_source(c.source);
        interp::eval_block(&body, false);
        const Cell fn = *(stack::top - 1);
        EXPECT_EQ(std::to_string(interp::trace_event_mask(&fn)), c.mask) << c.source;
        stack::init();
    }
}

TEST(Trace, ErrorReportedOnceBeforeUnwinding) {
    EXPECT_EQ(run_kem("n: 0 try [do/trace [do [do [1 / 0]]] func [e c o v r f] [[error] n: n + 1]] n"), "1");
    EXPECT_EQ(run_kem("n: 0 do/trace [try [1 / 0] try [2 / 0]] func [e c o v r f] [[error] n: n + 1] n"), "2");
}

} // namespace
} // namespace kem::test
