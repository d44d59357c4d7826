#pragma once
// The Qt application object of the program, its tests and its benchmarks.
#include <QApplication>

// QApplication hands the user's locale to the C library (setlocale(LC_ALL, "")); the numeric
// category goes back to "C" at once, so that no number the program writes or reads follows the
// decimal comma of a German, French or Portuguese locale. Dates and texts keep the user's locale.
class QuorvantisApplication : public QApplication {
public:
    QuorvantisApplication(int& argc, char** argv);
};
