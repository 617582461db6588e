/*
 * soundfont.h - which General MIDI SoundFont the synthesizer loads.
 */
#ifndef STRELLAN_PLATFORM_LINUX_WINMM_SOUNDFONT_H
#define STRELLAN_PLATFORM_LINUX_WINMM_SOUNDFONT_H

#include <string>
#include <vector>

namespace strellan {

/* The places looked at, in order. TimGM6mb comes first: its jazz guitar
   (program 26) is within 3 cents of equal temperament on all eight
   strings, which FluidR3 and MuseScore General are not (their E2 is some
   4 cents flat). The rest are what Debian, Fedora and Arch install. */
const std::vector<std::string>& SoundFontSearchPath();

/* The first of them that exists and is readable; empty when none is. */
std::string FindSoundFont();

} // namespace strellan

#endif
