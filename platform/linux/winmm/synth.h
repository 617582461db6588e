/*
 * synth.h - the synthesizer behind the MIDI Mapper: FluidSynth with a
 * General MIDI SoundFont, playing short messages, tuned to equal
 * temperament. It has no sound of its own: the audio output renders it.
 */
#ifndef STRELLAN_PLATFORM_LINUX_WINMM_SYNTH_H
#define STRELLAN_PLATFORM_LINUX_WINMM_SYNTH_H

#include "platform/linux/winmm/pitch_correction.h"
#include "platform/linux/winmm/short_message.h"

#include <fluidsynth.h>

#include <memory>
#include <string>
#include <vector>

namespace strellan {

class Synthesizer {
public:
    /* FluidSynth's own default rate; a sound server at another rate
       resamples the stream. */
    static constexpr double kSampleRate = 48000;

    Synthesizer();
    ~Synthesizer();
    Synthesizer(const Synthesizer&) = delete;
    Synthesizer& operator=(const Synthesizer&) = delete;

    /* Loads the first SoundFont of paths that loads (see LoadSoundFont),
       with what was measured of its pitch under cacheDir. Only the presets
       played are read in full, when they are first chosen. False when none
       loads. */
    bool Load(const std::vector<std::string>& paths, const std::string& cacheDir);

    /* One midiOutShortMsg word. */
    void Play(DWORD word);

    fluid_synth_t* synth() const { return synth_; }
    PitchCorrection* correction() const { return correction_.get(); }

private:
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    std::unique_ptr<PitchCorrection> correction_;
    ShortMessageDecoder decoder_;
};

} // namespace strellan

#endif
