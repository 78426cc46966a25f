#include "ui/screens/new_version_screen.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_screen.h"
#include "ui/ui_messages.h"
#include "ui_driver.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

class RecordingOpener : public UrlOpener {
public:
    bool open(const std::string& url) override
    {
        opened.push_back(url);
        return true;
    }
    std::vector<std::string> opened;
};

class NewVersionTest : public ::testing::Test {
protected:
    UiDriver ui;
    RecordingOpener opener;
    TestScreen& main = ui.root().add_screen<TestScreen>(L"Vokar", 102);
    NewVersionScreen& screen = ui.root().add_screen<NewVersionScreen>(opener);

    void SetUp() override
    {
        ui.root().show_screen(main);
        ui.settle();
    }

    std::wstring text()
    {
        const UiView v = ui.view();
        return v.control(NewVersionScreen::kText)->text;
    }
};

TEST_F(NewVersionTest, YesOpensAWebAddressAndEndsAfterASecond)
{
    screen.show(false, L"Faster calls", "https://www.vokar.test/get");
    ui.settle();
    EXPECT_EQ(ui.view().title, L"New version detected");
    EXPECT_EQ(ui.view().menu_id, 141);
    EXPECT_EQ(text(), L"A new version of Vokar is available, do you wish to upgrade now?");
    ui.press(Key::SoftLeft); // Yes
    EXPECT_EQ(opener.opened, std::vector<std::string>{"https://www.vokar.test/get"});
    EXPECT_EQ(ui.view().left.command, 10081); // menu 131
    EXPECT_EQ(text(), L"A browser window will now open, please download the file and install it. "
                      L"Vokar will now exit.");
    ui.screenshot("new_version_yes");
    ui.advance(NewVersionScreen::kExitAfterYesMs - 1);
    EXPECT_FALSE(ui.view().ended);
    ui.advance(1);
    EXPECT_TRUE(ui.view().ended);
    EXPECT_EQ(ui.view().end_result, kEndApplication);
}

TEST_F(NewVersionTest, AnAddressThatIsNoWebAddressIsShownNotOpened)
{
    for (const char* url : {"file:///bin/sh", "/usr/bin/xterm", "-e sh", "httpx://a", ""}) {
        EXPECT_FALSE(NewVersionScreen::is_web_address(url)) << url;
    }
    EXPECT_TRUE(NewVersionScreen::is_web_address("http://a.test/"));
    screen.show(true, L"", "file:///usr/bin/xterm");
    ui.settle();
    ui.press(Key::SoftLeft);
    EXPECT_TRUE(opener.opened.empty());
    const UiView v = ui.view();
    EXPECT_EQ(v.control(NewVersionScreen::kDetails)->text, L"file:///usr/bin/xterm");
    ui.screenshot("new_version_unsafe_address");
    ui.advance(NewVersionScreen::kExitAfterYesMs);
    EXPECT_TRUE(ui.view().ended); // the exit flow stays
}

TEST_F(NewVersionTest, NoEndsACompulsoryUpgradeAndLeavesAnOptionalOne)
{
    screen.show(true, L"", "https://www.vokar.test/get");
    ui.settle();
    EXPECT_EQ(text(), L"A new version of Vokar is available. You must upgrade now to continue "
                      L"using Vokar, do you wish to upgrade now?");
    ui.press(Key::SoftRight); // No
    EXPECT_EQ(text(), L"You must install the new version before you can continue using Vokar");
    ui.advance(NewVersionScreen::kExitAfterNoMs - 1);
    EXPECT_FALSE(ui.view().ended);
    ui.advance(1);
    EXPECT_TRUE(ui.view().ended);
    EXPECT_TRUE(opener.opened.empty());
}

TEST_F(NewVersionTest, NoOnAnOptionalUpgradeGoesBack)
{
    screen.show(false, L"", "https://www.vokar.test/get");
    ui.settle();
    ui.press(Key::SoftRight);
    EXPECT_EQ(ui.view().title, L"Vokar");
    ui.advance(NewVersionScreen::kExitAfterNoMs);
    EXPECT_FALSE(ui.view().ended);
}

} // namespace
} // namespace vokar::ui::testing
