#pragma once
// Errors that the readers and the link raise to their callers. Event handlers of the window
// catch them at their boundary; the copy thread catches them in its body.
#include <QString>
#include <stdexcept>

namespace platform {

class Error : public std::runtime_error {
public:
    explicit Error(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString Message() const { return QString::fromUtf8(what()); }
};

// A file that cannot be opened or created.
class EFOpenError : public Error {
public:
    using Error::Error;
};

// Compressed data that does not inflate.
class EDecompressionError : public Error {
public:
    using Error::Error;
};

} // namespace platform
