#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/MessageBox.h"
#include "platform/Paths.h"

TEST(MessageBox, RecorderLogsBoxesAndScriptsAnswers)
{
    EXPECT_EQ(AppDisplayName(), "core_tests");
    ScopedMessageBoxRecorder boxes;
    boxes->PushAnswer(MsgAnswer::Yes);
    EXPECT_EQ(AfxMessageBox("Sure?", MsgButtons::YesNo, MsgIcon::Question), MsgAnswer::Yes);
    // Unscripted: the answer that changes nothing.
    EXPECT_EQ(AfxMessageBox("Again?", MsgButtons::YesNo), MsgAnswer::No);
    EXPECT_EQ(AfxMessageBox("Delete?", MsgButtons::OkCancel), MsgAnswer::Cancel);
    EXPECT_EQ(AfxMessageBox("Failed", MsgButtons::Ok, MsgIcon::Stop), MsgAnswer::Ok);
    const auto entries = boxes->Entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].text, "Sure?");
    EXPECT_EQ(entries[0].caption, "core_tests");
    EXPECT_EQ(entries[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(entries[0].icon, MsgIcon::Question);
    EXPECT_EQ(entries[3].icon, MsgIcon::Stop);
    boxes->Clear();
    EXPECT_EQ(boxes->Count(), 0u);
}

TEST(MessageBox, ScopesNestAndThreadsShareTheService)
{
    ScopedMessageBoxRecorder outer;
    {
        ScopedMessageBoxRecorder inner;
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([] {
                for (int j = 0; j < 50; ++j) AfxMessageBox("from a worker");
            });
        for (auto& t : threads) t.join();
        EXPECT_EQ(inner->Count(), 200u);
    }
    AfxMessageBox("after");
    EXPECT_EQ(outer->Count(), 1u);
}
