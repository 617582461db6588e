// Start-up, the message loop and the shutdown, driven through a scripted
// GetMessageA.
#include "core/tuner_dialog.h"
#include "midi/midi_out.h"
#include "resources/resource.h"
#include "tests/unit/fake_win32.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Lines = std::vector<std::string>;

class WinMainTest : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }

    // Runs the program and captures what it writes to standard output.
    static int Run(int nShowCmd = SW_SHOWNORMAL)
    {
        char cmdLine[] = "";
        ::testing::internal::CaptureStdout();
        int rc = WinMain(fake::kInstance, NULL, cmdLine, nShowCmd);
        stdoutText = ::testing::internal::GetCapturedStdout();
        return rc;
    }

    // The log from the first line that starts with `from`.
    static Lines LogFrom(const std::string& from)
    {
        auto it = std::find_if(fake::g.log.begin(), fake::g.log.end(),
                               [&](const std::string& l) { return l.rfind(from, 0) == 0; });
        return Lines(it, fake::g.log.end());
    }

    static inline std::string stdoutText;
};

TEST_F(WinMainTest, StartsUpInOrderThenWaitsForMessages)
{
    fake::g.script = {fake::Quit()};

    EXPECT_EQ(Run(SW_SHOWDEFAULT), 0);

    Lines expected = {
        "CreateDialogParamA(instance, #1000, null, TunerDialogProc, 0)",
        "DialogProc(WM_INITDIALOG) = 1",
        "ShowWindow(dlg, 10)",
        "LoadImageA(instance, #132, 1, 32x32, 0x40)",
        "SendMessageA(dlg, WM_SETICON, 1, icon)",
        "midiOutOpen(0xFFFFFFFF, 0x0, 0x0, 0x10000) = 0",
        "CheckDlgButton(dlg, 1009, 1)",
        "GetMessageA(null, 0, 0)",
        "midiOutShortMsg(midi, 0x7BB0)",
        "midiOutClose(midi)",
    };
    EXPECT_EQ(fake::g.log, expected);
    EXPECT_EQ(stdoutText, "");
}

TEST_F(WinMainTest, ShowsTheWindowWithTheModeItWasStartedWith)
{
    for (int mode : {SW_SHOWNORMAL, SW_SHOWMINNOACTIVE, SW_SHOWDEFAULT}) {
        SetUp();
        fake::g.script = {fake::Quit()};
        Run(mode);
        EXPECT_EQ(fake::LogOf("ShowWindow"),
                  Lines{"ShowWindow(dlg, " + std::to_string(mode) + ")"});
    }
}

TEST_F(WinMainTest, EveryWayOfEndingLeadsToTheSameShutdown)
{
    // Exit and IDCANCEL (Esc, close box, Alt+F4) end by the flag; a quit
    // message or a failing GetMessageA end the loop by themselves.
    struct Case {
        const char* name;
        fake::Scripted last;
        bool destroys;
    } cases[] = {
        {"Exit", fake::Command(IDC_EXIT), true},
        {"IDCANCEL", fake::Command(IDCANCEL), true},
        {"quit message", fake::Quit(), false},
        {"GetMessageA -1", fake::Failure(), false},
    };
    for (const Case& c : cases) {
        SetUp();
        fake::g.script = {fake::Command(IDC_PLAY), c.last};

        EXPECT_EQ(Run(), 0) << c.name;

        // E2 is checked by start-up: Play strikes it, the shutdown silences it.
        EXPECT_EQ(fake::Words(), (std::vector<DWORD>{0x1AC0, 0x007F2890, 0x7BB0})) << c.name;
        EXPECT_EQ(fake::LogOf("midiOutClose"), Lines{"midiOutClose(midi)"}) << c.name;
        EXPECT_EQ(fake::g.destroyed, c.destroys) << c.name;
        EXPECT_EQ(fake::g.log.back(), "midiOutClose(midi)") << c.name;
        EXPECT_TRUE(fake::g.script.empty()) << c.name;
        EXPECT_TRUE(fake::LogOf("GetMessageA: script ran out").empty()) << c.name;
    }
}

TEST_F(WinMainTest, ExitEndsTheLoopRightAfterItsMessage)
{
    fake::g.script = {fake::Command(IDC_EXIT), fake::Command(IDC_PLAY), fake::OtherMessage()};

    Run();

    // Nothing after Exit is fetched, and nothing reaches IsDialogMessageA for
    // the destroyed window.
    EXPECT_EQ(fake::g.script.size(), 2u);
    EXPECT_EQ(LogFrom("GetMessageA"),
              (Lines{"GetMessageA(null, 0, 0)", "IsDialogMessageA(dlg, dlg, WM_COMMAND)",
                     "DialogProc(WM_COMMAND 1000/0) = 1", "DestroyWindow(dlg) quit=0",
                     "midiOutShortMsg(midi, 0x7BB0)", "midiOutClose(midi)"}));
}

TEST_F(WinMainTest, TheFlagIsTestedBeforeTheFirstWait)
{
    g_bQuit = TRUE;
    fake::g.script = {fake::Command(IDC_PLAY)};

    EXPECT_EQ(Run(), 0);

    EXPECT_TRUE(fake::LogOf("GetMessageA").empty());
    EXPECT_EQ(fake::Words(), (std::vector<DWORD>{0x7BB0}));
}

TEST_F(WinMainTest, MessagesTheDialogDoesNotTakeAreTranslatedAndDispatched)
{
    fake::g.script = {fake::OtherMessage(), fake::Command(IDC_STOP), fake::Quit()};

    Run();

    EXPECT_EQ(
        LogFrom("GetMessageA"),
        (Lines{"GetMessageA(null, 0, 0)", "IsDialogMessageA(dlg, other, WM_PAINT)",
               "TranslateMessage(other, WM_PAINT)", "DispatchMessageA(other, WM_PAINT)",
               "GetMessageA(null, 0, 0)", "IsDialogMessageA(dlg, dlg, WM_COMMAND)",
               "DialogProc(WM_COMMAND 1003/0) = 1", "midiOutShortMsg(midi, 0x7BB0)",
               "GetMessageA(null, 0, 0)", "midiOutShortMsg(midi, 0x7BB0)", "midiOutClose(midi)"}));
}

TEST_F(WinMainTest, AFailedOpenPrintsItsLineAndTheProgramRunsOnSilently)
{
    for (MMRESULT failure : {MMSYSERR_ERROR, MMSYSERR_BADDEVICEID, MMSYSERR_NODRIVER}) {
        SetUp();
        fake::g.openResult = failure;
        fake::g.script = {fake::Command(IDC_PLAY), fake::Command(IDC_STOP),
                          fake::Command(IDC_EXIT)};

        EXPECT_EQ(Run(), 0) << failure;

        // Exactly one line, CR LF, nothing else.
        EXPECT_EQ(stdoutText, "There was an error opening MIDI Mapper!\r\n") << failure;
        // The window still works; every send goes to the empty handle,
        // the shutdown's All Notes Off included, and there is no close.
        EXPECT_EQ(fake::Words(), (std::vector<DWORD>{0x1AC0, 0x007F2890, 0x7BB0, 0x7BB0}));
        for (const fake::Sent& s : fake::g.sent)
            EXPECT_EQ(s.handle, nullptr) << failure;
        EXPECT_TRUE(fake::LogOf("midiOutClose").empty()) << failure;
        EXPECT_TRUE(fake::g.destroyed) << failure;
        EXPECT_EQ(fake::LogOf("midiOutOpen").size(), 1u) << failure;
    }
}

TEST_F(WinMainTest, WithoutAWindowItEndsAtOnceWithAFailureStatus)
{
    // Nothing could ever set the flag, and nothing posts a quit message:
    // waiting would hang for ever. Nothing is opened for a window that is
    // not there, and the failure is not reported as success.
    for (MMRESULT open : {MMSYSERR_NOERROR, MMSYSERR_NODRIVER}) {
        fake::Reset();
        fake::g.createFails = true;
        fake::g.openResult = open;
        fake::g.script = {fake::Command(IDC_PLAY)};

        EXPECT_NE(Run(), 0);

        EXPECT_EQ(fake::g.log,
                  Lines{"CreateDialogParamA(instance, #1000, null, TunerDialogProc, 0)"});
        EXPECT_EQ(fake::g.script.size(), 1u);
        EXPECT_EQ(stdoutText, "");
    }
}

} // namespace
