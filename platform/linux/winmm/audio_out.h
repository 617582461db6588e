/*
 * audio_out.h - where the synthesizer's sound goes: a PulseAudio stream that
 * pauses while nothing sounds (PipeWire desktops serve it too), or else
 * FluidSynth's own ALSA driver.
 */
#ifndef STRELLAN_PLATFORM_LINUX_WINMM_AUDIO_OUT_H
#define STRELLAN_PLATFORM_LINUX_WINMM_AUDIO_OUT_H

#include <fluidsynth.h>

#include <memory>

namespace strellan {

class AudioOut {
public:
    virtual ~AudioOut() = default;

    /* Starts rendering synth at its own sample rate; false when the output
       cannot play. */
    virtual bool Start(fluid_synth_t* synth) = 0;

    /* Called, on the program's thread, after every MIDI message: resume a
       paused stream once a voice sounds. */
    virtual void Wake() = 0;
};

/* A PulseAudio stream (the server resamples it to its sink's rate), once
   connected within
   the time given: Ready, with the output; NoServer, when there is no server
   to connect to; NoAnswer, when one is there but did not answer in time
   (stopped, or hung), which ALSA's default device, routed to the same
   server on a desktop that runs one, would wait for too. Start() then
   waits within the same time. Lost later, the server is looked for again
   at the next message. */
enum class PulseStatus { Ready, NoServer, NoAnswer };
struct PulseOpen {
    std::unique_ptr<AudioOut> out;
    PulseStatus status;
};
PulseOpen OpenPulseOut(double timeoutSeconds);

/* FluidSynth's ALSA driver on the default device. Never null: whether a
   device is there shows only when Start() makes the driver. It never
   pauses: the fallback, not the way. */
std::unique_ptr<AudioOut> MakeAlsaOut();

} // namespace strellan

#endif
