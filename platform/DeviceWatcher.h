#pragma once
// Arrival and removal of HID devices, from a libudev monitor of the hidraw subsystem. The monitor
// reports a device after udev's rules have run, so its permissions are in place when it is opened.
// The UI watches Fd() (a socket notifier) and calls ReadEvent when it becomes readable.
#include <string>

struct udev;
struct udev_monitor;

struct DeviceEvent {
    enum class Action { Arrival, Removal };
    Action action = Action::Arrival;
    std::string devicePath;  // the device node, e.g. /dev/hidraw3, as hidapi lists it
};

class DeviceWatcher {
public:
    // Never fails hard: without udev the watcher is inactive (Fd() = -1) and reports nothing.
    DeviceWatcher();
    ~DeviceWatcher();
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;

    bool IsActive() const { return m_monitor != nullptr; }
    // The monitor's non-blocking descriptor; -1 when inactive.
    int Fd() const;
    // The next pending arrival or removal; false when none is pending. Never blocks. Other kinds
    // of event (change, bind) are skipped.
    bool ReadEvent(DeviceEvent& event);

    // Maps a udev action text ("add", "remove") to an event action; false for any other.
    static bool ActionFromText(const char* action, DeviceEvent::Action& result);

private:
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
};
