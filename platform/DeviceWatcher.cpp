#include "platform/DeviceWatcher.h"

#include <libudev.h>

#include <cstring>

DeviceWatcher::DeviceWatcher()
{
    m_udev = udev_new();
    if (!m_udev) return;
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (m_monitor && udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "hidraw", nullptr) >= 0 &&
        udev_monitor_enable_receiving(m_monitor) >= 0)
        return;
    if (m_monitor) udev_monitor_unref(m_monitor);
    m_monitor = nullptr;
}

DeviceWatcher::~DeviceWatcher()
{
    if (m_monitor) udev_monitor_unref(m_monitor);
    if (m_udev) udev_unref(m_udev);
}

int DeviceWatcher::Fd() const { return m_monitor ? udev_monitor_get_fd(m_monitor) : -1; }

bool DeviceWatcher::ActionFromText(const char* action, DeviceEvent::Action& result)
{
    if (!action) return false;
    if (std::strcmp(action, "add") == 0) {
        result = DeviceEvent::Action::Arrival;
        return true;
    }
    if (std::strcmp(action, "remove") == 0) {
        result = DeviceEvent::Action::Removal;
        return true;
    }
    return false;
}

bool DeviceWatcher::ReadEvent(DeviceEvent& event)
{
    if (!m_monitor) return false;
    // The monitor's socket is non-blocking: this returns nullptr once nothing is pending.
    while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
        DeviceEvent::Action action;
        const char* node = udev_device_get_devnode(device);
        const bool relevant = ActionFromText(udev_device_get_action(device), action) && node;
        if (relevant) {
            event.action = action;
            event.devicePath = node;
        }
        udev_device_unref(device);
        if (relevant) return true;
    }
    return false;
}
