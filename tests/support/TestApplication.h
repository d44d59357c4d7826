#pragma once
// The application object of a Qt test program: offscreen unless told otherwise, the program's
// resources registered (they live in a static library), and closing the last window ends nothing
// (tests open and close windows without an event loop of their own).
#include <memory>

#include "app/QuorvantisApplication.h"

inline std::unique_ptr<QuorvantisApplication> MakeTestApplication(int& argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    auto app = std::make_unique<QuorvantisApplication>(argc, argv);
    Q_INIT_RESOURCE(resources);
    app->setQuitOnLastWindowClosed(false);
    return app;
}
