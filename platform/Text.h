#pragma once
// Text helpers for typed and stored texts, where a blank is any character up to the space (code
// 32), control characters included.
#include <QString>

namespace platform {

// The text without blanks and control characters at both ends.
QString TrimBlanks(const QString& text);

// True when the text holds nothing but blanks and control characters.
inline bool IsBlank(const QString& text) {
    return TrimBlanks(text).isEmpty();
}

} // namespace platform
