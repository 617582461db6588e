/*
 * midi_mapper.cpp - the MIDI Mapper on Linux: midiOutOpen, midiOutShortMsg
 * and midiOutClose over a FluidSynth synthesizer with a General MIDI
 * SoundFont, behaving as winmm does towards its caller.
 */
#include "platform/linux/winmm/audio_out.h"
#include "platform/linux/winmm/short_message.h"
#include "platform/linux/winmm/soundfont.h"
#include "platform/win32.h"

#include <fluidsynth.h>

#include <cstdio>
#include <memory>

namespace strellan {

namespace {

/* FluidSynth's default gain of 0.2 leaves a lone note some 15 dB short of
   comfortable; this puts one struck string's peak between -12 and -3 dBFS. */
constexpr double kGain = 1.25;

struct Mapper {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    std::unique_ptr<AudioOut> out;
    ShortMessageDecoder decoder;

    ~Mapper()
    {
        if (synth)
            fluid_synth_all_sounds_off(synth, -1);
        out.reset(); /* stop the audio before the synthesizer goes */
        if (synth)
            delete_fluid_synth(synth);
        if (settings)
            delete_fluid_settings(settings);
    }
};

/* The one open device, and the handle that names it. */
Mapper* g_mapper = nullptr;

HMIDIOUT MapperHandle()
{
    return reinterpret_cast<HMIDIOUT>(g_mapper);
}

/* Quiet: the program's own output is one line on stdout, and FluidSynth's
   warnings (a SoundFont's odd zone, say) are not for the guitarist. */
void LogNothing(int, const char*, void*) {}

void SilenceFluidSynthLog()
{
    fluid_set_log_function(FLUID_PANIC, nullptr, nullptr);
    for (int level : {FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
        fluid_set_log_function(level, LogNothing, nullptr);
}

/* The sound server's time to answer at the open, in all: enough for any
   server that works, short enough that a hung one does not keep the
   window waiting. */
constexpr double kServerTimeoutSeconds = 1.5;

/* PulseAudio first (PipeWire serves it too), then ALSA; never JACK. A
   server that is there but does not answer is not tried again through
   ALSA, whose default device leads to it too. */
std::unique_ptr<AudioOut> OpenAudioOut(fluid_settings_t* settings)
{
    PulseOpen pulse = OpenPulseOut(kServerTimeoutSeconds);
    switch (pulse.status) {
    case PulseStatus::Ready:
        return std::move(pulse.out);
    case PulseStatus::NoServer:
        return MakeAlsaOut(settings);
    case PulseStatus::NoAnswer:
        break;
    }
    std::fprintf(stderr, "strellan: the sound server did not answer within %.1f s\n",
                 kServerTimeoutSeconds);
    return nullptr;
}

std::unique_ptr<Mapper> OpenMapper()
{
    SilenceFluidSynthLog();
    auto m = std::make_unique<Mapper>();

    m->settings = new_fluid_settings();
    if (!m->settings)
        return nullptr;
    m->out = OpenAudioOut(m->settings);
    if (!m->out)
        return nullptr;
    fluid_settings_setnum(m->settings, "synth.sample-rate", m->out->SampleRate());
    fluid_settings_setnum(m->settings, "synth.gain", kGain);
    fluid_settings_setint(m->settings, "synth.cpu-cores", 1);

    m->synth = new_fluid_synth(m->settings);
    if (!m->synth || LoadSoundFont(m->synth, SoundFontSearchPath()).empty())
        return nullptr;
    if (!m->out->Start(m->synth)) {
        std::fprintf(stderr, "strellan: no audio output (PulseAudio or ALSA)\n");
        return nullptr;
    }
    return m;
}

} // namespace

} // namespace strellan

using namespace strellan;

extern "C" {

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen)
{
    (void)dwCallback;
    (void)dwInstance;
    (void)fdwOpen; /* no notifications are ever delivered */
    if (!phmo)
        return MMSYSERR_INVALPARAM;
    *phmo = nullptr;
    if (uDeviceID != MIDI_MAPPER)
        return MMSYSERR_BADDEVICEID;
    if (g_mapper)
        return MMSYSERR_ALLOCATED;

    std::unique_ptr<Mapper> m = OpenMapper();
    if (!m)
        return MMSYSERR_NODRIVER;
    g_mapper = m.release();
    *phmo = MapperHandle();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg)
{
    if (!hmo || hmo != MapperHandle())
        return MMSYSERR_INVALHANDLE;
    if (std::optional<MidiMessage> m = g_mapper->decoder.Decode(dwMsg))
        PlayOnSynth(g_mapper->synth, *m);
    g_mapper->out->Wake();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo)
{
    if (!hmo || hmo != MapperHandle())
        return MMSYSERR_INVALHANDLE;
    delete g_mapper;
    g_mapper = nullptr;
    return MMSYSERR_NOERROR;
}

} // extern "C"
