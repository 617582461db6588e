/*
 * fake_win32.cpp - the fake's calls, each logged as one line, and the
 * messages a test scripts for the loop.
 */
#include "tests/unit/fake_win32.h"

#include "core/tuner_dialog.h"
#include "midi/midi_out.h"

#include <cstdio>

namespace fake {

State g;

void Reset()
{
    g = State{};
    g_bQuit = FALSE;
    g_hMidiOut = NULL;
}

Scripted Command(int id, int notification)
{
    MSG msg{};
    msg.hwnd = kDialog;
    msg.message = WM_COMMAND;
    msg.wParam = MAKEWPARAM(id, notification);
    return {TRUE, msg};
}

Scripted OtherMessage()
{
    MSG msg{};
    msg.hwnd = kOtherWindow;
    msg.message = WM_PAINT;
    return {TRUE, msg};
}

Scripted Quit()
{
    MSG msg{};
    msg.message = WM_QUIT;
    return {FALSE, msg};
}

Scripted Failure()
{
    return {-1, MSG{}};
}

std::vector<std::string> LogOf(const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& line : g.log)
        if (line.rfind(prefix, 0) == 0)
            out.push_back(line);
    return out;
}

std::vector<DWORD> Words()
{
    std::vector<DWORD> out;
    for (const Sent& s : g.sent)
        out.push_back(s.word);
    return out;
}

namespace {

std::string Hex(unsigned long long v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llX", v);
    return buf;
}

std::string Name(HWND h)
{
    if (h == NULL)
        return "null";
    if (h == kDialog)
        return "dlg";
    if (h == kOtherWindow)
        return "other";
    return Hex(reinterpret_cast<uintptr_t>(h));
}

std::string Name(HMIDIOUT h)
{
    if (h == NULL)
        return "null";
    if (h == kMidiHandle)
        return "midi";
    return Hex(reinterpret_cast<uintptr_t>(h));
}

std::string Resource(LPCSTR name)
{
    if (!IS_INTRESOURCE(name))
        return name;
    /* Appended, not "#" + ...: GCC 12 at -O3 warns falsely (-Wrestrict)
       about inserting a string before a temporary. */
    std::string text = "#";
    text += std::to_string(reinterpret_cast<uintptr_t>(name));
    return text;
}

std::string MessageName(UINT m)
{
    switch (m) {
    case WM_INITDIALOG:
        return "WM_INITDIALOG";
    case WM_COMMAND:
        return "WM_COMMAND";
    case WM_PAINT:
        return "WM_PAINT";
    case WM_SETICON:
        return "WM_SETICON";
    }
    return Hex(m);
}

/* Calls the dialog procedure as the dialog manager would, and logs it. */
INT_PTR CallDialogProc(UINT m, WPARAM w, LPARAM l)
{
    std::string what = MessageName(m);
    if (m == WM_COMMAND) {
        what += ' ';
        what += std::to_string(LOWORD(w));
        what += '/';
        what += std::to_string(HIWORD(w));
    }
    /* Logged before the call, so what the procedure does comes after it. */
    std::size_t line = g.log.size();
    g.log.push_back("DialogProc(" + what + ")");
    INT_PTR r = g.dlgProc(kDialog, m, w, l);
    g.log[line] += " = " + std::to_string(r);
    return r;
}

} // namespace

} // namespace fake

using namespace fake;

extern "C" {

HWND WINAPI CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    g.log.push_back(std::string("CreateDialogParamA(") +
                    (hInstance == kInstance ? "instance" : "other") + ", " +
                    Resource(lpTemplateName) + ", " + Name(hWndParent) + ", " +
                    (lpDialogFunc == TunerDialogProc ? "TunerDialogProc" : "other") + ", " +
                    std::to_string(dwInitParam) + ")");
    if (g.createFails)
        return NULL;
    g.dlgProc = lpDialogFunc;
    CallDialogProc(WM_INITDIALOG, 0, dwInitParam);
    return kDialog;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    g.log.push_back("ShowWindow(" + Name(hWnd) + ", " + std::to_string(nCmdShow) + ")");
    return FALSE;
}

HANDLE WINAPI LoadImageA(HINSTANCE hInst, LPCSTR name, UINT type, int cx, int cy, UINT fuLoad)
{
    g.log.push_back(std::string("LoadImageA(") + (hInst == kInstance ? "instance" : "other") +
                    ", " + Resource(name) + ", " + std::to_string(type) + ", " +
                    std::to_string(cx) + "x" + std::to_string(cy) + ", " + Hex(fuLoad) + ")");
    return kIcon;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    g.log.push_back("SendMessageA(" + Name(hWnd) + ", " + MessageName(Msg) + ", " +
                    std::to_string(wParam) + ", " +
                    (reinterpret_cast<HICON>(lParam) == kIcon ? "icon" : Hex(lParam)) + ")");
    return 0;
}

BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck)
{
    g.log.push_back("CheckDlgButton(" + Name(hDlg) + ", " + std::to_string(nIDButton) + ", " +
                    std::to_string(uCheck) + ")");
    if (hDlg != kDialog || g.destroyed)
        return FALSE;
    g.checks[nIDButton] = uCheck;
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton)
{
    g.log.push_back("IsDlgButtonChecked(" + Name(hDlg) + ", " + std::to_string(nIDButton) + ")");
    auto it = g.checks.find(nIDButton);
    return it == g.checks.end() ? BST_UNCHECKED : it->second;
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    g.log.push_back("DestroyWindow(" + Name(hWnd) + ") quit=" + std::to_string(g_bQuit));
    if (hWnd != kDialog || g.destroyed)
        return FALSE;
    g.destroyed = true;
    return TRUE;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    g.log.push_back("GetMessageA(" + Name(hWnd) + ", " + std::to_string(wMsgFilterMin) + ", " +
                    std::to_string(wMsgFilterMax) + ")");
    if (g.script.empty()) {
        /* A test that ends the run by itself never gets here; one that does
           sees this line and a quit, instead of a hang. */
        g.log.push_back("GetMessageA: script ran out");
        lpMsg->message = WM_QUIT;
        return FALSE;
    }
    Scripted s = g.script.front();
    g.script.pop_front();
    *lpMsg = s.msg;
    return s.result;
}

BOOL WINAPI IsDialogMessageA(HWND hDlg, LPMSG lpMsg)
{
    g.log.push_back("IsDialogMessageA(" + Name(hDlg) + ", " + Name(lpMsg->hwnd) + ", " +
                    MessageName(lpMsg->message) + ")");
    if (hDlg != kDialog || g.destroyed || lpMsg->hwnd != kDialog)
        return FALSE;
    if (lpMsg->message == WM_COMMAND)
        CallDialogProc(WM_COMMAND, lpMsg->wParam, lpMsg->lParam);
    return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg)
{
    g.log.push_back("TranslateMessage(" + Name(lpMsg->hwnd) + ", " + MessageName(lpMsg->message) +
                    ")");
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg)
{
    g.log.push_back("DispatchMessageA(" + Name(lpMsg->hwnd) + ", " + MessageName(lpMsg->message) +
                    ")");
    return 0;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen)
{
    g.log.push_back("midiOutOpen(" + Hex(uDeviceID) + ", " + Hex(dwCallback) + ", " +
                    Hex(dwInstance) + ", " + Hex(fdwOpen) + ") = " + std::to_string(g.openResult));
    /* Non-null even on failure, so a program that trusted the handle after a
       failed open would show it by sending on it or closing it. */
    *phmo = g.openResult == MMSYSERR_NOERROR ? kMidiHandle : reinterpret_cast<HMIDIOUT>(0xBAD);
    return g.openResult;
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg)
{
    g.log.push_back("midiOutShortMsg(" + Name(hmo) + ", " + Hex(dwMsg) + ")");
    g.sent.push_back({hmo, dwMsg});
    return hmo == kMidiHandle ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo)
{
    g.log.push_back("midiOutClose(" + Name(hmo) + ")");
    return hmo == kMidiHandle ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

} // extern "C"
