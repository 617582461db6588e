/*
 * soundfont.cpp - the search path, and the first SoundFont on it that
 * loads.
 */
#include "platform/linux/winmm/soundfont.h"

#include <glib.h>

#include <cstdio>
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

namespace {

void SayNothing(int, const char*, void*) {}
void SayNothingGlib(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

/* While SoundFonts load, the libraries keep their own counsel: FluidSynth
   logs why a file did not load, and its DLS reader (libinstpatch) asserts
   through GLib's log on files that are not DLS either. Which file failed
   is said once, by us. */
class QuietLoading {
public:
    QuietLoading() : glibHandler_(g_log_set_default_handler(SayNothingGlib, nullptr))
    {
        for (int level : {FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluidLog_[level] = fluid_set_log_function(level, SayNothing, nullptr);
    }
    ~QuietLoading()
    {
        for (int level : {FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, fluidLog_[level], nullptr);
        g_log_set_default_handler(glibHandler_, nullptr);
    }
    QuietLoading(const QuietLoading&) = delete;
    QuietLoading& operator=(const QuietLoading&) = delete;

private:
    GLogFunc glibHandler_;
    fluid_log_function_t fluidLog_[FLUID_DBG + 1] = {};
};

} // namespace

std::string LoadSoundFont(fluid_synth_t* synth, const std::vector<std::string>& paths)
{
    QuietLoading quiet;
    bool found = false;
    for (const std::string& path : paths) {
        if (access(path.c_str(), F_OK) != 0)
            continue;
        found = true;
        if (fluid_synth_sfload(synth, path.c_str(), 0) != FLUID_FAILED)
            return path;
        std::fprintf(stderr, "strellan: cannot load the SoundFont %s; trying the next\n",
                     path.c_str());
    }
    std::fprintf(stderr, found ? "strellan: no General MIDI SoundFont would load\n"
                               : "strellan: no General MIDI SoundFont found\n");
    return {};
}

} // namespace strellan
