/*
 * synth.cpp - FluidSynth set up for one instrument, and each word played
 * through the pitch correction.
 */
#include "platform/linux/winmm/synth.h"

#include "platform/linux/winmm/soundfont.h"

namespace strellan {

namespace {

/* FluidSynth's default gain of 0.2 leaves a lone note some 15 dB short of
   comfortable; this puts one struck string's peak between -12 and -3 dBFS. */
constexpr double kGain = 1.25;

/* Voices at once: a struck string takes two to four for some seconds;
   enough for a dozen strikes in a row, the oldest stolen after that. */
constexpr int kPolyphony = 64;

} // namespace

Synthesizer::Synthesizer()
{
    settings_ = new_fluid_settings();
    fluid_settings_setnum(settings_, "synth.sample-rate", kSampleRate);
    fluid_settings_setnum(settings_, "synth.gain", kGain);
    fluid_settings_setint(settings_, "synth.polyphony", kPolyphony);
    fluid_settings_setint(settings_, "synth.cpu-cores", 1);
    /* Samples are read when a preset that uses them is chosen, and not
       locked in memory: one instrument is ever played. */
    fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 1);
    fluid_settings_setint(settings_, "synth.lock-memory", 0);
    synth_ = new_fluid_synth(settings_);
}

Synthesizer::~Synthesizer()
{
    correction_.reset();
    if (synth_)
        delete_fluid_synth(synth_);
    delete_fluid_settings(settings_);
}

bool Synthesizer::Load(const std::vector<std::string>& paths, const std::string& cacheDir)
{
    if (!synth_)
        return false;
    const std::string loaded = LoadSoundFont(synth_, paths);
    if (loaded.empty())
        return false;
    correction_ = std::make_unique<PitchCorrection>(loaded, kSampleRate, cacheDir);
    return true;
}

void Synthesizer::Play(DWORD word)
{
    std::optional<MidiMessage> m = decoder_.Decode(word);
    if (!m)
        return;
    if (m->StrikesANote()) {
        /* The SoundFont is loaded with no preset chosen (a preset's samples
           are read when it is chosen): a channel struck before any program
           change gets General MIDI's default then, program 0 (the drum kit
           on channel 10). */
        if (!fluid_synth_get_channel_preset(synth_, m->Channel()))
            fluid_synth_program_change(synth_, m->Channel(), 0);
        if (correction_)
            correction_->BeforeNoteOn(synth_, m->Channel(), m->data1);
    }
    PlayOnSynth(synth_, *m);
}

} // namespace strellan
