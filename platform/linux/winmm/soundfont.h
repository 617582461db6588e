/*
 * soundfont.h - which General MIDI SoundFont the synthesizer loads.
 */
#ifndef STRELLAN_PLATFORM_LINUX_WINMM_SOUNDFONT_H
#define STRELLAN_PLATFORM_LINUX_WINMM_SOUNDFONT_H

#include <fluidsynth.h>

#include <string>
#include <vector>

namespace strellan {

/* The places looked at, in order. TimGM6mb comes first: its jazz guitar
   (program 26), corrected, is within half a cent of equal temperament on
   all eight strings, which FluidR3 and MuseScore General are not (their
   chorus leaves up to 0.86 cent; before the correction their G3 is some
   5.6 cents sharp). The rest are what Debian, Fedora and Arch install. */
const std::vector<std::string>& SoundFontSearchPath();

/* Loads into synth the first of paths that loads, choosing no preset for
   any channel (so that no samples are read yet). A file that is not there
   is passed over; one that is there but does not load (cut short, not a
   SoundFont, unreadable) is named on standard error, and the next is
   tried. The path loaded, or empty (said too) when none did. */
std::string LoadSoundFont(fluid_synth_t* synth, const std::vector<std::string>& paths);

} // namespace strellan

#endif
