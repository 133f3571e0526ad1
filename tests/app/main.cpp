// The window tests need a QApplication; they run on the offscreen platform unless the
// environment names another (CI runs them once more on a real X server).
#include "app/ZozoDodiMain.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Whatever the machine has, the window sees an audio output that never opens, unless a
    // test gives it one; the player's files stay in a folder of this process's own.
    QTemporaryDir temp;
    for (const char* name : {"TMPDIR", "XDG_RUNTIME_DIR"})
        qputenv(name, QFile::encodeName(temp.path()));
    qputenv("MARROWGATE_AUDIO_SINK", "fakesink state-error=null-to-ready");
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(marrowgate);
    SetUpApplication(); // as the program does: its captions are seen as the user sees them
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
