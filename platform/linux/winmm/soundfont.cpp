#include "platform/linux/winmm/soundfont.h"

#include <unistd.h>

namespace strellan {

const std::vector<std::string>& SoundFontSearchPath()
{
    static const std::vector<std::string> paths = {
        /* Debian and Ubuntu: timgm6mb-soundfont. */
        "/usr/share/sounds/sf2/TimGM6mb.sf2",
        /* Fedora and Arch keep SoundFonts here. */
        "/usr/share/soundfonts/TimGM6mb.sf2",
        /* The distribution's chosen General MIDI SoundFont. */
        "/usr/share/sounds/sf2/default-GM.sf2",
        "/usr/share/soundfonts/default.sf2",
        /* FluidR3: Debian's fluid-soundfont-gm, Fedora's fluid-soundfont-gm,
           Arch's soundfont-fluid. */
        "/usr/share/sounds/sf2/FluidR3_GM.sf2",
        "/usr/share/soundfonts/FluidR3_GM.sf2",
        "/usr/share/soundfonts/FluidR3_GM2-2.sf2",
        /* Compressed SoundFonts, where FluidSynth reads them. */
        "/usr/share/sounds/sf3/default-GM.sf3",
        "/usr/share/sounds/sf3/MuseScore_General.sf3",
    };
    return paths;
}

std::string FindSoundFont()
{
    for (const std::string& path : SoundFontSearchPath())
        if (access(path.c_str(), R_OK) == 0)
            return path;
    return {};
}

} // namespace strellan
