// The desktop and the volume watch need an application: a QGuiApplication on the offscreen
// platform. A drive table a test sets for itself is dropped when the test ends.
#include <QGuiApplication>
#include <gtest/gtest.h>

#include "platform/Drives.h"

struct DropDriveTable : ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override { platform::SetDriveTableForTesting(std::nullopt); }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new DropDriveTable);
    return RUN_ALL_TESTS();
}
