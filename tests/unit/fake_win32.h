/*
 * fake_win32.h - a recording fake of the Win32 calls Strellan makes, so the
 * program's own code can be unit-tested natively. Every call is logged as one
 * readable line; what the calls answer is set up by the test.
 */
#ifndef STRELLAN_TESTS_FAKE_WIN32_H
#define STRELLAN_TESTS_FAKE_WIN32_H

#include "platform/win32.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace fake {

inline HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(0x400000);
inline HWND const kDialog = reinterpret_cast<HWND>(0x1000);
inline HWND const kOtherWindow = reinterpret_cast<HWND>(0x1100);
inline HICON const kIcon = reinterpret_cast<HICON>(0x2000);
inline HMIDIOUT const kMidiHandle = reinterpret_cast<HMIDIOUT>(0x3000);

/* What one GetMessageA call answers. A message for kDialog with WM_COMMAND
   stands for a user action that the dialog manager turns into a command:
   IsDialogMessageA takes it and calls the dialog procedure. Anything else is
   left to TranslateMessage and DispatchMessageA. */
struct Scripted {
    BOOL result;
    MSG msg;
};

Scripted Command(int id, int notification = 0);
Scripted OtherMessage(); /* a message for another window of the thread */
Scripted Quit();         /* GetMessageA answers 0 */
Scripted Failure();      /* GetMessageA answers -1 */

struct Sent {
    HMIDIOUT handle;
    DWORD word;
};

struct State {
    std::vector<std::string> log;
    std::vector<Sent> sent;

    /* Set up by the test. */
    bool createFails = false;
    MMRESULT openResult = MMSYSERR_NOERROR;
    std::map<int, UINT> checks; /* control ID -> BST_ state */
    std::deque<Scripted> script;

    /* Seen by the fake. */
    DLGPROC dlgProc = nullptr;
    bool destroyed = false;
};

extern State g;

/* Clears the fake and the program's globals between tests. */
void Reset();

/* The log lines that start with prefix. */
std::vector<std::string> LogOf(const std::string& prefix);

/* Words sent, in order. */
std::vector<DWORD> Words();

} // namespace fake

#endif
