#include "device/ThumbFormat.h"

#include <cstddef>
#include <iterator>

namespace device {
namespace {

struct KnownFormat {
    int32_t Id, Width, Height;
};

constexpr KnownFormat KnownFormats[] = {
    {1009, 42, 30},   {1013, 220, 176}, {1015, 130, 88},  {1016, 140, 140}, {1017, 56, 56},   {1019, 720, 480},
    {1023, 176, 132}, {1024, 320, 240}, {1027, 100, 100}, {1028, 100, 100}, {1029, 200, 200}, {1031, 42, 42},
    {1032, 42, 37},   {1036, 50, 41},   {1055, 128, 128}, {1060, 320, 320}, {1061, 56, 55},   {1062, 56, 56},
    {1064, 320, 240}, {1066, 64, 64},   {1067, 720, 480}, {1068, 128, 128}, {1071, 240, 240}, {1074, 50, 50},
    {1078, 80, 80},   {1081, 640, 480}, {1084, 240, 240}, {3001, 256, 256}, {3002, 128, 128}, {3003, 64, 64},
    {3004, 56, 73},   {3005, 320, 320}, {3006, 56, 56},   {3007, 88, 88},   {3008, 640, 480}, {3009, 160, 128},
    {3011, 80, 79},
};
static_assert(std::size(KnownFormats) == 37);

void Put16(TBitmapHeader& h, int at, uint32_t v) {
    h[std::size_t(at)] = uint8_t(v);
    h[std::size_t(at) + 1] = uint8_t(v >> 8);
}

void Put32(TBitmapHeader& h, int at, uint32_t v) {
    Put16(h, at, v & 0xFFFF);
    Put16(h, at + 2, v >> 16);
}

} // namespace

void LookupThumbFormatSize(TThumbFormat& format) {
    for (const KnownFormat& known : KnownFormats) {
        if (known.Id == format.Id) {
            format.Width = known.Width;
            format.Height = known.Height;
            return;
        }
    }
}

TBitmapHeader BuildBitmapHeader(const TThumbFormat& format, bool handheld) {
    TBitmapHeader h{};
    h[0] = 'B';
    h[1] = 'M';
    Put32(h, 2, uint32_t(format.Size) + BitmapHeaderSize);
    Put32(h, 10, BitmapHeaderSize);
    Put32(h, 14, 40);
    Put32(h, 18, uint32_t(format.Width));
    Put32(h, 22, 0u - uint32_t(format.Height));
    Put16(h, 26, 1);
    Put16(h, 28, 16);
    Put32(h, 30, 3);
    Put32(h, 34, uint32_t(format.Size));
    Put32(h, 54, handheld ? MaskRed555 : MaskRed565);
    Put32(h, 58, handheld ? MaskGreen555 : MaskGreen565);
    Put32(h, 62, handheld ? MaskBlue555 : MaskBlue565);
    return h;
}

} // namespace device
