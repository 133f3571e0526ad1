#include "device/Format.h"

#include <cmath>
#include <cstdio>

namespace device {

QByteArray FormatSizeText(int64_t bytes) {
    const char* unit;
    double divisor;
    if (bytes < 1048576) {
        divisor = 1024.0;
        unit = " KB";
    } else if (bytes > 1073741824) {
        divisor = 1024.0 * 1024.0 * 1024.0;
        unit = " GB";
    } else {
        divisor = 1024.0 * 1024.0;
        unit = " MB";
    }
    // Hundredths, a half rounded away from zero: 1152 bytes are 1.125 KB and show as 1.13, where
    // printf would round the exact binary tie to even. The divisors are powers of two, so the
    // product is exact and the tie test sees the true value.
    const double hundredths = std::round(double(bytes) * 100.0 / divisor);
    const double whole = std::fabs(hundredths);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%.0f.%02d%s", hundredths < 0 ? "-" : "", std::floor(whole / 100.0),
                  int(std::fmod(whole, 100.0)), unit);
    return QByteArray(buf);
}

QByteArray FormatTimeText(uint32_t milliseconds) {
    const uint32_t t = milliseconds / 1000;
    const uint32_t m = t / 60, s = t % 60;
    char buf[32];
    if (m < 60)
        std::snprintf(buf, sizeof buf, "%u:%.2u", m, s);
    else
        std::snprintf(buf, sizeof buf, "%u:%.2u:%.2u", m / 60, m % 60, s);
    return QByteArray(buf);
}

} // namespace device
