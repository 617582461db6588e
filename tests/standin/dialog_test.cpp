// The dialog manager's behaviour, driven as the message loop drives it but
// with no X server: the window from the program's own template, keys
// through IsDialogMessageA, clicks as the button's mouse messages.
#include "platform/linux/res/program_res.h"
#include "platform/linux/res/res_file.h"
#include "platform/linux/user32/keyboard.h"
#include "platform/linux/user32/user32.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace strellan;

std::vector<int> g_commands;

INT_PTR CALLBACK RecordingProc(HWND, UINT msg, WPARAM wParam, LPARAM)
{
    if (msg == WM_INITDIALOG)
        return TRUE;
    if (msg == WM_COMMAND) {
        g_commands.push_back(LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

const int kStrings[] = {IDC_STRING_FS1, IDC_STRING_B1, IDC_STRING_E2, IDC_STRING_A2,
                        IDC_STRING_D3,  IDC_STRING_G3, IDC_STRING_B3, IDC_STRING_E4};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_commands.clear();
        std::optional<Bytes> bytes = FindResource(ProgramResources(), RES_TYPE_DIALOG, IDD_TUNER);
        ASSERT_TRUE(bytes);
        std::optional<DialogTemplate> t = ParseDialogTemplate(*bytes);
        ASSERT_TRUE(t);
        dlg = CreateDialogFromTemplate(*t, RecordingProc, 0, BaseUnits{7, 14});
        ASSERT_NE(dlg, nullptr);
    }

    void TearDown() override
    {
        DestroyWindow(dlg);
        ThreadKeyboard().SetModifiers(false, false);
    }

    HWND Item(int id) { return GetDlgItem(dlg, id); }

    // A key pressed and released, as the message loop delivers it.
    void Key(UINT vk, bool shift = false, int repeats = 0)
    {
        KeyboardState& keyboard = ThreadKeyboard();
        keyboard.SetModifiers(shift, false);
        for (int i = 0; i <= repeats; ++i)
            Deliver(keyboard.KeyMessage(Target(), vk, true, 0));
        Deliver(keyboard.KeyMessage(Target(), vk, false, 0));
    }

    // The mouse pressed at one point of a control and released at another.
    void Click(HWND control, int upX = 2, int upY = 2)
    {
        Deliver(Mouse(control, WM_LBUTTONDOWN, 2, 2));
        Deliver(Mouse(control, WM_MOUSEMOVE, upX, upY));
        Deliver(Mouse(control, WM_LBUTTONUP, upX, upY));
    }

    MSG Mouse(HWND control, UINT message, int x, int y)
    {
        MSG m{};
        m.hwnd = control;
        m.message = message;
        m.wParam = message == WM_LBUTTONUP ? 0 : MK_LBUTTON;
        m.lParam = MAKELONG(x, y);
        return m;
    }

    HWND Target() { return GetFocus() ? GetFocus() : dlg; }

    void Deliver(MSG m)
    {
        if (FromHandle(dlg) && IsDialogMessageA(dlg, &m))
            return;
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }

    int CheckedString()
    {
        int checked = 0, count = 0;
        for (int id : kStrings)
            if (IsDlgButtonChecked(dlg, id) == BST_CHECKED) {
                checked = id;
                ++count;
            }
        EXPECT_LE(count, 1) << "more than one string checked";
        return checked;
    }

    UINT State(int id) { return static_cast<UINT>(SendMessageA(Item(id), BM_GETSTATE, 0, 0)); }

    // The controls whose own state says that they have the focus.
    std::vector<int> DrawnFocused()
    {
        std::vector<int> ids;
        for (int id : {IDC_PLAY, IDC_EXIT, IDC_STOP, IDC_STRING_FS1, IDC_STRING_B1, IDC_STRING_E2,
                       IDC_STRING_A2, IDC_STRING_D3, IDC_STRING_G3, IDC_STRING_B3, IDC_STRING_E4})
            if (State(id) & BST_FOCUS)
                ids.push_back(id);
        return ids;
    }

    HWND dlg = nullptr;
};

TEST_F(DialogTest, TheFocusStartsOnTheFirstTabStop)
{
    EXPECT_EQ(GetFocus(), Item(IDC_PLAY));
    EXPECT_EQ(DrawnFocused(), std::vector<int>{IDC_PLAY});
    EXPECT_EQ(CheckedString(), 0);
    EXPECT_TRUE(g_commands.empty());
}

TEST_F(DialogTest, TabGoesInCreationOrderWithTheCheckedStringAsItsGroupsStop)
{
    struct Case {
        int checked;            // 0: none checked
        std::vector<int> order; // from Play, Tab after Tab
    };
    const Case cases[] = {
        {0, {IDC_EXIT, IDC_STOP, IDC_PLAY}},
        {IDC_STRING_E2, {IDC_EXIT, IDC_STOP, IDC_STRING_E2, IDC_PLAY}},
        {IDC_STRING_FS1, {IDC_EXIT, IDC_STOP, IDC_STRING_FS1, IDC_PLAY}},
        {IDC_STRING_E4, {IDC_EXIT, IDC_STOP, IDC_STRING_E4, IDC_PLAY}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.checked);
        for (int id : kStrings)
            CheckDlgButton(dlg, id, BST_UNCHECKED);
        if (c.checked)
            CheckDlgButton(dlg, c.checked, BST_CHECKED);
        SetFocus(Item(IDC_PLAY));

        for (int expected : c.order) {
            Key(VK_TAB);
            EXPECT_EQ(GetFocus(), Item(expected));
            EXPECT_EQ(DrawnFocused(), std::vector<int>{expected});
        }
        // Shift+Tab retraces the way back to Play.
        for (auto it = c.order.rbegin() + 1; it != c.order.rend(); ++it) {
            Key(VK_TAB, true);
            EXPECT_EQ(GetFocus(), Item(*it));
        }
        Key(VK_TAB, true);
        EXPECT_EQ(GetFocus(), Item(IDC_PLAY));
    }
    EXPECT_TRUE(g_commands.empty()) << "moving the focus is no command";
}

TEST_F(DialogTest, ArrowsMoveTheCheckThroughTheStringsAndWrapRound)
{
    CheckDlgButton(dlg, IDC_STRING_E2, BST_CHECKED);
    Key(VK_TAB, false);
    Key(VK_TAB, false);
    Key(VK_TAB, false);
    ASSERT_EQ(GetFocus(), Item(IDC_STRING_E2));

    struct Step {
        UINT vk;
        int lands;
    };
    // Right and Down go on, Left and Up go back; past either end of the
    // eight it wraps round inside the group, never onto the label that
    // starts the group.
    const Step steps[] = {
        {VK_RIGHT, IDC_STRING_A2}, {VK_DOWN, IDC_STRING_D3},   {VK_LEFT, IDC_STRING_A2},
        {VK_UP, IDC_STRING_E2},    {VK_UP, IDC_STRING_B1},     {VK_LEFT, IDC_STRING_FS1},
        {VK_LEFT, IDC_STRING_E4},  {VK_RIGHT, IDC_STRING_FS1}, {VK_DOWN, IDC_STRING_B1},
        {VK_UP, IDC_STRING_FS1},   {VK_UP, IDC_STRING_E4},     {VK_UP, IDC_STRING_B3},
    };
    std::vector<int> notified;
    for (const Step& s : steps) {
        Key(s.vk);
        EXPECT_EQ(GetFocus(), Item(s.lands)) << s.vk << " to " << s.lands;
        EXPECT_EQ(CheckedString(), s.lands);
        EXPECT_EQ(DrawnFocused(), std::vector<int>{s.lands});
        notified.push_back(s.lands); // each new check is a click: BN_CLICKED
    }
    EXPECT_EQ(g_commands, notified);

    // The checked string is now the group's tab stop.
    Key(VK_TAB);
    EXPECT_EQ(GetFocus(), Item(IDC_PLAY));
    Key(VK_TAB, true);
    EXPECT_EQ(GetFocus(), Item(IDC_STRING_B3));
}

TEST_F(DialogTest, ArrowsMoveTheFocusAmongThePushButtonsWithoutPressing)
{
    // Play, Exit and Stop are one group, up to the first label: the arrows
    // go round it in creation order and press nothing.
    struct Step {
        UINT vk;
        int lands;
    };
    const Step steps[] = {{VK_RIGHT, IDC_EXIT}, {VK_DOWN, IDC_STOP}, {VK_RIGHT, IDC_PLAY},
                          {VK_LEFT, IDC_STOP},  {VK_UP, IDC_EXIT},   {VK_UP, IDC_PLAY}};
    for (const Step& s : steps) {
        Key(s.vk);
        EXPECT_EQ(GetFocus(), Item(s.lands));
        EXPECT_EQ(DrawnFocused(), std::vector<int>{s.lands});
    }
    EXPECT_TRUE(g_commands.empty());
    EXPECT_EQ(CheckedString(), 0);
}

TEST_F(DialogTest, SpacePressesTheFocusedButtonOnRelease)
{
    KeyboardState& keyboard = ThreadKeyboard();
    Deliver(keyboard.KeyMessage(Item(IDC_PLAY), VK_SPACE, true, 0));
    EXPECT_TRUE(State(IDC_PLAY) & BST_PUSHED);
    EXPECT_TRUE(g_commands.empty());
    // Held: the key repeats, and still nothing until it is let go.
    for (int i = 0; i < 5; ++i)
        Deliver(keyboard.KeyMessage(Item(IDC_PLAY), VK_SPACE, true, 0));
    EXPECT_TRUE(State(IDC_PLAY) & BST_PUSHED);
    EXPECT_TRUE(g_commands.empty());
    Deliver(keyboard.KeyMessage(Item(IDC_PLAY), VK_SPACE, false, 0));
    EXPECT_FALSE(State(IDC_PLAY) & BST_PUSHED);
    EXPECT_EQ(g_commands, std::vector<int>{IDC_PLAY});

    // And on another push button.
    Key(VK_TAB);
    Key(VK_TAB);
    ASSERT_EQ(GetFocus(), Item(IDC_STOP));
    Key(VK_SPACE);
    EXPECT_EQ(g_commands, (std::vector<int>{IDC_PLAY, IDC_STOP}));
}

TEST_F(DialogTest, EnterPressesTheFocusedPushButtonElseItIsIdok)
{
    Key(VK_RETURN);
    Key(VK_TAB);
    Key(VK_RETURN);
    EXPECT_EQ(g_commands, (std::vector<int>{IDC_PLAY, IDC_EXIT}));

    CheckDlgButton(dlg, IDC_STRING_G3, BST_CHECKED);
    SetFocus(Item(IDC_STRING_G3));
    g_commands.clear();
    Key(VK_RETURN);
    EXPECT_EQ(g_commands, std::vector<int>{IDOK});
}

TEST_F(DialogTest, EscapeAltF4AndTheCloseRequestAreIdcancel)
{
    Key(VK_ESCAPE);
    EXPECT_EQ(g_commands, std::vector<int>{IDCANCEL});

    // Alt+F4 is a system key: past IsDialogMessageA to the focused control,
    // whose default handling closes the dialog.
    KeyboardState& keyboard = ThreadKeyboard();
    keyboard.SetModifiers(false, true);
    MSG alt = keyboard.KeyMessage(GetFocus(), VK_F4, true, 0);
    EXPECT_EQ(alt.message, static_cast<UINT>(WM_SYSKEYDOWN));
    Deliver(alt);
    EXPECT_EQ(g_commands, (std::vector<int>{IDCANCEL, IDCANCEL}));

    // The window manager's close box.
    SendMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(g_commands, (std::vector<int>{IDCANCEL, IDCANCEL, IDCANCEL}));
    EXPECT_NE(FromHandle(dlg), nullptr) << "closing is the dialog procedure's to do";
}

TEST_F(DialogTest, AClickFocusesTheButtonAndTheOldOneLosesTheFocus)
{
    Click(Item(IDC_STOP));
    EXPECT_EQ(GetFocus(), Item(IDC_STOP));
    EXPECT_EQ(DrawnFocused(), std::vector<int>{IDC_STOP});
    EXPECT_EQ(g_commands, std::vector<int>{IDC_STOP});

    Click(Item(IDC_STRING_A2));
    EXPECT_EQ(GetFocus(), Item(IDC_STRING_A2));
    EXPECT_EQ(DrawnFocused(), std::vector<int>{IDC_STRING_A2});
    EXPECT_EQ(CheckedString(), IDC_STRING_A2);

    Click(Item(IDC_STRING_E4));
    EXPECT_EQ(CheckedString(), IDC_STRING_E4);
    EXPECT_EQ(g_commands, (std::vector<int>{IDC_STOP, IDC_STRING_A2, IDC_STRING_E4}));
}

TEST_F(DialogTest, APressReleasedOffTheButtonIsNoClick)
{
    const Rect r = FromHandle(Item(IDC_PLAY))->rect;
    for (auto [x, y] : {std::pair{r.width, 2}, {2, r.height}, {-1, 2}, {2, -1}, {500, 500}}) {
        Click(Item(IDC_PLAY), x, y);
        EXPECT_FALSE(State(IDC_PLAY) & BST_PUSHED);
    }
    // A radio button pressed and dragged off stays unchecked.
    Click(Item(IDC_STRING_D3), 2, 40);
    EXPECT_EQ(CheckedString(), 0);
    EXPECT_TRUE(g_commands.empty());

    // Off and back on before the release is a click again.
    Deliver(Mouse(Item(IDC_STOP), WM_LBUTTONDOWN, 2, 2));
    Deliver(Mouse(Item(IDC_STOP), WM_MOUSEMOVE, 300, 2));
    EXPECT_FALSE(State(IDC_STOP) & BST_PUSHED);
    Deliver(Mouse(Item(IDC_STOP), WM_MOUSEMOVE, 3, 3));
    EXPECT_TRUE(State(IDC_STOP) & BST_PUSHED);
    Deliver(Mouse(Item(IDC_STOP), WM_LBUTTONUP, 3, 3));
    EXPECT_EQ(g_commands, std::vector<int>{IDC_STOP});
}

TEST_F(DialogTest, LosingTheFocusMidPressEndsThePressWithoutAClick)
{
    Deliver(ThreadKeyboard().KeyMessage(Item(IDC_PLAY), VK_SPACE, true, 0));
    ASSERT_TRUE(State(IDC_PLAY) & BST_PUSHED);
    Click(Item(IDC_EXIT));
    Deliver(ThreadKeyboard().KeyMessage(GetFocus(), VK_SPACE, false, 0));
    EXPECT_FALSE(State(IDC_PLAY) & (BST_PUSHED | BST_FOCUS));
    EXPECT_EQ(g_commands, std::vector<int>{IDC_EXIT});
}

TEST_F(DialogTest, CheckingAStringClearsTheOthersAndBmClickClicks)
{
    CheckDlgButton(dlg, IDC_STRING_E2, BST_CHECKED);
    CheckDlgButton(dlg, IDC_STRING_B3, BST_CHECKED);
    EXPECT_EQ(CheckedString(), IDC_STRING_B3);
    EXPECT_TRUE(g_commands.empty()) << "checking from the program is no click";

    // BM_CLICK presses as the mouse does: focus, check, notification.
    SendMessageA(Item(IDC_STRING_FS1), BM_CLICK, 0, 0);
    EXPECT_EQ(CheckedString(), IDC_STRING_FS1);
    EXPECT_EQ(GetFocus(), Item(IDC_STRING_FS1));
    SendMessageA(Item(IDC_PLAY), BM_CLICK, 0, 0);
    EXPECT_EQ(g_commands, (std::vector<int>{IDC_STRING_FS1, IDC_PLAY}));
    EXPECT_EQ(State(IDC_PLAY), static_cast<UINT>(BST_FOCUS));
}

TEST_F(DialogTest, WmGetTextCopiesWhatFitsAndTerminatesIt)
{
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(SendMessageA(Item(IDC_PLAY), WM_GETTEXT, 3, reinterpret_cast<LPARAM>(buffer)), 2);
    EXPECT_STREQ(buffer, "Pl");
    EXPECT_EQ(SendMessageA(Item(IDC_PLAY), WM_GETTEXT, 0, reinterpret_cast<LPARAM>(buffer)), 0);
    EXPECT_STREQ(buffer, "Pl") << "no room: nothing written";
    EXPECT_EQ(GetWindowTextString(Item(IDC_PLAY)), "Play");
    EXPECT_EQ(GetWindowTextString(dlg), "Strellan");
    EXPECT_EQ(GetWindowTextString(nullptr), "");
}

// A hand-made dialog for what the program's own does not have: disabled
// and hidden controls, and two radio groups.
class WalkTest : public ::testing::Test {
protected:
    enum { A = 1, B, C, D, E, F, G };

    void SetUp() override
    {
        DialogTemplate t;
        t.style = WS_POPUP;
        auto add = [&](int id, const char* cls, DWORD style) {
            DialogItemTemplate item;
            item.className = cls;
            item.id = id;
            item.style = WS_CHILD | style;
            item.cx = item.cy = 10;
            t.items.push_back(item);
        };
        const DWORD radio = BS_AUTORADIOBUTTON | WS_VISIBLE;
        add(A, "Button", WS_TABSTOP | WS_GROUP | radio); // group 1: A B C D
        add(B, "Button", radio | WS_DISABLED);
        add(C, "Button", BS_AUTORADIOBUTTON); // hidden
        add(D, "Button", radio);
        add(E, "Static", WS_GROUP | WS_VISIBLE); // group 2: E F G
        add(F, "Button", WS_TABSTOP | WS_VISIBLE | WS_DISABLED);
        add(G, "Button", radio | WS_TABSTOP);
        dlg = CreateDialogFromTemplate(t, RecordingProc, 0, BaseUnits{7, 14});
        ASSERT_NE(dlg, nullptr);
    }
    void TearDown() override { DestroyWindow(dlg); }

    int Id(HWND h) { return h ? FromHandle(h)->id : 0; }
    int NextTab(int from, bool back)
    {
        return Id(GetNextDlgTabItem(dlg, GetDlgItem(dlg, from), back));
    }
    int NextInGroup(int from, bool back)
    {
        return Id(GetNextDlgGroupItem(dlg, GetDlgItem(dlg, from), back));
    }

    HWND dlg = nullptr;
};

TEST(DialogTemplateTest, AControlOfAnUnknownClassFailsTheDialog)
{
    DialogTemplate t;
    t.style = WS_POPUP;
    for (const char* cls : {"Button", "Edit"}) {
        DialogItemTemplate item;
        item.className = cls;
        item.style = WS_CHILD | WS_VISIBLE;
        t.items.push_back(item);
    }
    static bool initialized;
    initialized = false;
    auto proc = [](HWND, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        initialized = initialized || msg == WM_INITDIALOG;
        return FALSE;
    };
    EXPECT_EQ(CreateDialogFromTemplate(t, proc, 0, BaseUnits{7, 14}), nullptr);
    EXPECT_FALSE(initialized) << "the dialog procedure ran for a dialog that failed";
    t.items.pop_back();
    HWND dlg = CreateDialogFromTemplate(t, proc, 0, BaseUnits{7, 14});
    EXPECT_NE(dlg, nullptr) << "without the unknown control it is made";
    EXPECT_TRUE(initialized);
    DestroyWindow(dlg);
}

TEST_F(WalkTest, TabStopsSkipDisabledAndHiddenControls)
{
    EXPECT_EQ(Id(GetNextDlgTabItem(dlg, nullptr, FALSE)), A);
    EXPECT_EQ(Id(GetNextDlgTabItem(dlg, nullptr, TRUE)), G);
    EXPECT_EQ(NextTab(A, false), G);
    EXPECT_EQ(NextTab(G, false), A);
    EXPECT_EQ(NextTab(A, true), G);
    EXPECT_EQ(NextTab(D, false), G) << "from a control that is no tab stop";
    EXPECT_EQ(NextTab(E, true), A);
}

TEST_F(WalkTest, WindowsAnswerForTheirParentChildrenVisibilityAndPlace)
{
    HWND a = GetDlgItem(dlg, A);
    EXPECT_EQ(GetParent(a), dlg);
    EXPECT_EQ(GetParent(dlg), nullptr);
    EXPECT_EQ(ChildWindows(dlg).size(), 7u);
    EXPECT_EQ(ChildWindows(dlg).front(), a);
    EXPECT_FALSE(IsWindowVisible(a)) << "the dialog is not shown yet";
    ShowWindow(dlg, SW_SHOWNORMAL);
    EXPECT_TRUE(IsWindowVisible(a));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dlg, C)));
    EXPECT_TRUE(IsWindowEnabled(a));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, B)));
    EXPECT_FALSE(IsWindow(nullptr));

    // Without a display, a control's place is its parent's plus its own.
    RECT d, c;
    ASSERT_TRUE(GetWindowRect(dlg, &d));
    ASSERT_TRUE(GetWindowRect(a, &c));
    EXPECT_EQ(c.right - c.left, FromHandle(a)->rect.width);
    EXPECT_EQ(c.left, d.left + FromHandle(a)->rect.x);
    EXPECT_EQ(c.top, d.top + FromHandle(a)->rect.y);
    EXPECT_FALSE(GetWindowRect(nullptr, &c));
}

TEST_F(WalkTest, GroupsRunFromOneWsGroupToTheNextAndWrapInside)
{
    struct Case {
        int from;
        bool back;
        int next;
    };
    const Case cases[] = {
        {A, false, D}, {D, false, A}, {A, true, D}, {D, true, A}, // B disabled, C hidden
        {E, false, G}, {G, false, E}, {G, true, E}, {E, true, G}, // F disabled
        {B, false, D}, {C, true, A},                              // from ones that cannot
    };
    for (const Case& c : cases)
        EXPECT_EQ(NextInGroup(c.from, c.back), c.next) << c.from << (c.back ? " back" : "");
    EXPECT_EQ(Id(GetNextDlgGroupItem(dlg, nullptr, FALSE)), D) << "the first control's group";
}

TEST_F(WalkTest, CheckingAHiddenRadioButtonClearsTheOthersAndReturns)
{
    CheckDlgButton(dlg, A, BST_CHECKED);
    CheckDlgButton(dlg, D, BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dlg, A), static_cast<UINT>(BST_UNCHECKED));
    // C is hidden: the walk through the group never comes back to it.
    CheckDlgButton(dlg, C, BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dlg, C), static_cast<UINT>(BST_CHECKED));
    EXPECT_EQ(IsDlgButtonChecked(dlg, D), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_EQ(IsDlgButtonChecked(dlg, G), static_cast<UINT>(BST_UNCHECKED)) << "another group";
}

TEST_F(WalkTest, AControlAloneInItsGroupIsItsOwnNext)
{
    DestroyWindow(GetDlgItem(dlg, D));
    EXPECT_EQ(NextInGroup(A, false), A);
    EXPECT_EQ(NextInGroup(A, true), A);
}

} // namespace
