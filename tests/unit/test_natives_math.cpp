// The math natives, run as Kem code. Float results are compared through
// mold, which writes the shortest digits that read back to the same double,
// so a molded text pins the result bit for bit.
#include <fcntl.h>
#include <unistd.h>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>
#include "eval_support.h"
#include "runtime/interpreter/angle.h"
#include "runtime/interpreter/natives.h"

using namespace kem;
using namespace kem::test;

TEST(AngleReduction, FoldsEachFunctionOntoItsSymmetry) {
    // (degrees, mode, the degrees it must come out as)
    struct { double degrees; int mode; double same_as; } cases[] = {
        {180, ANGLE_SINE, 0},       {150, ANGLE_SINE, 30},      {-150, ANGLE_SINE, -30},
        {390, ANGLE_SINE, 30},      {-200, ANGLE_SINE, 20},    {225, ANGLE_TANGENT, 45},
        {-135, ANGLE_TANGENT, 45},  {100, ANGLE_TANGENT, -80},  {270, ANGLE_COSINE, -90},
        {190, ANGLE_COSINE, -170},  {-720, ANGLE_COSINE, 0},    {720, ANGLE_SINE, 0},
        {720, ANGLE_TANGENT, 0},    {90, ANGLE_SINE, 90},       {-90, ANGLE_TANGENT, -90},
    };
    for (auto& c : cases) {
        double want = c.same_as * 3.141592653589793 / 180.0;
        EXPECT_EQ(normalize_angle(c.degrees, c.mode), want) << c.degrees << " mode " << c.mode;
    }
}

TEST(MathNatives, Trigonometry) {
    expect_runs({
        // exact zeros and infinities
        {"sine 180", "0.0"},
        {"sine -180", "0.0"},
        {"sine/radians 3.141592653589793", "0.0"},
        {"cosine 90", "0.0"},
        {"cosine 270", "0.0"},
        {"tangent 90", "1.#INF"},
        {"tangent -90", "-1.#INF"},
        {"tangent 270", "-1.#INF"},
        {"tangent/radians 1.5707963267948966", "1.#INF"},
        {"tangent/radians -1.5707963267948966", "-1.#INF"},
        {"sine 90", "1.0"},
        {"cosine 180", "-1.0"},
        // reduced angles reach the library as the same double
        {"(sine 150) = sine 30", "true"},
        {"equal? mold sine 150 mold sine 30", "true"},
        {"equal? mold tangent 225 mold tangent 45", "true"},
        {"equal? mold sine 750 mold sine 30", "true"},
        // values from an outside libm (Python's math module)
        {"sine 30", "0.49999999999999994"},
        {"form sine 30", "\"0.5\""},
        {"sine -30", "-0.49999999999999994"},
        {"tangent 45", "0.9999999999999999"},
        {"sine 50%", "0.008726535498373935"},
        {"cosine/radians 1", "0.5403023058681398"},
        {"arcsine 1", "90.0"},
        {"arcsine/radians 1", "1.5707963267948966"},
        {"arccosine 0.5", "60.00000000000001"},
        {"arccosine/radians -1", "3.141592653589793"},
        {"arctangent 1", "45.0"},
        {"arctangent2 1 1", "45.0"},
        {"arctangent2 0 -1", "180.0"},
        {"arctangent2 -1.0 0", "-90.0"},
        {"arctangent2/radians 1 -1", "2.356194490192345"},
        {"arcsine 2", "1.#NaN"},
        {"sine \"a\"", "error script/expect-arg"},
        {"arctangent2 1 50%", "error script/expect-arg"},
    });
}

TEST(MathNatives, LogarithmsPowersAndNaN) {
    expect_runs({
        {"log-2 8", "3.0"},
        {"log-2 1024", "10.0"},
        {"log-10 1000", "3.0"},
        {"log-10 0", "-1.#INF"},
        {"log-e 1", "0.0"},
        {"log-e -1", "1.#NaN"},
        {"exp 0", "1.0"},
        {"exp 1", "2.718281828459045"},
        {"exp 2", "7.3890560989306495"},
        {"square-root 16", "4.0"},
        {"square-root 25%", "0.5"},
        {"square-root -1", "1.#NaN"},
        {"square-root 2", "1.4142135623730951"},
        {"NaN? 1", "false"},
        {"NaN? 1.#NaN", "true"},
        {"NaN? square-root -1", "true"},
        {"NaN? 1.#INF", "false"},
        {"NaN? 0%", "false"},
        {"log-e 1:00", "error script/expect-arg"},
    });
}

TEST(MathNatives, SignTests) {
    expect_runs({
        {"negative? -1", "true"},
        {"negative? 0", "false"},
        {"positive? 1", "true"},
        {"positive? -2147483648", "false"},
        {"negative? -0.5", "true"},
        {"negative? -0.0", "false"},
        {"positive? 1%", "true"},
        {"negative? -0:00:01", "true"},
        {"positive? 1.#NaN", "false"},
        {"negative? 1.#NaN", "false"},
        {"sign? 7", "1"},
        {"sign? -7", "-1"},
        {"sign? 0", "0"},
        {"sign? -2.5", "-1"},
        {"sign? -0:01", "-1"},
        {"sign? 1.#NaN", "0"},
        {"sign? -0.0", "0"},
        {"negative? \"a\"", "error script/expect-arg"},
        {"sign? 1x1", "error script/expect-arg"},
    });
}

TEST(MathNatives, ShiftAndToHex) {
    expect_runs({
        {"shift 8 2", "2"},
        {"shift -8 1", "-4"},
        {"shift -1 40", "-1"},
        {"shift 5 32", "0"},
        {"shift 8 -3", "8"},
        {"shift/logical -8 28", "15"},
        {"shift/logical -1 32", "0"},
        {"shift/left 1 31", "-2147483648"},
        {"shift/left 1 32", "0"},
        {"shift/left 3 -1", "3"},
        {"shift/left/logical 1 4", "16"},
        {"shift/logical/left 1 4", "16"},
        {"to-hex 255", "#000000FF"},
        {"to-hex -1", "#FFFFFFFF"},
        {"to-hex 0", "#00000000"},
        {"to-hex/size 255 2", "#FF"},
        {"to-hex/size -2 3", "#FFE"},
        {"to-hex/size 255 8", "#000000FF"},
        {"to-hex/size 255 20", "#000000FF"},
        {"to-hex/size 255 0", "error script/invalid-arg"},
        {"to-hex/size 255 -1", "error script/invalid-arg"},
        {"shift 1.0 1", "error script/expect-arg"},
    });
}

TEST(MathNatives, MaxMinOnOrderedValues) {
    expect_runs({
        {"max 1 2", "2"},
        {"min 1 2", "1"},
        // equal values: max keeps the first, min takes the second
        {"max 1 1.0", "1"},
        {"min 1 1.0", "1.0"},
        {"max 10:00 9:00", "10:00:00"},
        {"max 50% 0.4", "50%"},
        {"max \"abc\" \"abd\"", "\"abd\""},
        {"min [1 2] [1 3]", "[1 2]"},
        {"min 1.2.3.4 1.2.3", "1.2.3"},
        // a NaN beside a number wins on either side
        {"max 1.#NaN 1", "1.#NaN"},
        {"min 1 1.#NaN", "1.#NaN"},
        {"max 2.0 1.#NaN", "1.#NaN"},
        {"min -1.#INF 1.#NaN", "1.#NaN"},
        {"max 1 \"a\"", "error script/invalid-compare"},
        {"min 1x2 5%", "error script/invalid-compare"},
        {"max 1 none", "error script/expect-arg"},
    });
}

TEST(MathNatives, MaxMinOnCompoundValues) {
    expect_runs({
        {"max 1x5 3", "3x5"},
        {"max 3 1x5", "3x5"},
        {"min 1x5 -2.7", "-2x-2"},
        {"max 1x5 2.9", "2x5"},
        {"max 1x5 4x2", "4x5"},
        {"min 1x5 4x2", "1x2"},
        // a float no pair coordinate can hold turns the pair into a point
        {"min 1x1 -2147483649.0", "(-2.147484e9, -2.147484e9)"},
        {"max 1x1 2147483648.0", "(2.147484e9, 2.147484e9)"},
        {"max 1.#NaN 1x1", "(1.#NaN, 1.#NaN)"},
        {"max 1x5 (3, 4)", "(3, 5)"},
        {"max 1x2 (1, 2, 3)", "error script/invalid-compare"},
        {"max (1, 2) 1.5", "(1.5, 2)"},
        {"min 3 (1.5, 4)", "(1.5, 3)"},
        {"max (1, 2) 1.#NaN", "(1.#NaN, 1.#NaN)"},
        {"max (1, 2, 3) (3, 2, 1)", "(3, 2, 3)"},
        {"max (1, 2) (1, 2, 3)", "error script/invalid-compare"},
        {"max 1.2.3 2", "2.2.3"},
        {"max 1.2.3 300", "255.255.255"},
        {"min 1.2.3 -5", "0.0.0"},
        {"max 1.2.3 2.9", "2.2.3"},
        {"max 1.2.3 4.0.1", "4.2.3"},
        {"min 1.2.3 4.0.1", "1.0.1"},
        {"max 1.2.3 1.#INF", "error script/type-limit"},
        {"min 1.2.3 1.#NaN", "error script/type-limit"},
        {"min 1.2.3 1e10", "error script/type-limit"},
    });
}

TEST(MathNatives, ZeroQ) {
    expect_runs({
        {"zero? 0", "true"},
        {"zero? 1", "false"},
        {"zero? 0.0", "true"},
        {"zero? -0.0", "true"},
        {"zero? 1.#NaN", "false"},
        {"zero? 0%", "true"},
        {"zero? 0:00", "true"},
        {"zero? #\"^@\"", "true"},
        {"zero? #\"a\"", "false"},
        {"zero? 0x0", "true"},
        {"zero? 0x1", "false"},
        {"zero? 0.0.0", "true"},
        {"zero? 0.0.1", "false"},
        {"zero? (0, 0)", "true"},
        {"zero? (0, 0, 1)", "false"},
        {"zero? \"\"", "error script/expect-arg"},
    });
}

// size? over files made for the test.
class SizeQ : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        char tmpl[] = "/tmp/kem-size-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        for (const char* f : {"/data.bin", "/empty", "/huge"}) unlink((dir + f).c_str());
        rmdir(dir.c_str());
    }
    void make_file(const char* name, off_t size) {
        int fd = open((dir + name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, size), 0);  // sparse: no real disk use
        close(fd);
    }
    std::string size_of(const std::string& name) { return run_kem("size? %" + dir + name); }
};

TEST_F(SizeQ, GivesTheSizeOfFilesOnly) {
    make_file("/data.bin", 1234);
    make_file("/empty", 0);
    EXPECT_EQ(size_of("/data.bin"), "1234");
    EXPECT_EQ(size_of("/empty"), "0");
    EXPECT_EQ(size_of("/missing"), "none");
    EXPECT_EQ(size_of("/"), "none");   // a folder by its form
    EXPECT_EQ(size_of(""), "none");    // a folder that is named as a file
    EXPECT_EQ(run_kem("size? %."), "none");
    EXPECT_EQ(run_kem("size? %.."), "none");
    EXPECT_EQ(run_kem("size? \"x\""), "error script/expect-arg");
}

TEST_F(SizeQ, SizeBeyondAnIntegerIsExact) {
    make_file("/huge", off_t(5) << 30);  // would wrap to 1 GiB in 32 bits
    EXPECT_EQ(size_of("/huge"), "5368709120.0");
}
