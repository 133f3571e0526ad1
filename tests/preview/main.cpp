// The player's tests play into a fakesink that keeps real time. Each test gets temporary and
// runtime folders of its own, removed when it ends, so that nothing a test leaves (a pipe, the
// player's library folder) meets the next test, a second round or a process running alongside.
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gst/gst.h>
#include <gtest/gtest.h>

struct OwnFolders : ::testing::EmptyTestEventListener {
    const QString Base = QDir::tempPath();
    std::unique_ptr<QTemporaryDir> Dir;
    void OnTestStart(const ::testing::TestInfo&) override {
        Dir = std::make_unique<QTemporaryDir>(Base + "/mg-test-XXXXXX");
        for (const char* name : {"TMPDIR", "XDG_RUNTIME_DIR"})
            qputenv(name, QFile::encodeName(Dir->path()));
    }
    void OnTestEnd(const ::testing::TestInfo&) override { Dir.reset(); }
};

int main(int argc, char** argv) {
    qputenv("MARROWGATE_AUDIO_SINK", "fakesink sync=true");
    QCoreApplication app(argc, argv);
    gst_init(nullptr, nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // the child starts afresh, without our threads
    ::testing::UnitTest::GetInstance()->listeners().Append(new OwnFolders);
    return RUN_ALL_TESTS();
}
