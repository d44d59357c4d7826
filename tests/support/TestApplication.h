#pragma once
// The application object of a Qt test program: offscreen unless told otherwise, the program's
// resources registered (they live in a static library), closing the last window ends nothing
// (tests open and close windows without an event loop of their own), and no modal dialog waits
// for an answer for ever.
#include <QDialog>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

#include "app/QuorvantisApplication.h"
#include "support/BoundedWait.h"

// A modal dialog or box that nothing answers within the wait bound (the test's answer never came,
// or the code opened one the test did not expect) fails the test, naming it, and is closed, so
// that the exec() that shows it returns.
class ModalGuard : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget->isWindow() && widget->isModal()) Watch(widget);
        }
        return false;
    }

private:
    void Watch(QWidget* widget)
    {
        // A dialog shown again is watched from its new showing on.
        const qulonglong showing = ++m_showings;
        widget->setProperty(kShowing, showing);
        QTimer::singleShot(kWaitBound, widget, [widget, showing] {
            if (!widget->isVisible() || widget->property(kShowing).toULongLong() != showing) return;
            ADD_FAILURE() << "waited " << BoundText(kWaitBound) << " for an answer to the modal "
                          << widget->metaObject()->className() << " \"" << widget->objectName().toStdString()
                          << "\" (\"" << widget->windowTitle().toStdString() << "\"); closed it";
            if (auto* dialog = qobject_cast<QDialog*>(widget))
                dialog->reject();
            else
                widget->close();
        });
    }

    static constexpr char kShowing[] = "modalGuardShowing";
    qulonglong m_showings = 0;
};

inline std::unique_ptr<QuorvantisApplication> MakeTestApplication(int& argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    auto app = std::make_unique<QuorvantisApplication>(argc, argv);
    Q_INIT_RESOURCE(resources);
    app->setQuitOnLastWindowClosed(false);
    app->installEventFilter(new ModalGuard(app.get()));
    return app;
}
