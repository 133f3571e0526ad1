#pragma once
// Every test source sees this first (the test folders' build force-includes it), so that a
// failed comparison of QString, or of a list of them, shows the text instead of the bytes of
// each QChar, the same way in every translation unit.
#include <QString>
#include <cstdio>
#include <ostream>
#include <string>

// Quoted as it reads; what does not print (control and format characters, a lone surrogate)
// as an escape, so that texts that differ only there still look different.
inline void PrintTo(const QString& text, std::ostream* os) {
    std::string out = "\"";
    for (qsizetype i = 0, n = 1; i < text.size(); i += n) {
        char32_t c = text[i].unicode();
        n = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(text[i], text[i + 1]), n = 2;
        if (c == U'"' || c == U'\\') {
            out += '\\';
            out += char(c);
        } else if (QChar::isPrint(c)) {
            out += text.mid(i, n).toStdString();
        } else {
            char escape[16];
            std::snprintf(escape, sizeof escape, c < 0x100 ? "\\x%02X" : "\\u%04X", unsigned(c));
            out += escape;
        }
    }
    *os << out << '"';
}
