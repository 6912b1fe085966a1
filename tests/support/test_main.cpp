// Test entry: a QApplication exists for every test executable so that widgets, timers and queued
// hand-offs work; the platform is offscreen unless the caller chose one. Its screen is a desktop's
// (1920 x 1080) unless the caller names another configuration (tests/support/screens).
#include <QApplication>
#include <QLocale>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen")
        qputenv("QT_QPA_PLATFORM",
                "offscreen:configfile=" KX_SOURCE_DIR "/tests/support/screens/1920x1080.json");
    QApplication app(argc, argv);
    // Pin the locale: the decimal separator and the short date format follow it.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
