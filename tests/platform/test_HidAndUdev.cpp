#include <gtest/gtest.h>

#include "platform/DeviceWatcher.h"
#include "platform/HidTransport.h"

TEST(HidApiTransport, NoRecorderAttachedMeansNoInterfaces)
{
    HidApiTransport transport;
    EXPECT_TRUE(transport.Enumerate(0x10C4, 0x8468).empty());
    EXPECT_EQ(transport.Open("/dev/quorvantis-no-such-device"), nullptr);
    HidApiTransport second;  // a second transport shares the one hidapi initialisation
    EXPECT_TRUE(second.Enumerate(0x10C4, 0x8468).empty());
}

TEST(DeviceWatcher, NeverBlocksAndMapsActions)
{
    DeviceWatcher watcher;
    EXPECT_EQ(watcher.IsActive(), watcher.Fd() >= 0);
    DeviceEvent event;
    // Nothing is plugged in during the test: no event, and the call returns at once.
    EXPECT_FALSE(watcher.ReadEvent(event));

    DeviceEvent::Action action;
    ASSERT_TRUE(DeviceWatcher::ActionFromText("add", action));
    EXPECT_EQ(action, DeviceEvent::Action::Arrival);
    ASSERT_TRUE(DeviceWatcher::ActionFromText("remove", action));
    EXPECT_EQ(action, DeviceEvent::Action::Removal);
    EXPECT_FALSE(DeviceWatcher::ActionFromText("change", action));
    EXPECT_FALSE(DeviceWatcher::ActionFromText("bind", action));
    EXPECT_FALSE(DeviceWatcher::ActionFromText(nullptr, action));
}
