#include "app/CQuorvantisApp.h"
#include "app/QuorvantisApplication.h"

int main(int argc, char** argv)
{
    QuorvantisApplication app(argc, argv);
    // The resources live in a static library: register them explicitly.
    Q_INIT_RESOURCE(resources);
    if (!theApp.InitInstance(app)) return 0;
    const int result = app.exec();
    theApp.ExitInstance();
    return result;
}
