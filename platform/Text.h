#pragma once
// Text helpers with the Windows meaning of a blank: every character below 33.
#include <QString>

namespace platform {

// The text without blanks and control characters at both ends.
QString TrimBlanks(const QString& text);

// True when the text holds nothing but blanks and control characters.
inline bool IsBlank(const QString& text) {
    return TrimBlanks(text).isEmpty();
}

} // namespace platform
