#pragma once
// Thumbnail and artwork formats: the chosen-format record, the table of known format ids and
// the 66-byte 16-bit bit-field bitmap header that turns a stored image into a bitmap file.
#include <array>
#include <cstdint>

namespace device {

// One chosen thumbnail or artwork format.
struct TThumbFormat {
    int32_t Id = 0;    // format id as the image references give it
    int32_t Size = 0;  // bytes of one image in its container
    int32_t Width = 0; // from the table for a known id, else reference width + padding
    int32_t Height = 0;
    int32_t FileCount = 0; // highest container number seen (at least 1 once chosen)

    bool operator==(const TThumbFormat&) const = default;
};

// Sets Width and Height for the 37 known ids; any other id is left as the chooser set it.
void LookupThumbFormatSize(TThumbFormat& format);

constexpr int BitmapHeaderSize = 66;
using TBitmapHeader = std::array<uint8_t, BitmapHeaderSize>;

// RGB565 on a disk-mode iPod, RGB555 on an iPhone or iPod touch.
constexpr uint32_t MaskRed565 = 0xF800, MaskGreen565 = 0x07E0, MaskBlue565 = 0x001F;
constexpr uint32_t MaskRed555 = 0x7C00, MaskGreen555 = 0x03E0, MaskBlue555 = 0x001F;

// The bitmap file header for one format: "BM", file length Size + 66, pixel data at 66,
// Width, minus Height (rows top first), 16 bits, bit fields, then the device kind's masks.
TBitmapHeader BuildBitmapHeader(const TThumbFormat& format, bool handheld);

// Format ids with a layout of their own; every other id is 16-bit RGB.
constexpr int32_t FormatUyvy = 1019;
constexpr int32_t FormatRgb565BigEndian = 1023;
constexpr int32_t FormatPlanarYuv = 1067;
constexpr int32_t FormatJpegData = 1081;

} // namespace device
