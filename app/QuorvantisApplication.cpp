#include "app/QuorvantisApplication.h"

#include <clocale>

QuorvantisApplication::QuorvantisApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    std::setlocale(LC_NUMERIC, "C");
}
