#pragma once
// Pixel layouts of the thumbnail containers decoded into QImages (16-bit bitmaps into RGB32,
// the YUV layouts into RGB888), and the fixed-point resize of the UYVY export.
#include <QByteArray>
#include <QImage>
#include <cstdint>
#include <functional>

namespace device {

// Rounds half to even, then clamps to 0..255.
uint8_t ClampByte(double value);

// Largest picture a bitmap header may ask for; a damaged database cannot make us allocate more.
constexpr qint64 MaxBitmapPixels = qint64(2048) * 2048;

// Decodes a 16-bit bit-field bitmap file (a 66-byte header as BuildBitmapHeader makes, then
// pixel rows) by its width, height and masks into an RGB32 image. Pixel bytes that the data does not hold leave
// their pixels black. A null image for a header that is not such a bitmap.
QImage DecodeBitfieldBitmap(const char* file, qint64 size);
inline QImage DecodeBitfieldBitmap(const QByteArray& file) {
    return DecodeBitfieldBitmap(file.constData(), file.size());
}

// Exchanges the two bytes of every 16-bit word in the first `count` bytes.
void SwapBytes16(uint8_t* data, qint64 count);

// Two-field UYVY (format 1019): 240 lines of 1440 bytes per field, 720 stored columns of which
// the 704 in the middle are kept.
constexpr int UyvyLineBytes = 1440;
constexpr int UyvyFieldLines = 240;
constexpr int UyvyImageBytes = 2 * UyvyFieldLines * UyvyLineBytes; // 691200
constexpr int UyvyWidth = 704;
constexpr int UyvyHeight = 480;

// Decodes one stored line into 704 RGB888 pixels.
void DecodeUyvyLine(const uint8_t* line, uint8_t* rgbRow);

// Fills the next 1440 bytes of the image into `line`; false when they cannot be read.
using UyvyLineReader = std::function<bool(uint8_t* line)>;

// Decodes field 0 or 1 into every other row (2l + field) of the 704 x 480 RGB888 target.
// False when a line could not be read; the rows decoded so far stay.
bool ReadUyuvField(const UyvyLineReader& read, int field, QImage& target);

// A whole two-field UYVY image (UyvyImageBytes) decoded and resized into the RGB888 `dest`:
// the same pixels as ReadUyuvField for both fields followed by ResampleBitmap, without the
// full-size picture in between when every dest row comes from one source row.
void DecodeUyvyResampled(const uint8_t* image, QImage& dest);

// Tests turn the hand-written vector kernels off (and on again) to check the portable code.
void SetVectorKernelsForTesting(bool enabled);

// Planar YUV 4:2:0 (format 1067): Y 720 x 480 at 0, Cb 360 x 240 at 345600, Cr at 432000.
constexpr int PlanarWidth = 720;
constexpr int PlanarHeight = 480;
constexpr int PlanarImageBytes = 518400;
constexpr int PlanarBufferBytes = 691200;
void DecodePlanarYuv(const uint8_t* buffer, QImage& target);

// Big-endian RGB565 (format 1023) is swapped within a buffer of this size.
constexpr int Rgb565BigEndianBufferBytes = 46464;

// Bilinear resize in 16.16 fixed point of RGB888 `source` into the RGB888 `dest`, whose size
// is already set.
void ResampleBitmap(const QImage& source, QImage& dest);

} // namespace device
