#include "app/QDeviceWatcher.h"

#include <QSocketNotifier>

#include "app/CQuorvantisView.h"
#include "platform/DeviceWatcher.h"

QDeviceWatcher::QDeviceWatcher(Handler handler, QObject* parent)
    : QObject(parent), m_watcher(std::make_unique<DeviceWatcher>()), m_handler(std::move(handler))
{
    if (!m_watcher->IsActive()) return;  // without udev the program still works, it only misses hot-plugging
    m_notifier = new QSocketNotifier(m_watcher->Fd(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QDeviceWatcher::OnReadable);
}

QDeviceWatcher::~QDeviceWatcher()
{
    delete m_notifier;  // before the descriptor it watches goes away
    m_notifier = nullptr;
}

bool QDeviceWatcher::IsActive() const { return m_notifier != nullptr; }

void QDeviceWatcher::OnReadable()
{
    DeviceEvent event;
    while (m_watcher->ReadEvent(event)) {
        const int type = event.action == DeviceEvent::Action::Arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
        if (m_handler) m_handler(type, event.devicePath);
    }
}
