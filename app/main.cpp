#include "app/CQuorvantisApp.h"
#include "app/QuorvantisApplication.h"

int main(int argc, char** argv)
{
    QuorvantisApplication app(argc, argv);
    // The resources live in a static library: register them explicitly.
    Q_INIT_RESOURCE(resources);
    return theApp.Run(app);
}
