/*
 * main.cpp - the start-up code: what the C runtime's WinMainCRTStartup does
 * for a GUI program on Windows.
 */
#include "platform/win32.h"

/* Any non-null value: the stand-in has one module, the program itself. */
static struct Module {
    int unused;
} s_module;

int main()
{
    char cmdLine[] = "";
    return WinMain(reinterpret_cast<HINSTANCE>(&s_module), NULL, cmdLine, SW_SHOWNORMAL);
}
