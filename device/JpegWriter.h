#pragma once
// JPEG encoding with libjpeg-turbo at the settings the exported photos use: quality 90,
// baseline, colour (YCbCr 4:2:0, as libjpeg's defaults).
#include <QByteArray>
#include <QImage>
#include <QString>

namespace device {

class JpegWriter {
public:
    JpegWriter();
    ~JpegWriter();
    JpegWriter(const JpegWriter&) = delete;
    JpegWriter& operator=(const JpegWriter&) = delete;

    // The JPEG file of `image` (converted to RGB888 when it is not); empty on failure.
    QByteArray Encode(const QImage& image);

    static constexpr int Quality = 90;

private:
    void* Handle = nullptr;
};

} // namespace device
