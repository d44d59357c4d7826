#include "support/DeviceRig.h"

#include <gtest/gtest.h>

#include "device/CDeviceState.h"
#include "support/TempDir.h"

void PrepareDeviceState(CDeviceState& st, const TempDir& dir, HidTransport& transport)
{
    EXPECT_TRUE(CopyShippedDatabase(dir.File("Quorvantis.db")));
    st.m_strDbPath = dir.File("Quorvantis.db");
    st.m_pQueueHead = AllocRecordNode();
    st.m_nNewDeviceWaitMs = 0;
    st.m_Link.SetTransport(&transport);
    st.m_Link.Open();
    EXPECT_TRUE(st.m_Link.IsDeviceOpen());
}
