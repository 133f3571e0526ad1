#include "device/Format.h"

#include <cstdio>

namespace device {

QByteArray FormatSizeText(int64_t bytes) {
    const char* unit;
    double value;
    if (bytes < 1048576) {
        value = double(bytes) / 1024.0;
        unit = " KB";
    } else if (bytes > 1073741824) {
        value = double(bytes) / (1024.0 * 1024.0 * 1024.0);
        unit = " GB";
    } else {
        value = double(bytes) / (1024.0 * 1024.0);
        unit = " MB";
    }
    // snprintf with the "C" locale's '.' (Qt leaves LC_NUMERIC at "C").
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f%s", value, unit);
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
