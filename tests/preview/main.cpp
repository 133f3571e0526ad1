// The player's tests play into a fakesink that keeps real time, in a temporary folder of this
// process's own, so that test processes running side by side never share "~vrqplay/".
#include <QCoreApplication>
#include <QTemporaryDir>
#include <gst/gst.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir temp;
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    qputenv("MARROWGATE_AUDIO_SINK", "fakesink sync=true");
    QCoreApplication app(argc, argv);
    gst_init(nullptr, nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
