// The multimedia timer, the version query and the system-menu service on
// the real winmm, kernel32 and user32 calls, run under Wine.

#include "engine/stopwatch.h"
#include "winsvc/modCloseBtn.h"
#include "winsvc/module1.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <thread>

namespace {

TEST(WineStopWatch, ReportsTheTimerRangeAndMeasuresMilliseconds)
{
    echotest::CStopWatch watch;
    EXPECT_GE(watch.MinimumResolution(), 1u);
    EXPECT_GE(watch.MaximumResolution(), watch.MinimumResolution());

    watch.Reset();
    EXPECT_LE(watch.Elapsed(), 1000u); // 0 or 1 on an idle machine; not the system's uptime
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto elapsed = watch.Elapsed();
    EXPECT_GE(elapsed, 195u);
    EXPECT_LT(elapsed, 5000u);
}

TEST(WineVersion, RunningSystemIsNamedAndAccepted)
{
    const winsvc::OsVersionInfo info = winsvc::queryOsVersion();
    EXPECT_EQ(2u, info.dwPlatformId); // VER_PLATFORM_WIN32_NT
    EXPECT_GE(info.dwMajorVersion, 5u);

    winsvc::OsNotSupported = false;
    const std::string name = winsvc::GetWindowsVersionName();
    EXPECT_FALSE(winsvc::OsNotSupported) << name;
    EXPECT_NE("Failed", name);
}

// A plain top-level window with the standard caption buttons.
class WineWindowMenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA cls{};
        cls.lpfnWndProc = DefWindowProcA;
        cls.hInstance = GetModuleHandleA(nullptr);
        cls.lpszClassName = "RebounceWineTestWindow";
        RegisterClassA(&cls);
        hwnd_ = CreateWindowExA(0, cls.lpszClassName, "test", WS_OVERLAPPEDWINDOW, 10, 10, 300, 200, nullptr,
                                nullptr, cls.hInstance, nullptr);
        if (hwnd_ == nullptr)
            GTEST_SKIP() << "Wine could not create a window here (no display driver), error "
                         << GetLastError();
    }
    void TearDown() override
    {
        if (hwnd_ != nullptr)
            DestroyWindow(hwnd_);
    }
    winsvc::WindowHandle window() const { return reinterpret_cast<winsvc::WindowHandle>(hwnd_); }
    bool hasItem(UINT id) const
    {
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STATE;
        return GetMenuItemInfoA(GetSystemMenu(hwnd_, FALSE), id, FALSE, &info) != FALSE;
    }
    UINT itemState(UINT id) const
    {
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STATE;
        GetMenuItemInfoA(GetSystemMenu(hwnd_, FALSE), id, FALSE, &info);
        return info.fState;
    }
    bool hasMaximizeBox() const { return (GetWindowLongA(hwnd_, GWL_STYLE) & WS_MAXIMIZEBOX) != 0; }

    HWND hwnd_ = nullptr;
};

TEST_F(WineWindowMenuTest, DisablingMaximizeHidesTheItemAndTheButton)
{
    ASSERT_TRUE(hasItem(SC_MAXIMIZE));
    ASSERT_TRUE(hasMaximizeBox());
    winsvc::EnableMaxButton(window(), false);
    EXPECT_FALSE(hasItem(SC_MAXIMIZE));
    ASSERT_TRUE(hasItem(winsvc::kPrivateMaximizeId));
    EXPECT_EQ(static_cast<UINT>(MFS_GRAYED), itemState(winsvc::kPrivateMaximizeId) & MFS_GRAYED);
    EXPECT_FALSE(hasMaximizeBox());

    winsvc::EnableMaxButton(window(), true);
    EXPECT_TRUE(hasItem(SC_MAXIMIZE));
    EXPECT_EQ(0u, itemState(SC_MAXIMIZE) & MFS_GRAYED);
    EXPECT_TRUE(hasMaximizeBox());
}

TEST_F(WineWindowMenuTest, DisablingTwiceFailsWithMenuItemNotFound)
{
    winsvc::EnableMaxButton(window(), false);
    try {
        winsvc::EnableMaxButton(window(), false);
        FAIL() << "the second call found an item";
    } catch (const winsvc::CloseBtnError &e) {
        EXPECT_EQ(winsvc::CloseBtnError::kNumber, e.number);
        EXPECT_EQ("modCloseBtn::EnableMaxButton", e.source);
        EXPECT_EQ("modCloseBtn::EnableMaxButton() - Menu Item Not Found", e.description);
    }
}

TEST_F(WineWindowMenuTest, InvalidHandleIsReported)
{
    const HWND gone = hwnd_;
    DestroyWindow(hwnd_);
    hwnd_ = nullptr;
    try {
        winsvc::EnableMaxButton(reinterpret_cast<winsvc::WindowHandle>(gone), false);
        FAIL() << "a destroyed window was accepted";
    } catch (const winsvc::CloseBtnError &e) {
        EXPECT_EQ("modCloseBtn::EnableMaxButton() - Invalid Window Handle", e.description);
    }
}

TEST_F(WineWindowMenuTest, MoveIsRemovedAndRestoredWhileMaximizeStaysOff)
{
    winsvc::EnableMaxButton(window(), false);
    EXPECT_TRUE(winsvc::FormDisableMove(window(), false));
    EXPECT_FALSE(hasItem(SC_MOVE));
    EXPECT_TRUE(winsvc::FormDisableMove(window(), true));
    EXPECT_TRUE(hasItem(SC_MOVE));
    EXPECT_TRUE(hasItem(SC_MAXIMIZE)); // the standard menu is back whole
    EXPECT_FALSE(hasMaximizeBox());    // but the style change stays
}

} // namespace
