/*
 * midi_mapper.cpp - the MIDI Mapper on Linux: midiOutOpen, midiOutShortMsg
 * and midiOutClose over the synthesizer, behaving as winmm does towards its
 * caller.
 *
 * Loading the SoundFont takes longer than the window takes to appear, so
 * the synthesizer is made from the moment the process starts (the start-up
 * code calls WinmmProcessAttach, as Windows' loader runs a DLL's entry
 * point), on a thread of its own; midiOutOpen then connects to the sound
 * server and takes the synthesizer as soon as it is there.
 */
#include "platform/linux/winmm/audio_out.h"
#include "platform/linux/winmm/soundfont.h"
#include "platform/linux/winmm/synth.h"
#include "platform/win32.h"

#include <fluidsynth.h>

#include <cstdio>
#include <future>
#include <memory>

namespace strellan {

namespace {

/* The sound server's time to answer at the open, in all: enough for any
   server that works, short enough that a hung one does not keep the
   window waiting. */
constexpr double kServerTimeoutSeconds = 1.5;

struct Mapper {
    std::unique_ptr<Synthesizer> synth;
    std::unique_ptr<AudioOut> out;

    ~Mapper()
    {
        if (synth && synth->synth())
            fluid_synth_all_sounds_off(synth->synth(), -1);
        out.reset(); /* stop the audio before the synthesizer goes */
    }
};

/* The one open device, and the handle that names it. */
Mapper* g_mapper = nullptr;

HMIDIOUT MapperHandle()
{
    return reinterpret_cast<HMIDIOUT>(g_mapper);
}

/* The synthesizer on its way; taken by the first open. */
std::future<std::unique_ptr<Synthesizer>> g_warmingUp;

std::unique_ptr<Synthesizer> MakeSynthesizer()
{
    auto synth = std::make_unique<Synthesizer>();
    if (!synth->Load(SoundFontSearchPath(), CacheDirectory()))
        return nullptr;
    return synth;
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

/* PulseAudio first (PipeWire serves it too), then ALSA; never JACK. A
   server that is there but does not answer is not tried again through
   ALSA, whose default device leads to it too. */
std::unique_ptr<AudioOut> OpenAudioOut()
{
    PulseOpen pulse = OpenPulseOut(kServerTimeoutSeconds);
    switch (pulse.status) {
    case PulseStatus::Ready:
        return std::move(pulse.out);
    case PulseStatus::NoServer:
        return MakeAlsaOut();
    case PulseStatus::NoAnswer:
        break;
    }
    std::fprintf(stderr, "strellan: the sound server did not answer within %.1f s\n",
                 kServerTimeoutSeconds);
    return nullptr;
}

std::unique_ptr<Mapper> OpenMapper()
{
    auto m = std::make_unique<Mapper>();
    m->out = OpenAudioOut();
    /* The synthesizer, made meanwhile (or now, if nobody started it). */
    m->synth = g_warmingUp.valid() ? g_warmingUp.get() : MakeSynthesizer();
    if (!m->out || !m->synth)
        return nullptr;
    if (!m->out->Start(m->synth->synth())) {
        std::fprintf(stderr, "strellan: no audio output (PulseAudio or ALSA)\n");
        return nullptr;
    }
    return m;
}

} // namespace

} // namespace strellan

using namespace strellan;

extern "C" {

void WinmmProcessAttach(void)
{
    SilenceFluidSynthLog();
    /* At the window's own priority: the window waits for it in
       midiOutOpen, and a thread of lower priority would keep it waiting
       for seconds on a machine that is busy. */
    g_warmingUp = std::async(std::launch::async, MakeSynthesizer);
}

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

    SilenceFluidSynthLog();
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
    g_mapper->synth->Play(dwMsg);
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
