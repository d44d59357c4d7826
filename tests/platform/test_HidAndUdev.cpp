#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>

#include <cctype>
#include <filesystem>
#include <string>

#include "device/DeviceProtocol.h"
#include "platform/DeviceWatcher.h"
#include "platform/HidTransport.h"
#include "support/BoundedWait.h"

namespace {

// A recorder plugged into this machine, as the kernel lists its HID devices ("0003:10C4:8468.0001").
bool RecorderPluggedIn()
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/bus/hid/devices", ec)) {
        std::string name = entry.path().filename().string();
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (name.find(":10C4:8468.") != std::string::npos) return true;
    }
    return false;
}

}  // namespace

TEST(HidApiTransport, NoRecorderAttachedMeansNoInterfaces)
{
    if (RecorderPluggedIn()) GTEST_SKIP() << "a recorder is plugged into this machine";
    HidApiTransport transport;
    EXPECT_TRUE(transport.Enumerate(HID_VENDOR_ID, HID_PRODUCT_ID).empty());
    EXPECT_EQ(transport.Open("/dev/quorvantis-no-such-device"), nullptr);
    HidApiTransport second;  // a second transport shares the one hidapi initialisation
    EXPECT_TRUE(second.Enumerate(HID_VENDOR_ID, HID_PRODUCT_ID).empty());
}

TEST(DeviceWatcher, NeverBlocksAndMapsActions)
{
    // The UI reads events while the descriptor is readable, until none is left: a read must
    // return at once, also with nothing pending (nothing is plugged in during the test).
    DeviceWatcher watcher;
    if (watcher.IsActive()) {
        const int flags = fcntl(watcher.Fd(), F_GETFL);
        ASSERT_NE(flags, -1);
        EXPECT_NE(flags & O_NONBLOCK, 0);
        pollfd pending{watcher.Fd(), POLLIN, 0};
        EXPECT_EQ(poll(&pending, 1, 0), 0);
    }
    DeviceEvent event;
    {
        HangGuard guard("a read of the device watcher with nothing pending to return");
        EXPECT_FALSE(watcher.ReadEvent(event));
    }

    DeviceEvent::Action action;
    ASSERT_TRUE(DeviceWatcher::ActionFromText("add", action));
    EXPECT_EQ(action, DeviceEvent::Action::Arrival);
    ASSERT_TRUE(DeviceWatcher::ActionFromText("remove", action));
    EXPECT_EQ(action, DeviceEvent::Action::Removal);
    EXPECT_FALSE(DeviceWatcher::ActionFromText("change", action));
    EXPECT_FALSE(DeviceWatcher::ActionFromText("bind", action));
    EXPECT_FALSE(DeviceWatcher::ActionFromText(nullptr, action));
}
