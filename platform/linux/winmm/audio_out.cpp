/*
 * audio_out.cpp - the synthesizer's way to the speakers.
 *
 * The PulseAudio stream renders in its own thread (pa_threaded_mainloop),
 * asking the synthesizer for exactly what the server wants; StreamPauser
 * corks it while nothing sounds. How much the server holds is chosen for
 * a steady sound on PulseAudio and on PipeWire alike (see kSinkShareUs);
 * the quick start after a pause comes from the pauser, which drops what
 * was queued before the note, not from a short buffer.
 *
 * The first connection is waited for, up to a deadline: a server that does
 * not answer must not hold the window up. Once connected, losing the server
 * (a restart, a crash, a suspend) is noticed by the context's or stream's
 * failure and costs nothing until the next MIDI message, which starts a new
 * connection without waiting for it; the note sounds once the new stream is
 * up. Nothing polls in between.
 *
 * Two threads call FluidSynth: the program's thread plays the MIDI
 * messages (fluid_synth_noteon and the rest, from midiOutShortMsg) while
 * the stream's thread renders (fluid_synth_write_float). FluidSynth's API
 * is thread-safe for this (its synth.threadsafe-api setting, on by
 * default). Everything of PulseOut's own, the pauser included, is touched
 * only with the loop's lock held: in libpulse's callbacks, which run with
 * it, or under pa_threaded_mainloop_lock on the program's thread.
 */
#include "platform/linux/winmm/audio_out.h"

#include "platform/linux/winmm/stream_pause.h"

#include <alsa/asoundlib.h>
#include <pulse/pulseaudio.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace strellan {

namespace {

/* The stream's buffering. Both servers split a stream's target length the
   same way (PA_STREAM_ADJUST_LATENCY): (tlength - 2 * minreq) / 2 is the
   sink's share, what it mixes ahead (PipeWire's graph cycle, its
   quantum), and the rest waits in the server for the sink to take.

   The sink's share: PipeWire runs its graph at the largest power-of-two
   quantum within the shortest share asked for, here 1024 frames at
   48 kHz, its own default. A shorter share pulls the whole desktop's
   graph into shorter cycles, and on a small or virtual machine PipeWire
   then drops samples of any client, pacat's with its 2 s buffer too.
   What waits in the server: 145 ms, refilled when 60 ms are free, so
   never less than 85 ms in hand, 110 ms with the sink's share; how late
   the stream's thread may be, busy or descheduled, before the sink has
   nothing to play. With a 10 ms target a few milliseconds were in hand,
   and on an idle machine the thread woke 6 to 13 ms late now and then:
   each time a gap of silence in the note. With 50 ms in hand the notes
   were clean on an idle machine, but with its cores kept busy by other
   programs a thread of normal priority on a small virtual machine is now
   and then held up for about 100 ms, and the sink played up to 40 ms of
   silence. Neither server rewinds what is queued for a note struck while
   another sounds, so that note, and Stop, are heard after the target
   length, about 170 ms: late enough to notice, soon enough for a tuner;
   a gap in the reference tone is not. */
constexpr pa_usec_t kSinkShareUs = 25'000;
constexpr pa_usec_t kRefillUs = 60'000;
constexpr pa_usec_t kTargetLengthUs = 2 * (kSinkShareUs + kRefillUs);
/* What a resumed stream drops (see StreamPauser) is silence only. */
static_assert(kTargetLengthUs < StreamPauser::kSilenceBeforePauseSeconds * PA_USEC_PER_SEC);

constexpr int kAudioChannels = 2;

/* The reverb's tail is below -80 dB within a second. */
constexpr double kEffectsRingSeconds = 1.0;

void DropResult(pa_operation* op)
{
    if (op)
        pa_operation_unref(op);
}

class PulseOut final : public AudioOut, private StreamControl {
public:
    ~PulseOut() override;

    PulseStatus Open(pa_usec_t timeoutUs);
    bool Start(fluid_synth_t* synth) override;
    void Wake() override;

private:
    /* The pauser's orders; with no stream (the server lost) there is
       nothing to pause, and a new stream starts as the pauser says. */
    void Pause() override { Cork(1); }
    void DropQueued() override
    {
        if (stream_)
            DropResult(pa_stream_flush(stream_, nullptr, nullptr));
    }
    void Resume() override { Cork(0); }
    void Cork(int corked)
    {
        if (stream_)
            DropResult(pa_stream_cork(stream_, corked, nullptr, nullptr));
    }

    bool Connect();
    void CreateStream();
    void Disconnect();
    void Lose();
    void RingOutEffects();
    template <typename Ready>
    bool WaitFor(Ready ready);
    void Render(size_t bytes);

    static void OnContextState(pa_context* c, void* self);
    static void OnStreamState(pa_stream* s, void* self);
    static void OnWrite(pa_stream* s, size_t bytes, void* self);
    static void OnDeadline(pa_mainloop_api* api, pa_time_event* e, const struct timeval* tv,
                           void* self);

    /* Where the connection is. Open() waits through the first two (or the
       deadline); Start() ends the open with a stream. From then on a loss
       is recovered from: lost, then, at the next message, reconnecting
       until the new stream is ready. */
    enum class Link {
        Connecting,   /* the first connection on its way */
        TimedOut,     /* the open's deadline came first */
        Connected,    /* the context is ready, the stream not yet */
        Playing,      /* the stream is there */
        Lost,         /* no server (said once); the next message looks again */
        Reconnecting, /* a new connection, then a new stream, on its way */
    };
    bool Started() const
    {
        return link_ == Link::Playing || link_ == Link::Lost || link_ == Link::Reconnecting;
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_time_event* deadline_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    double rate_ = 0; /* the synthesizer's; the server resamples to its own */
    Link link_ = Link::Connecting;
    std::optional<StreamPauser> pauser_;
    std::vector<float> buffer_;
};

PulseOut::~PulseOut()
{
    if (!loop_)
        return;
    pa_threaded_mainloop_stop(loop_);
    Disconnect();
    pa_threaded_mainloop_free(loop_); /* and the deadline's event with it */
}

/* The context's progress. Ready: at the first connection the caller goes
   on; found again, the stream is made anew. Failed: at the first
   connection the caller hears of it; afterwards the server is lost. */
void PulseOut::OnContextState(pa_context* c, void* self)
{
    auto* out = static_cast<PulseOut*>(self);
    const pa_context_state_t state = pa_context_get_state(c);
    if (state == PA_CONTEXT_READY) {
        if (out->link_ == Link::Connecting)
            out->link_ = Link::Connected;
        else if (out->link_ == Link::Reconnecting && !out->stream_)
            out->CreateStream();
    } else if (!PA_CONTEXT_IS_GOOD(state) && out->Started()) {
        out->Lose();
    }
    pa_threaded_mainloop_signal(out->loop_, 0);
}

/* The stream's: ready, after a loss too (said so); failed, lost. */
void PulseOut::OnStreamState(pa_stream* s, void* self)
{
    auto* out = static_cast<PulseOut*>(self);
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (state == PA_STREAM_READY && out->link_ == Link::Reconnecting) {
        std::fprintf(stderr, "strellan: the sound server is back\n");
        out->link_ = Link::Playing;
    } else if (state == PA_STREAM_FAILED && out->Started()) {
        out->Lose();
    }
    pa_threaded_mainloop_signal(out->loop_, 0);
}

void PulseOut::OnWrite(pa_stream*, size_t bytes, void* self)
{
    static_cast<PulseOut*>(self)->Render(bytes);
}

void PulseOut::OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
{
    auto* out = static_cast<PulseOut*>(self);
    if (!out->Started())
        out->link_ = Link::TimedOut;
    pa_threaded_mainloop_signal(out->loop_, 0);
}

/* Starts a connection; the callbacks carry it on. No autospawn: a desktop
   without a sound server falls back to ALSA rather than growing one. */
bool PulseOut::Connect()
{
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Strellan");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "strellan");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Strellan", props);
    pa_proplist_free(props);
    if (!context_)
        return false;
    pa_context_set_state_callback(context_, OnContextState, this);
    return pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
}

void PulseOut::CreateStream()
{
    pa_sample_spec format = {PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(rate_), kAudioChannels};
    stream_ = pa_stream_new(context_, "Reference pitch", &format, nullptr);
    if (!stream_) {
        if (Started())
            Lose();
        return;
    }
    pa_stream_set_state_callback(stream_, OnStreamState, this);
    pa_stream_set_write_callback(stream_, OnWrite, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLengthUs, &format));
    attr.minreq = static_cast<uint32_t>(pa_usec_to_bytes(kRefillUs, &format));
    /* Playing starts with the first refill, not once the whole target
       length is there; after a pause the first write holds it all anyway. */
    attr.prebuf = attr.minreq;
    attr.fragsize = static_cast<uint32_t>(-1);
    /* Corked while the pauser says so: at the start nothing sounds yet;
       found again on a message, the note is waiting. */
    auto flags = PA_STREAM_ADJUST_LATENCY;
    if (pauser_->paused())
        flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_START_CORKED);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0 &&
        Started())
        Lose();
}

void PulseOut::Disconnect()
{
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

/* The server went away, or a new connection found none. What was struck
   meanwhile is dropped rather than heard late, all at once; the pauser
   starts again from paused. Said once per loss (when it was playing), not
   at every try. */
void PulseOut::Lose()
{
    fluid_synth_all_sounds_off(synth_, -1);
    if (link_ == Link::Playing) {
        std::fprintf(stderr, "strellan: lost the sound server; trying again at the next note\n");
        RingOutEffects();
    }
    link_ = Link::Lost;
    pauser_->Reset();
}

/* The voices were cut where the server left them, but the reverb's and
   the chorus's delay lines still hold the cut: rendered on a new stream,
   they would replay it, a click some 50 ms into the next note and more
   after it. Rendered away here, in silence, instead. */
void PulseOut::RingOutEffects()
{
    std::vector<float> silence(static_cast<size_t>(rate_ * kEffectsRingSeconds));
    fluid_synth_write_float(synth_, static_cast<int>(silence.size()), silence.data(), 0, 1,
                            silence.data(), 0, 1);
}

/* Waits, with the loop locked, until ready(), a failure or the deadline. */
template <typename Ready>
bool PulseOut::WaitFor(Ready ready)
{
    for (;;) {
        if (ready())
            return true;
        if (link_ == Link::TimedOut || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
            return false;
        if (stream_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
            return false;
        pa_threaded_mainloop_wait(loop_);
    }
}

PulseStatus PulseOut::Open(pa_usec_t timeoutUs)
{
    loop_ = pa_threaded_mainloop_new();
    if (!loop_)
        return PulseStatus::NoServer;
    pa_threaded_mainloop_lock(loop_);
    PulseStatus status = PulseStatus::NoServer;
    if (pa_threaded_mainloop_start(loop_) >= 0 && Connect()) {
        /* The deadline covers this and Start(): every wait of the open. */
        deadline_ = pa_context_rttime_new(context_, pa_rtclock_now() + timeoutUs, OnDeadline, this);
        if (WaitFor([this] { return link_ == Link::Connected; }))
            status = PulseStatus::Ready;
        else if (link_ == Link::TimedOut)
            status = PulseStatus::NoAnswer;
    }
    pa_threaded_mainloop_unlock(loop_);
    return status;
}

bool PulseOut::Start(fluid_synth_t* synth)
{
    pa_threaded_mainloop_lock(loop_);
    synth_ = synth;
    fluid_settings_getnum(fluid_synth_get_settings(synth), "synth.sample-rate", &rate_);
    pauser_.emplace(static_cast<StreamControl&>(*this), rate_);
    CreateStream();
    bool ok =
        stream_ && WaitFor([this] { return pa_stream_get_state(stream_) == PA_STREAM_READY; });
    if (ok)
        link_ = Link::Playing;
    /* The open is over: no deadline from here on. */
    if (deadline_) {
        pa_threaded_mainloop_get_api(loop_)->time_free(deadline_);
        deadline_ = nullptr;
    }
    pa_threaded_mainloop_unlock(loop_);
    return ok;
}

/* In the stream's thread, loop locked: render what the server asks for,
   interleaved stereo. */
void PulseOut::Render(size_t bytes)
{
    const size_t frames = bytes / (kAudioChannels * sizeof(float));
    if (frames == 0)
        return;
    buffer_.resize(frames * kAudioChannels);
    fluid_synth_write_float(synth_, static_cast<int>(frames), buffer_.data(), 0, kAudioChannels,
                            buffer_.data(), 1, kAudioChannels);
    pa_stream_write(stream_, buffer_.data(), frames * kAudioChannels * sizeof(float), nullptr, 0,
                    PA_SEEK_RELATIVE);
    pauser_->Rendered(frames, fluid_synth_get_active_voice_count(synth_) > 0);
}

void PulseOut::Wake()
{
    pa_threaded_mainloop_lock(loop_);
    if (link_ == Link::Lost) {
        /* Look for the server again, without waiting for it here. */
        Disconnect();
        link_ = Link::Reconnecting;
        if (!Connect())
            Lose();
    }
    pauser_->Wake(fluid_synth_get_active_voice_count(synth_) > 0);
    pa_threaded_mainloop_unlock(loop_);
}

/* libasound says on stderr, several lines at a time, why a device would
   not open (no card, no "default"); that there is no output is said once,
   by the mapper. */
void SayNothingAlsa(const char*, int, const char*, int, const char*, ...) {}

/* FluidSynth's own driver, at the synthesizer's rate, from the
   synthesizer's settings. */
class AlsaOut final : public AudioOut {
public:
    ~AlsaOut() override
    {
        if (driver_)
            delete_fluid_audio_driver(driver_);
    }
    bool Start(fluid_synth_t* synth) override
    {
        fluid_settings_t* settings = fluid_synth_get_settings(synth);
        fluid_settings_setstr(settings, "audio.driver", "alsa");
        snd_lib_error_set_handler(SayNothingAlsa);
        driver_ = new_fluid_audio_driver(settings, synth);
        snd_lib_error_set_handler(nullptr);
        return driver_ != nullptr;
    }
    void Wake() override {}

private:
    fluid_audio_driver_t* driver_ = nullptr;
};

} // namespace

PulseOpen OpenPulseOut(double timeoutSeconds)
{
    auto out = std::make_unique<PulseOut>();
    PulseStatus status = out->Open(static_cast<pa_usec_t>(timeoutSeconds * PA_USEC_PER_SEC));
    if (status != PulseStatus::Ready)
        out.reset();
    return {std::move(out), status};
}

std::unique_ptr<AudioOut> MakeAlsaOut()
{
    return std::make_unique<AlsaOut>();
}

} // namespace strellan
