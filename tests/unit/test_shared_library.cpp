// Libraries opened on first use: found functions are callable through their
// pointers; a missing library or function leaves the library not ready and
// every pointer null.
#include <gtest/gtest.h>
#include <unistd.h>
#include "runtime/platform/shared_library.h"

using namespace kem::platform;

// The pointers live in a namespace of their own, as in the runtime, so that
// their names hide the library's functions.
namespace probe {

#define LIBC_FUNCTIONS(F) F(getpid) F(getppid)
KEM_LIBRARY_FUNCTIONS(libc, LIBC_FUNCTIONS)

void* absent = nullptr;
const LibrarySymbol partly_absent[] = {KEM_LIBRARY_SYMBOL(getppid){"kem_no_such_function", &absent}};

} // namespace probe

TEST(SharedLibrary, FoundFunctionsAreCalledThroughTheirPointers) {
    SharedLibrary libc("libc.so.6", probe::libc_symbols);
    EXPECT_EQ(probe::getpid, nullptr);  // nothing is opened before it is asked for
    ASSERT_TRUE(libc.ready());
    ASSERT_NE(probe::getpid, nullptr);
    EXPECT_EQ(probe::getpid(), ::getpid());
    EXPECT_EQ(probe::getppid(), ::getppid());
}

TEST(SharedLibrary, AMissingLibraryOrFunctionIsNotReady) {
    SharedLibrary missing("libkem-no-such-library.so.1", probe::libc_symbols);
    EXPECT_FALSE(missing.ready());
    EXPECT_FALSE(missing.ready());
    EXPECT_STREQ(missing.file(), "libkem-no-such-library.so.1");

    probe::getppid = nullptr;
    SharedLibrary partial("libc.so.6", probe::partly_absent);
    EXPECT_FALSE(partial.ready());
    EXPECT_EQ(probe::getppid, nullptr);
    EXPECT_EQ(probe::absent, nullptr);
}
