// The toolkit on Qt: what the window relies on beyond its own tests, and the layout table that
// both toolkits build from.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "app/MainFormLayout.h"
#include "toolkit/qt/QtToolkit.h"

namespace {

// A fault here shows on one toolkit only (Win32 places children by their parents' offsets,
// orders the tab chain by these numbers), so the table itself is checked.
TEST(Layout, ParentsComeFirstControlsFitTheirParentsTabOrderIsOneChain) {
    struct Box {
        int Width, Height;
    };
    std::map<std::string, Box> boxes{
        {MainFormLayout.Name, {MainFormLayout.ClientWidth, MainFormLayout.ClientHeight}}};
    std::set<int> tabs;
    for (int i = 0; i < MainFormLayout.ControlCount; ++i) {
        const tk::ControlLayout& c = MainFormLayout.Controls[i];
        ASSERT_TRUE(boxes.count(c.Parent)) << c.Name << " comes before its parent " << c.Parent;
        const Box parent = boxes[c.Parent];
        EXPECT_TRUE(c.Left >= 0 && c.Top >= 0 && c.Left + c.Width <= parent.Width &&
                    c.Top + c.Height <= parent.Height)
            << c.Name << " does not fit " << c.Parent;
        EXPECT_TRUE(boxes.emplace(c.Name, Box{c.Width, c.Height}).second) << c.Name << " twice";
        if (c.TabOrder > 0) {
            EXPECT_TRUE(tabs.insert(c.TabOrder).second) << c.Name;
        }
    }
    ASSERT_FALSE(tabs.empty());
    EXPECT_EQ(*tabs.begin(), 1);
    EXPECT_EQ(*tabs.rbegin(), int(tabs.size()));
}

TEST(ComboBox, ItemsRoundTripAsCrLfTextAndReplaceTheEditText) {
    tk::qt::QtComboBox box;
    box.SetEditable(true);
    box.setEditText("typed");
    for (const char* lines : {"", "one", "COM1\r\nCOM3\r\nCOM10", "a\r\n\r\nb"}) {
        box.SetItems(lines);
        EXPECT_EQ(box.Items(), lines);
        EXPECT_EQ(box.ItemIndex(), -1) << lines;
        EXPECT_TRUE(box.currentText().isEmpty()) << lines;
    }
    EXPECT_EQ(box.ItemCount(), 3);
    EXPECT_EQ(box.ItemText(1), "");
    EXPECT_EQ(box.ItemText(7), "");
}

TEST(NotifyWindow, SendsRunOnTheUserInterfaceThreadUntilReleased) {
    std::thread::id ranOn;
    int calls = 0;
    auto window = tk::MakeNotifyWindow([&](int message) {
        ranOn = std::this_thread::get_id();
        calls += message;
    });
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->Send(1)); // on this thread: at once
    EXPECT_EQ(calls, 1);

    std::atomic<bool> sent{false};
    std::thread sender([&] { sent = window->Send(10); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return sent.load(); }, 5000));
    sender.join();
    EXPECT_EQ(calls, 11);
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    // A sender waiting when the window is released is let go without its call.
    std::atomic<bool> done{false};
    std::thread waiting([&] {
        window->Send(100);
        done = true;
    });
    window->Release();
    waiting.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(calls, 11);
    EXPECT_FALSE(window->Send(1000));
    EXPECT_TRUE(window->Released());
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
