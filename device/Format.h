#pragma once
#include <QByteArray>
#include <cstdint>

namespace device {

// Bytes as "x.xx KB", " MB" or " GB"; always '.' and two decimals, whatever the locale.
QByteArray FormatSizeText(int64_t bytes);
// Milliseconds as "m:ss", or "h:mm:ss" from one hour on.
QByteArray FormatTimeText(uint32_t milliseconds);

} // namespace device
