#include "TestAudio.h"

#include <QFile>

bool WriteTestTrack(const QString& path, TestFormat format, double seconds, int mp3Kbps) {
    const QByteArray encode = format == TestFormat::Mp3
                                  ? "lamemp3enc target=bitrate cbr=true bitrate=" + QByteArray::number(mp3Kbps)
                                  : QByteArray(format == TestFormat::Aac ? "avenc_aac" : "avenc_alac") + " ! mp4mux";
    const QByteArray launch = "audiotestsrc wave=sine samplesperbuffer=1024 num-buffers=" +
                              QByteArray::number(int(seconds * 44100 / 1024 + 0.5)) +
                              " ! audio/x-raw,rate=44100,channels=2 ! audioconvert ! " + encode +
                              " ! filesink location=\"" + QFile::encodeName(path) + "\"";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(launch.constData(), &error);
    if (error || !pipeline)
        return false; // an encoder is missing: the caller's test fails, leaks do not matter
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* done =
        gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = done && GST_MESSAGE_TYPE(done) == GST_MESSAGE_EOS;
    if (done)
        gst_message_unref(done);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}

DecodersHidden::DecodersHidden(const char* caps) {
    GstCaps* wanted = gst_caps_from_string(caps);
    GList* all = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_MARGINAL);
    GList* decoders = gst_element_factory_list_filter(all, wanted, GST_PAD_SINK, FALSE);
    for (GList* d = decoders; d; d = d->next) {
        // The registry keeps its own reference: the feature outlives the lists.
        Ranks.emplace_back(GST_PLUGIN_FEATURE(d->data), gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(d->data)));
        gst_plugin_feature_set_rank(Ranks.back().first, GST_RANK_NONE);
    }
    gst_plugin_feature_list_free(decoders);
    gst_plugin_feature_list_free(all);
    gst_caps_unref(wanted);
}

DecodersHidden::~DecodersHidden() {
    for (auto [feature, rank] : Ranks)
        gst_plugin_feature_set_rank(feature, rank);
}
