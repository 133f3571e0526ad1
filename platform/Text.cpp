#include "platform/Text.h"

namespace platform {

QString TrimBlanks(const QString& text) {
    qsizetype first = 0, last = text.size();
    while (first < last && text[first].unicode() < 33)
        ++first;
    while (last > first && text[last - 1].unicode() < 33)
        --last;
    return text.mid(first, last - first);
}

} // namespace platform
