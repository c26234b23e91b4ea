// The platform step of the runtime start-up.
#include "runtime/platform/platform.h"
#include <ctime>

namespace kem::platform {

void platform_init() {
    // No imaging library, COM apartment or wide-text stream mode exists here;
    // what remains is loading the local time zone once, up front.
    tzset();
}

} // namespace kem::platform
