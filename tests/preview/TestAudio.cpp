#include "TestAudio.h"

#include <QFile>
#include <gst/gst.h>

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
