// What each command of the window sends, given the radio buttons' state.
#include "core/tuner_dialog.h"
#include "midi/midi_out.h"
#include "resources/resource.h"
#include "tests/unit/fake_win32.h"

#include <gtest/gtest.h>

namespace {

using Words = std::vector<DWORD>;

class TunerDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        fake::g.dlgProc = TunerDialogProc;
        g_hMidiOut = fake::kMidiHandle;
    }

    static INT_PTR Send(UINT msg, WPARAM w = 0, LPARAM l = 0)
    {
        return TunerDialogProc(fake::kDialog, msg, w, l);
    }

    static INT_PTR Command(int id, int notification = 0)
    {
        return Send(WM_COMMAND, MAKEWPARAM(id, notification));
    }
};

// The words as the MIDI tables give them, written out here on purpose rather
// than taken from the program's own table.
struct PlayCase {
    int checked;
    DWORD noteOn;
};

class PlayEachString : public TunerDialogTest, public ::testing::WithParamInterface<PlayCase> {};

TEST_P(PlayEachString, SendsProgramChangeThenTheStringsNoteOn)
{
    fake::g.checks[GetParam().checked] = BST_CHECKED;

    EXPECT_EQ(Command(IDC_PLAY), TRUE);

    EXPECT_EQ(fake::Words(), (Words{0x00001AC0, GetParam().noteOn}));
    for (const fake::Sent& s : fake::g.sent)
        EXPECT_EQ(s.handle, fake::kMidiHandle);
    EXPECT_FALSE(g_bQuit);
}

INSTANTIATE_TEST_SUITE_P(AllEight, PlayEachString,
                         ::testing::Values(PlayCase{1015, 0x005F1E90}, // F#1, velocity 95
                                           PlayCase{1016, 0x007F2390}, // B1
                                           PlayCase{1009, 0x007F2890}, // E2
                                           PlayCase{1010, 0x007F2D90}, // A2
                                           PlayCase{1011, 0x007F3290}, // D3
                                           PlayCase{1012, 0x007F3790}, // G3
                                           PlayCase{1013, 0x007F3B90}, // B3
                                           PlayCase{1014, 0x007F4090}  // E4
                                           ),
                         [](const ::testing::TestParamInfo<PlayCase>& param) {
                             return "Control" + std::to_string(param.param.checked);
                         });

TEST_F(TunerDialogTest, PlayWithNothingCheckedSendsOnlyTheProgramChange)
{
    EXPECT_EQ(Command(IDC_PLAY), TRUE);
    EXPECT_EQ(fake::Words(), (Words{0x00001AC0}));
    // It asked about every string before giving up, in priority order.
    EXPECT_EQ(fake::LogOf("IsDlgButtonChecked"),
              (std::vector<std::string>{
                  "IsDlgButtonChecked(dlg, 1015)", "IsDlgButtonChecked(dlg, 1016)",
                  "IsDlgButtonChecked(dlg, 1009)", "IsDlgButtonChecked(dlg, 1010)",
                  "IsDlgButtonChecked(dlg, 1011)", "IsDlgButtonChecked(dlg, 1012)",
                  "IsDlgButtonChecked(dlg, 1013)", "IsDlgButtonChecked(dlg, 1014)"}));
}

TEST_F(TunerDialogTest, PlayStrikesOnlyTheFirstCheckedStringInPriorityOrder)
{
    // The window keeps one checked; should it ever hold more, the lowest
    // string wins, whatever the control IDs say.
    struct Case {
        std::vector<int> checked;
        DWORD noteOn;
    } cases[] = {
        {{1014, 1015}, 0x005F1E90}, // E4 and F#1: F#1 comes first
        {{1009, 1016}, 0x007F2390}, // E2 and B1: B1 comes first despite its higher ID
        {{1013, 1012, 1011}, 0x007F3290},
    };
    for (const Case& c : cases) {
        SetUp();
        for (int id : c.checked)
            fake::g.checks[id] = BST_CHECKED;
        Command(IDC_PLAY);
        EXPECT_EQ(fake::Words(), (Words{0x00001AC0, c.noteOn})) << "first checked " << c.checked[0];
    }
}

TEST_F(TunerDialogTest, AnyNonzeroCheckStateCountsAsChecked)
{
    fake::g.checks[IDC_STRING_D3] = BST_INDETERMINATE;
    Command(IDC_PLAY);
    EXPECT_EQ(fake::Words(), (Words{0x00001AC0, 0x007F3290}));
}

TEST_F(TunerDialogTest, PlayAgainStrikesAgainWithoutNoteOff)
{
    fake::g.checks[IDC_STRING_E2] = BST_CHECKED;
    Command(IDC_PLAY);
    Command(IDC_PLAY);
    fake::g.checks[IDC_STRING_E2] = BST_UNCHECKED;
    fake::g.checks[IDC_STRING_A2] = BST_CHECKED;
    Command(IDC_PLAY);
    EXPECT_EQ(fake::Words(), (Words{0x1AC0, 0x007F2890, 0x1AC0, 0x007F2890, 0x1AC0, 0x007F2D90}));
}

TEST_F(TunerDialogTest, StopSendsAllNotesOffAndNothingElse)
{
    EXPECT_EQ(Command(IDC_STOP), TRUE);
    EXPECT_EQ(fake::Words(), (Words{0x00007BB0}));
    EXPECT_TRUE(fake::LogOf("IsDlgButtonChecked").empty());
}

TEST_F(TunerDialogTest, ExitAndCancelDestroyTheWindowThenSetTheFlag)
{
    for (int id : {IDC_EXIT, IDCANCEL}) {
        SetUp();
        EXPECT_EQ(Command(id), TRUE) << id;
        EXPECT_TRUE(g_bQuit) << id;
        // Destroyed first, with the flag still clear at that moment.
        EXPECT_EQ(fake::LogOf("DestroyWindow"),
                  (std::vector<std::string>{"DestroyWindow(dlg) quit=0"}))
            << id;
        // Silencing and closing are the loop's job, after the message.
        EXPECT_TRUE(fake::g.sent.empty()) << id;
        EXPECT_TRUE(fake::LogOf("midiOutClose").empty()) << id;
    }
}

TEST_F(TunerDialogTest, CommandsActWhateverTheNotificationInTheHighWord)
{
    for (int notification : {1, 5, 0x8000, 0xFFFF}) {
        SetUp();
        fake::g.checks[IDC_STRING_G3] = BST_CHECKED;
        Command(IDC_PLAY, notification);
        Command(IDC_STOP, notification);
        EXPECT_EQ(fake::Words(), (Words{0x1AC0, 0x007F3790, 0x7BB0})) << notification;
        Command(IDC_EXIT, notification);
        EXPECT_TRUE(g_bQuit) << notification;
    }
    SetUp();
    Command(IDCANCEL, 0xFFFF);
    EXPECT_TRUE(g_bQuit);
}

TEST_F(TunerDialogTest, OtherCommandsAreAnsweredAndDoNothing)
{
    // The radio buttons, IDOK, neighbours of the real IDs, and IDs whose low
    // word alone would not match.
    const int ids[] = {1009, 1010, 1011, 1012, 1013, 1014, 1015, 1016,
                       IDOK, 0,    999,  1001, 1004, 1008, 1017, 0xFFFF};
    for (int id : ids) {
        SetUp();
        fake::g.checks[IDC_STRING_E2] = BST_CHECKED;
        EXPECT_EQ(Command(id), TRUE) << id;
        EXPECT_TRUE(fake::g.log.empty()) << id << ": " << fake::g.log.front();
        EXPECT_FALSE(g_bQuit) << id;
    }
}

TEST_F(TunerDialogTest, InitDialogAnswersTrueSoTheFocusGoesToTheFirstTabStop)
{
    EXPECT_EQ(Send(WM_INITDIALOG, 0, 0), TRUE);
    EXPECT_TRUE(fake::g.log.empty());
}

TEST_F(TunerDialogTest, EveryOtherMessageIsLeftToTheDialogManager)
{
    for (UINT msg : std::initializer_list<UINT>{WM_NULL, WM_PAINT, WM_CLOSE, WM_DESTROY,
                                                WM_SETFOCUS, WM_KEYDOWN, WM_SYSCOMMAND,
                                                WM_LBUTTONDOWN, 0x0400 /* WM_USER */}) {
        EXPECT_EQ(Send(msg, IDC_PLAY, 0), FALSE) << msg;
    }
    EXPECT_TRUE(fake::g.log.empty());
    EXPECT_FALSE(g_bQuit);
}

TEST_F(TunerDialogTest, SendsGoToWhateverHandleTheOpenLeft)
{
    // After a failed open the handle is null and the sends are swallowed
    // there, not skipped by the procedure.
    g_hMidiOut = NULL;
    fake::g.checks[IDC_STRING_B3] = BST_CHECKED;
    Command(IDC_PLAY);
    Command(IDC_STOP);
    ASSERT_EQ(fake::g.sent.size(), 3u);
    for (const fake::Sent& s : fake::g.sent)
        EXPECT_EQ(s.handle, nullptr);
}

} // namespace
