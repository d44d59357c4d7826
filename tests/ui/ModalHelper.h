#pragma once
// Answers modal dialogs from inside a test: the callback runs once the named dialog is the active
// modal widget (polled from the dialog's own event loop).
#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <functional>

// Parent of helper objects that must not outlive the test that made them; the runner deletes it
// after each test.
inline QPointer<QObject>& TestScopeSlot()
{
    static QPointer<QObject> scope;
    return scope;
}
inline QObject* TestScope()
{
    if (!TestScopeSlot()) TestScopeSlot() = new QObject;
    return TestScopeSlot();
}

// Runs act on the next modal widget whose object name is name (any modal widget when name is
// empty). The watcher stops after it has acted once.
inline void WhenModal(const QString& name, std::function<void(QWidget*)> act)
{
    auto* timer = new QTimer(TestScope());
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, name, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || (!name.isEmpty() && modal->objectName() != name)) return;
        timer->stop();
        timer->deleteLater();
        act(modal);
    });
    timer->start();
}
