/*
 * main.cpp - the start-up code: what the C runtime's WinMainCRTStartup and
 * the loader do for a GUI program on Windows.
 */
#include "platform/linux/startup.h"
#include "platform/win32.h"

/* Any non-null value: the stand-in has one module, the program itself. */
static struct Module {
    int unused;
} s_module;

int main()
{
    WinmmProcessAttach();
    char cmdLine[] = "";
    return WinMain(reinterpret_cast<HINSTANCE>(&s_module), NULL, cmdLine, SW_SHOWNORMAL);
}
