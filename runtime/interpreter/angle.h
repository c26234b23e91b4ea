// Angle reduction for the trigonometric natives: degrees are brought into a
// small range before they become radians, so that angles the functions treat
// alike (180 and 0 for the sine, 225 and 45 for the tangent) reach the math
// library as the same double (the sine of 180 degrees is then exactly 0).
#pragma once
#include <cmath>

namespace kem {

// The function an angle is reduced for; each has its own symmetry.
enum AngleMode : int {
    ANGLE_TANGENT = 0,  // period 180
    ANGLE_COSINE = 1,   // only the full turn is folded
    ANGLE_SINE = 2,     // symmetric about +90 and -90
};

// The literal the reductions and conversions use, so degrees and radians
// agree with the natives' own constant bit for bit.
constexpr double ANGLE_PI = 3.141592653589793;

// The angle in degrees, reduced for the mode, in radians.
inline double normalize_angle(double degrees, int mode) {
    double a = std::fmod(degrees, 360.0);  // -360 < a < 360
    if (a > 180.0 || a < -180.0) a += a >= 0.0 ? -360.0 : 360.0;
    if (a > 90.0 || a < -90.0) {
        if (mode == ANGLE_TANGENT) a += a >= 0.0 ? -180.0 : 180.0;
        else if (mode == ANGLE_SINE) a = a >= 0.0 ? 180.0 - a : -180.0 - a;
    }
    // Multiply first, then divide: the order fixes the last bit.
    return a * ANGLE_PI / 180.0;
}

} // namespace kem
