#include "winsvc/modCloseBtn.h"
#include "winsvc/window_menu_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

namespace winsvc {
namespace {

using Call = WindowMenuModel::Call;

constexpr uint32_t kMfsDefault = 0x1000;

std::optional<MenuItem> itemWithId(const std::vector<MenuItem> &menu, uint32_t id)
{
    for (const MenuItem &item : menu)
        if (!item.separator && item.id == id)
            return item;
    return std::nullopt;
}

std::vector<uint32_t> ids(const std::vector<MenuItem> &menu)
{
    std::vector<uint32_t> out;
    for (const MenuItem &item : menu)
        out.push_back(item.id);
    return out;
}

std::string raisedDescription(WindowMenuModel &model, WindowHandle window, bool enable)
{
    try {
        EnableMaxButton(model, window, enable);
    } catch (const CloseBtnError &e) {
        EXPECT_EQ(-2147221504, e.number);
        EXPECT_EQ("modCloseBtn::EnableMaxButton", e.source);
        EXPECT_EQ(e.description, std::string(e.what()));
        return e.description;
    }
    return "<nothing raised>";
}

class EnableMaxButtonTest : public ::testing::Test {
protected:
    WindowMenuModel model;
    WindowHandle window = model.registerWindow();
};

TEST_F(EnableMaxButtonTest, DisablingGreysTheItemUnderThePrivateIdAndDropsTheStyleBit)
{
    EnableMaxButton(model, window, false);

    const auto menu = model.visibleMenu(window);
    EXPECT_FALSE(itemWithId(menu, kScMaximize).has_value());
    const auto item = itemWithId(menu, 0xFFFFFFF5u);
    ASSERT_TRUE(item.has_value());
    EXPECT_EQ(kMfsGrayed, item->state & kMfsGrayed);
    EXPECT_EQ("Ma&ximize", item->text);
    EXPECT_EQ(WindowMenuModel::kDefaultStyle & ~kWsMaximizeBox, model.style(window));
}

TEST_F(EnableMaxButtonTest, FrameIsRecalculatedWithoutMovingAndCaptionRedrawn)
{
    const WindowHandle owner = model.registerWindow();
    model.setParent(window, owner);
    model.clearCalls();

    EnableMaxButton(model, window, false);

    EXPECT_EQ(0x27, model.lastSetWindowPosFlags());
    EXPECT_EQ(kHwndNotTopmost, model.lastSetWindowPosInsertAfter());
    EXPECT_EQ(owner, model.getParent(window));
    const auto &calls = model.calls();
    EXPECT_NE(calls.end(), std::find(calls.begin(), calls.end(), Call::SendNcActivate));
}

TEST_F(EnableMaxButtonTest, EnablingRestoresIdStateAndStyleKeepingOtherStateBits)
{
    const MenuHandle menu = model.getSystemMenu(window, false);
    ASSERT_TRUE(model.setMenuItemState(menu, kScMaximize, kMfsDefault));

    EnableMaxButton(model, window, false);
    EXPECT_EQ(kMfsDefault | kMfsGrayed, itemWithId(model.visibleMenu(window), kPrivateMaximizeId)->state);

    EnableMaxButton(model, window, true);
    const auto item = itemWithId(model.visibleMenu(window), kScMaximize);
    ASSERT_TRUE(item.has_value());
    EXPECT_EQ(kMfsDefault, item->state);
    EXPECT_FALSE(itemWithId(model.visibleMenu(window), kPrivateMaximizeId).has_value());
    EXPECT_EQ(WindowMenuModel::kDefaultStyle, model.style(window));
}

TEST_F(EnableMaxButtonTest, StyleListenerSeesEachChange)
{
    std::vector<uint32_t> seen;
    model.setStyleListener(window, [&seen](uint32_t style) { seen.push_back(style); });
    EnableMaxButton(model, window, false);
    EnableMaxButton(model, window, true);
    EXPECT_EQ((std::vector<uint32_t>{WindowMenuModel::kDefaultStyle & ~kWsMaximizeBox,
                                     WindowMenuModel::kDefaultStyle}),
              seen);
}

TEST_F(EnableMaxButtonTest, ItemNotFoundUnderCurrentIdIsRaised)
{
    EXPECT_EQ("modCloseBtn::EnableMaxButton() - Menu Item Not Found", raisedDescription(model, window, true))
        << "enabling a window that was never disabled";
    EnableMaxButton(model, window, false);
    EXPECT_EQ("modCloseBtn::EnableMaxButton() - Menu Item Not Found", raisedDescription(model, window, false))
        << "disabling twice";
    // The first disable stays in force.
    EXPECT_EQ(0u, model.style(window) & kWsMaximizeBox);
}

TEST_F(EnableMaxButtonTest, InvalidHandleIsRaisedAndNothingTouched)
{
    model.clearCalls();
    EXPECT_EQ("modCloseBtn::EnableMaxButton() - Invalid Window Handle",
              raisedDescription(model, 0xDEAD, false));
    EXPECT_EQ(std::vector<Call>{Call::IsWindow}, model.calls());
}

struct FailureCase {
    const char *label;
    Call failing;
    const char *description;
    uint32_t itemIdAfter;  // which identifier the Maximize item carries afterwards
    bool greyedAfter;
    bool menuCopyAfter;
};

class EnableMaxButtonFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(EnableMaxButtonFailureTest, RaisesAndKeepsEarlierChanges)
{
    const FailureCase &c = GetParam();
    WindowMenuModel model;
    const WindowHandle window = model.registerWindow();
    model.failCall(c.failing);

    EXPECT_EQ(c.description, raisedDescription(model, window, false));
    model.failCall(c.failing, false);

    const auto menu = model.visibleMenu(window);
    const auto item = itemWithId(menu, c.itemIdAfter);
    ASSERT_TRUE(item.has_value());
    EXPECT_EQ(c.greyedAfter, (item->state & kMfsGrayed) == kMfsGrayed);
    EXPECT_EQ(c.menuCopyAfter, model.hasMenuCopy(window));
    // The style is only changed once the menu work has succeeded.
    EXPECT_EQ(WindowMenuModel::kDefaultStyle, model.style(window));
    const auto &calls = model.calls();
    EXPECT_EQ(calls.end(), std::find(calls.begin(), calls.end(), Call::SendNcActivate));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, EnableMaxButtonFailureTest,
    ::testing::Values(
        FailureCase{"IsWindow", Call::IsWindow, "modCloseBtn::EnableMaxButton() - Invalid Window Handle",
                    kScMaximize, false, false},
        FailureCase{"GetSystemMenu", Call::GetSystemMenu, "modCloseBtn::EnableMaxButton() - Menu Item Not Found",
                    kScMaximize, false, false},
        FailureCase{"GetItemState", Call::GetMenuItemState,
                    "modCloseBtn::EnableMaxButton() - Menu Item Not Found", kScMaximize, false, true},
        FailureCase{"SetItemId", Call::SetMenuItemId,
                    "modCloseBtn::EnableMaxButton() - Error encountered changing ID", kScMaximize, false, true},
        FailureCase{"SetItemState", Call::SetMenuItemState,
                    "modCloseBtn::EnableMaxButton() - Error encountered changing state", kPrivateMaximizeId,
                    false, true}),
    [](const ::testing::TestParamInfo<FailureCase> &info) { return std::string(info.param.label); });

class FormDisableMoveTest : public ::testing::Test {
protected:
    WindowMenuModel model;
    WindowHandle window = model.registerWindow();
};

TEST_F(FormDisableMoveTest, RemovesMoveOnlyAndRestoreBringsStandardMenuBack)
{
    EXPECT_TRUE(FormDisableMove(model, window, false));
    auto expected = ids(WindowMenuModel::standardMenu());
    expected.erase(std::find(expected.begin(), expected.end(), kScMove));
    EXPECT_EQ(expected, ids(model.visibleMenu(window)));

    EXPECT_TRUE(FormDisableMove(model, window, true));
    EXPECT_FALSE(model.hasMenuCopy(window));
    EXPECT_EQ(ids(WindowMenuModel::standardMenu()), ids(model.visibleMenu(window)));
}

TEST_F(FormDisableMoveTest, RestoreUndoesMaximizeItemButNotTheStyle)
{
    EnableMaxButton(model, window, false);
    FormDisableMove(model, window, false);
    EXPECT_TRUE(FormDisableMove(model, window, true));

    const auto item = itemWithId(model.visibleMenu(window), kScMaximize);
    ASSERT_TRUE(item.has_value());
    EXPECT_EQ(0u, item->state & kMfsGrayed);
    EXPECT_EQ(0u, model.style(window) & kWsMaximizeBox);
}

TEST_F(FormDisableMoveTest, RestoreOnUnchangedWindowIsHarmless)
{
    EXPECT_TRUE(FormDisableMove(model, window, true));
    EXPECT_EQ(ids(WindowMenuModel::standardMenu()), ids(model.visibleMenu(window)));
}

TEST_F(FormDisableMoveTest, RemovingTwiceStillReportsDone)
{
    EXPECT_TRUE(FormDisableMove(model, window, false));
    EXPECT_TRUE(FormDisableMove(model, window, false));
    EXPECT_FALSE(itemWithId(model.visibleMenu(window), kScMove).has_value());
}

struct MoveFailureCase {
    const char *label;
    Call failing;
};

class FormDisableMoveFailureTest : public ::testing::TestWithParam<MoveFailureCase> {};

TEST_P(FormDisableMoveFailureTest, ReportsFalseWhenMoveStaysAvailable)
{
    WindowMenuModel model;
    const WindowHandle window = model.registerWindow();
    model.failCall(GetParam().failing);
    EXPECT_FALSE(FormDisableMove(model, window, false));
    EXPECT_TRUE(itemWithId(model.visibleMenu(window), kScMove).has_value());
}

INSTANTIATE_TEST_SUITE_P(Steps, FormDisableMoveFailureTest,
                         ::testing::Values(MoveFailureCase{"GetSystemMenu", Call::GetSystemMenu},
                                           MoveFailureCase{"DeleteMenu", Call::DeleteMenuItem}),
                         [](const ::testing::TestParamInfo<MoveFailureCase> &info) {
                             return std::string(info.param.label);
                         });

TEST(FormDisableMoveInvalid, UnknownWindowReportsFalseForRemovalTrueForRestore)
{
    WindowMenuModel model;
    EXPECT_FALSE(FormDisableMove(model, 0xBAD, false));
    EXPECT_TRUE(FormDisableMove(model, 0xBAD, true));
}

class ThrowingPlatform : public WindowMenuPlatform {
public:
    MOCK_METHOD(bool, isWindow, (WindowHandle), (override));
    MOCK_METHOD(MenuHandle, getSystemMenu, (WindowHandle, bool), (override));
    MOCK_METHOD(bool, getMenuItemState, (MenuHandle, uint32_t, uint32_t &), (override));
    MOCK_METHOD(bool, setMenuItemId, (MenuHandle, uint32_t, uint32_t), (override));
    MOCK_METHOD(bool, setMenuItemState, (MenuHandle, uint32_t, uint32_t), (override));
    MOCK_METHOD(bool, deleteMenuItem, (MenuHandle, uint32_t), (override));
    MOCK_METHOD(intptr_t, sendNcActivate, (WindowHandle, bool), (override));
    MOCK_METHOD(uint32_t, getWindowStyle, (WindowHandle), (override));
    MOCK_METHOD(uint32_t, setWindowStyle, (WindowHandle, uint32_t), (override));
    MOCK_METHOD(WindowHandle, getParent, (WindowHandle), (override));
    MOCK_METHOD(WindowHandle, setParent, (WindowHandle, WindowHandle), (override));
    MOCK_METHOD(bool, setWindowPos, (WindowHandle, WindowHandle, int, int, int, int, uint32_t), (override));
};

TEST(FormDisableMoveInvalid, NeverLetsAnExceptionOut)
{
    ::testing::NiceMock<ThrowingPlatform> platform;
    ON_CALL(platform, getSystemMenu).WillByDefault(::testing::Throw(std::runtime_error("boom")));
    EXPECT_FALSE(FormDisableMove(platform, 1, false));
    EXPECT_FALSE(FormDisableMove(platform, 1, true));
}

} // namespace
} // namespace winsvc
