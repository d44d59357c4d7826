#pragma once
// The udev device watcher on the UI thread's event loop: a socket notifier on its descriptor hands
// every arrival and removal of a hidraw device to a callback (the view's OnDeviceChange).
#include <QObject>

#include <functional>
#include <memory>
#include <string>

class DeviceWatcher;
class QSocketNotifier;

class QDeviceWatcher : public QObject {
    Q_OBJECT
public:
    // event is DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE; path the device node.
    using Handler = std::function<void(int event, const std::string& path)>;

    explicit QDeviceWatcher(Handler handler, QObject* parent = nullptr);
    ~QDeviceWatcher() override;

    bool IsActive() const;

private:
    void OnReadable();

    std::unique_ptr<DeviceWatcher> m_watcher;
    QSocketNotifier* m_notifier = nullptr;
    Handler m_handler;
};
