/*
 * audio_out.cpp - the synthesizer's way to the speakers.
 *
 * The PulseAudio stream renders in its own thread (pa_threaded_mainloop),
 * asking the synthesizer for exactly what the server wants, in small
 * periods for a short way from the click to the sound; StreamPauser corks
 * it while nothing sounds.
 *
 * Two threads call FluidSynth: the program's thread plays the MIDI
 * messages (fluid_synth_noteon and the rest, from midiOutShortMsg) while
 * the stream's thread renders (fluid_synth_write_float). FluidSynth's API
 * is thread-safe for this (its synth.threadsafe-api setting, on by
 * default). Everything of PulseOut's own, the pauser included, is touched
 * only with the loop's lock held: in the stream's callbacks, which run
 * with it, or under pa_threaded_mainloop_lock on the program's thread.
 */
#include "platform/linux/winmm/audio_out.h"

#include "platform/linux/winmm/stream_pause.h"

#include <pulse/pulseaudio.h>

#include <cstdio>
#include <string>
#include <vector>

namespace strellan {

namespace {

/* How much the server holds ahead of what it plays. */
constexpr pa_usec_t kTargetLatencyUs = 10'000;

/* FluidSynth's own default, where nothing says otherwise. */
constexpr double kDefaultSampleRate = 48000;

constexpr int kChannels = 2;

void DropResult(pa_operation* op)
{
    if (op)
        pa_operation_unref(op);
}

class PulseOut final : public AudioOut, private StreamControl {
public:
    ~PulseOut() override { Close(); }

    bool Open();
    double SampleRate() const override { return rate_; }
    bool Start(fluid_synth_t* synth) override;
    void Wake() override;

private:
    void Pause() override { DropResult(pa_stream_cork(stream_, 1, nullptr, nullptr)); }
    void DropQueued() override { DropResult(pa_stream_flush(stream_, nullptr, nullptr)); }
    void Resume() override { DropResult(pa_stream_cork(stream_, 0, nullptr, nullptr)); }

    void Close();
    bool WaitFor(bool (*ready)(PulseOut*));
    void Render(size_t bytes);

    static void OnContextState(pa_context* c, void* self);
    static void OnServerInfo(pa_context* c, const pa_server_info* info, void* self);
    static void OnSinkInfo(pa_context* c, const pa_sink_info* info, int eol, void* self);
    static void OnStreamState(pa_stream* s, void* self);
    static void OnWrite(pa_stream* s, size_t bytes, void* self);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    double rate_ = kDefaultSampleRate;
    bool gotInfo_ = false;
    bool gotSink_ = false;
    std::string defaultSink_;
    std::unique_ptr<StreamPauser> pauser_;
    std::vector<float> buffer_;
};

void PulseOut::OnContextState(pa_context*, void* self)
{
    pa_threaded_mainloop_signal(static_cast<PulseOut*>(self)->loop_, 0);
}

void PulseOut::OnServerInfo(pa_context*, const pa_server_info* info, void* self)
{
    auto* out = static_cast<PulseOut*>(self);
    if (info && info->sample_spec.rate > 0)
        out->rate_ = info->sample_spec.rate;
    if (info && info->default_sink_name)
        out->defaultSink_ = info->default_sink_name;
    out->gotInfo_ = true;
    pa_threaded_mainloop_signal(out->loop_, 0);
}

void PulseOut::OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self)
{
    auto* out = static_cast<PulseOut*>(self);
    if (!eol && info && info->sample_spec.rate > 0)
        out->rate_ = info->sample_spec.rate;
    if (eol) {
        out->gotSink_ = true;
        pa_threaded_mainloop_signal(out->loop_, 0);
    }
}

void PulseOut::OnStreamState(pa_stream*, void* self)
{
    pa_threaded_mainloop_signal(static_cast<PulseOut*>(self)->loop_, 0);
}

void PulseOut::OnWrite(pa_stream*, size_t bytes, void* self)
{
    static_cast<PulseOut*>(self)->Render(bytes);
}

/* Waits, with the loop locked, until ready() or a failure of the context or
   the stream. */
bool PulseOut::WaitFor(bool (*ready)(PulseOut*))
{
    for (;;) {
        if (ready(this))
            return true;
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
            return false;
        if (stream_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
            return false;
        pa_threaded_mainloop_wait(loop_);
    }
}

bool PulseOut::Open()
{
    loop_ = pa_threaded_mainloop_new();
    if (!loop_)
        return false;
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Strellan");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "strellan");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Strellan", props);
    pa_proplist_free(props);
    if (!context_)
        return false;
    pa_context_set_state_callback(context_, OnContextState, this);

    /* No autospawn: a desktop without a sound server falls back to ALSA
       rather than growing one. */
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return false;
    pa_threaded_mainloop_lock(loop_);
    bool ok = pa_threaded_mainloop_start(loop_) >= 0 && WaitFor([](PulseOut* p) {
                  return pa_context_get_state(p->context_) == PA_CONTEXT_READY;
              });
    if (ok) {
        /* The rate the sink really runs at (else the server's default):
           no resampling on the way. */
        if (pa_operation* op = pa_context_get_server_info(context_, OnServerInfo, this)) {
            WaitFor([](PulseOut* p) { return p->gotInfo_; });
            pa_operation_unref(op);
        }
        if (!defaultSink_.empty()) {
            if (pa_operation* op = pa_context_get_sink_info_by_name(context_, defaultSink_.c_str(),
                                                                    OnSinkInfo, this)) {
                WaitFor([](PulseOut* p) { return p->gotSink_; });
                pa_operation_unref(op);
            }
        }
    }
    pa_threaded_mainloop_unlock(loop_);
    return ok;
}

bool PulseOut::Start(fluid_synth_t* synth)
{
    synth_ = synth;
    pa_sample_spec format = {PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(rate_), kChannels};

    pa_threaded_mainloop_lock(loop_);
    stream_ = pa_stream_new(context_, "Reference pitch", &format, nullptr);
    bool ok = stream_ != nullptr;
    if (ok) {
        pa_stream_set_state_callback(stream_, OnStreamState, this);
        pa_stream_set_write_callback(stream_, OnWrite, this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatencyUs, &format));
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(-1);
        /* Start corked, as the pauser does: nothing sounds yet. */
        pauser_ = std::make_unique<StreamPauser>(static_cast<StreamControl&>(*this), rate_);
        auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
        ok =
            pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) >= 0 &&
            WaitFor([](PulseOut* p) { return pa_stream_get_state(p->stream_) == PA_STREAM_READY; });
    }
    pa_threaded_mainloop_unlock(loop_);
    return ok;
}

/* In the stream's thread, loop locked: render what the server asks for,
   interleaved stereo. */
void PulseOut::Render(size_t bytes)
{
    const size_t frames = bytes / (kChannels * sizeof(float));
    if (frames == 0)
        return;
    buffer_.resize(frames * kChannels);
    fluid_synth_write_float(synth_, static_cast<int>(frames), buffer_.data(), 0, kChannels,
                            buffer_.data(), 1, kChannels);
    pa_stream_write(stream_, buffer_.data(), frames * kChannels * sizeof(float), nullptr, 0,
                    PA_SEEK_RELATIVE);
    pauser_->Rendered(frames, fluid_synth_get_active_voice_count(synth_) > 0);
}

void PulseOut::Wake()
{
    pa_threaded_mainloop_lock(loop_);
    if (pauser_)
        pauser_->Wake();
    pa_threaded_mainloop_unlock(loop_);
}

void PulseOut::Close()
{
    if (loop_)
        pa_threaded_mainloop_stop(loop_);
    if (stream_) {
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_)
        pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
    stream_ = nullptr;
    context_ = nullptr;
}

class AlsaOut final : public AudioOut {
public:
    explicit AlsaOut(fluid_settings_t* settings) : settings_(settings) {}
    ~AlsaOut() override
    {
        if (driver_)
            delete_fluid_audio_driver(driver_);
    }
    double SampleRate() const override { return kDefaultSampleRate; }
    bool Start(fluid_synth_t* synth) override
    {
        fluid_settings_setstr(settings_, "audio.driver", "alsa");
        driver_ = new_fluid_audio_driver(settings_, synth);
        return driver_ != nullptr;
    }
    void Wake() override {}

private:
    fluid_settings_t* settings_;
    fluid_audio_driver_t* driver_ = nullptr;
};

} // namespace

std::unique_ptr<AudioOut> OpenPulseOut()
{
    auto out = std::make_unique<PulseOut>();
    if (!out->Open())
        return nullptr;
    return out;
}

std::unique_ptr<AudioOut> MakeAlsaOut(fluid_settings_t* settings)
{
    return std::make_unique<AlsaOut>(settings);
}

} // namespace strellan
