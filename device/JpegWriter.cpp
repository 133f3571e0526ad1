#include "device/JpegWriter.h"

#include <QSysInfo>
#include <turbojpeg.h>

namespace device {

JpegWriter::JpegWriter() : Handle(tjInitCompress()) {}

JpegWriter::~JpegWriter() {
    if (Handle)
        tjDestroy(static_cast<tjhandle>(Handle));
}

QByteArray JpegWriter::Encode(const QImage& image) {
    if (!Handle || image.isNull())
        return {};
    // 24-bit RGB and 32-bit xRGB (what the decoders give) go in as they are.
    const bool direct = image.format() == QImage::Format_RGB888 || image.format() == QImage::Format_RGB32;
    const QImage rgb = direct ? image : image.convertToFormat(QImage::Format_RGB888);
    const int pixelFormat = rgb.format() == QImage::Format_RGB888           ? TJPF_RGB
                            : QSysInfo::ByteOrder == QSysInfo::LittleEndian ? TJPF_BGRX
                                                                            : TJPF_XRGB;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    // No TJFLAG_PROGRESSIVE (baseline) and no TJFLAG_FASTDCT (libjpeg's default DCT).
    const int rc = tjCompress2(static_cast<tjhandle>(Handle), rgb.constBits(), rgb.width(), int(rgb.bytesPerLine()),
                               rgb.height(), pixelFormat, &out, &outSize, TJSAMP_420, Quality, 0);
    QByteArray result;
    if (rc == 0 && out)
        result = QByteArray(reinterpret_cast<const char*>(out), qsizetype(outSize));
    tjFree(out);
    return result;
}

} // namespace device
