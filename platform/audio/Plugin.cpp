// A format plug-in of "bass.dll" ("aac.dll", "alac.dll"): it stands for a GStreamer decoder and
// is only of use where one is installed. MG_PLUGIN_FORMATS names the formats as GStreamer caps.
#include "platform/audio/BassApi.h"

#include <gst/gst.h>

extern "C" __attribute__((visibility("default"))) const char* MgAudioPluginFormats() {
    if (!gst_init_check(nullptr, nullptr, nullptr))
        return nullptr;
    GstCaps* caps = gst_caps_from_string(MG_PLUGIN_FORMATS);
    if (!caps)
        return nullptr;
    // Decoders below marginal rank are never picked by decodebin, so they do not count.
    GList* decoders = gst_element_factory_list_get_elements(
        GST_ELEMENT_FACTORY_TYPE_DECODER | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO, GST_RANK_MARGINAL);
    GList* fitting = gst_element_factory_list_filter(decoders, caps, GST_PAD_SINK, FALSE);
    const bool installed = fitting != nullptr;
    gst_plugin_feature_list_free(fitting);
    gst_plugin_feature_list_free(decoders);
    gst_caps_unref(caps);
    return installed ? MG_PLUGIN_FORMATS : nullptr;
}
