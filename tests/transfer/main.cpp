// The transfer runs without widgets; a core application gives it its event loop.
#include <QCoreApplication>
#include <cstring>
#include <gtest/gtest.h>

int PlantDisplayRace();

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--plant-display-race") == 0)
        return PlantDisplayRace();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
