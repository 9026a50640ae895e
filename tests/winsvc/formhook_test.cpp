#include "winsvc/formhook.h"

#include <gtest/gtest.h>

namespace winsvc {
namespace {

struct MainCase {
    const char *label;
    uint32_t message;
    uint64_t wParam;
    HookAction idle;
    HookAction running;
};

class MainWindowProcTest : public ::testing::TestWithParam<MainCase> {};

TEST_P(MainWindowProcTest, DecidesByMessageAndRunState)
{
    const MainCase &c = GetParam();
    EXPECT_EQ(c.idle, MainWindowProc(c.message, c.wParam, false));
    EXPECT_EQ(c.running, MainWindowProc(c.message, c.wParam, true));
}

constexpr auto Pass = HookAction::PassOn;
constexpr auto Drop = HookAction::Swallow;
constexpr auto Notice = HookAction::SwallowAndShowNotice;

INSTANTIATE_TEST_SUITE_P(
    Messages, MainWindowProcTest,
    ::testing::Values(
        MainCase{"ContextMenu", 0x7B, 0, Drop, Drop},
        MainCase{"ContextMenuKeyboardWParam", 0x7B, 0x12345, Drop, Drop},
        MainCase{"IconClick", 0x112, 0xF093, Pass, Notice},
        MainCase{"KeyMenu", 0x112, 0xF100, Pass, Notice},
        MainCase{"IconDoubleClick", 0x112, 0xF063, Pass, Notice},
        // Exact comparison: the plain commands and other hit codes pass.
        MainCase{"MouseMenuWithoutHitCode", 0x112, 0xF090, Pass, Pass},
        MainCase{"MouseMenuOtherHitCode", 0x112, 0xF092, Pass, Pass},
        MainCase{"KeyMenuWithLowBits", 0x112, 0xF101, Pass, Pass},
        MainCase{"CloseButton", 0x112, 0xF060, Pass, Pass},
        MainCase{"Minimize", 0x112, 0xF020, Pass, Pass},
        MainCase{"Move", 0x112, 0xF010, Pass, Pass},
        MainCase{"KeyMenuHighBitsSet", 0x112, 0x1'0000'F100ull, Pass, Pass},
        MainCase{"TaskbarMenu", 0x313, 0, Pass, Drop},
        MainCase{"Close", 0x10, 0, Pass, Pass},
        MainCase{"NullMessage", 0x0, 0, Pass, Pass},
        MainCase{"SysKeyDown", 0x104, 0x20, Pass, Pass}),
    [](const ::testing::TestParamInfo<MainCase> &info) { return std::string(info.param.label); });

using TextProc = HookAction (*)(uint32_t);

class TextProcTest : public ::testing::TestWithParam<TextProc> {};

TEST_P(TextProcTest, SwallowsOnlyTheContextMenu)
{
    const TextProc proc = GetParam();
    EXPECT_EQ(HookAction::Swallow, proc(0x7B));
    for (uint32_t message : {0x0u, 0x0Fu, 0x100u, 0x112u, 0x204u, 0x205u, 0x313u})
        EXPECT_EQ(HookAction::PassOn, proc(message)) << "message 0x" << std::hex << message;
}

INSTANTIATE_TEST_SUITE_P(Boxes, TextProcTest, ::testing::Values(&Text1Proc, &Text2Proc, &Text3Proc));

} // namespace
} // namespace winsvc
