// Runner of the UI tests: one QApplication for all of them, offscreen unless told otherwise.
#include <gtest/gtest.h>

#include "app/QuorvantisApplication.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QuorvantisApplication app(argc, argv);
    // The resources live in a static library: register them explicitly.
    Q_INIT_RESOURCE(resources);
    // Tests open and close windows without an event loop of their own; closing the last one must
    // not end anything.
    app.setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
