/*
 * reference_strings.h - the eight strings Strellan can sound and every MIDI
 * message it sends. All messages are on MIDI channel 1 and fixed in advance.
 *
 * A MIDI short message word, as midiOutShortMsg takes it:
 *   bits 0-7 status byte, 8-15 first data byte, 16-23 second data byte.
 */
#ifndef STRELLAN_CORE_REFERENCE_STRINGS_H
#define STRELLAN_CORE_REFERENCE_STRINGS_H

#include "platform/win32.h"
#include "resources/resource.h"

/* Program Change to 26 (General MIDI's jazz electric guitar, 27 counted from 1). */
constexpr DWORD MIDIMSG_PROGRAM_GUITAR = 0x00001AC0;

/* Control Change 123, All Notes Off: ends every note sounding on channel 1. */
constexpr DWORD MIDIMSG_ALL_NOTES_OFF = 0x00007BB0;

struct ReferenceString {
    int nControlId;       /* the string's radio button */
    const char* pszLabel; /* the letter above it; no octave */
    BYTE bNote;           /* MIDI note number, 60 = C4 */
    BYTE bVelocity;       /* strike velocity, 1-127 */
    DWORD dwNoteOn;       /* Note On, channel 1 */
};

/* In priority order, which is also left to right in the window and rising
   pitch. The low F# is struck softer than the rest, at 95. */
constexpr ReferenceString REFERENCE_STRINGS[] = {
    {IDC_STRING_FS1, "F#", 30, 95, 0x005F1E90}, /* F#1 */
    {IDC_STRING_B1, "B", 35, 127, 0x007F2390},  /* B1 */
    {IDC_STRING_E2, "E", 40, 127, 0x007F2890},  /* E2 */
    {IDC_STRING_A2, "A", 45, 127, 0x007F2D90},  /* A2 */
    {IDC_STRING_D3, "D", 50, 127, 0x007F3290},  /* D3 */
    {IDC_STRING_G3, "G", 55, 127, 0x007F3790},  /* G3 */
    {IDC_STRING_B3, "B", 59, 127, 0x007F3B90},  /* B3 */
    {IDC_STRING_E4, "E", 64, 127, 0x007F4090},  /* E4 */
};

constexpr int REFERENCE_STRING_COUNT = sizeof(REFERENCE_STRINGS) / sizeof(REFERENCE_STRINGS[0]);

/* Let the compiler check the words written out above against their bytes. */
constexpr bool NoteOnWordsMatchTheirBytes()
{
    for (const ReferenceString& rs : REFERENCE_STRINGS) {
        if (rs.bNote > 0x7F || rs.bVelocity < 1 || rs.bVelocity > 0x7F)
            return false;
        if (rs.dwNoteOn != 0x90u + rs.bNote * 0x100u + rs.bVelocity * 0x10000u)
            return false;
    }
    return true;
}
static_assert(NoteOnWordsMatchTheirBytes(), "a Note On word disagrees with its note or velocity");
static_assert(REFERENCE_STRING_COUNT == 8, "eight-string standard tuning has eight strings");
static_assert(MIDIMSG_PROGRAM_GUITAR == (0xC0u | 26u << 8), "Program Change 26, channel 1");
static_assert(MIDIMSG_ALL_NOTES_OFF == (0xB0u | 123u << 8 | 0u << 16), "CC 123 = 0, channel 1");

#endif /* STRELLAN_CORE_REFERENCE_STRINGS_H */
