#pragma once
// Short test tracks, encoded on the spot by GStreamer's own encoders: a sine tone as MP3, as
// AAC in MP4 and as Apple Lossless in MP4.
#include <QString>
#include <gst/gst.h>

#include <utility>
#include <vector>

enum class TestFormat { Mp3, Aac, Alac };

// false when an encoder is missing or the file cannot be written. Needs gst_init.
bool WriteTestTrack(const QString& path, TestFormat format, double seconds, int mp3Kbps = 128);

// While it lives, no decoder of `caps` (a GStreamer caps text) is ranked: a machine without one.
class DecodersHidden {
public:
    explicit DecodersHidden(const char* caps);
    ~DecodersHidden();
    bool Any() const { return !Ranks.empty(); }

private:
    std::vector<std::pair<GstPluginFeature*, unsigned>> Ranks;
};
