/*
 * startup.h - what the start-up code calls before WinMain, as Windows'
 * loader calls each DLL's entry point with DLL_PROCESS_ATTACH: the MIDI
 * implementation linked in (the MIDI Mapper of winmm/, or the tests' MIDI
 * recorder) gets ready.
 */
#ifndef STRELLAN_PLATFORM_LINUX_STARTUP_H
#define STRELLAN_PLATFORM_LINUX_STARTUP_H

#ifdef __cplusplus
extern "C" {
#endif

void WinmmProcessAttach(void);

#ifdef __cplusplus
}
#endif

#endif
