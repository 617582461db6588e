/*
 * audio_out.cpp - the synthesizer's way to the speakers.
 *
 * The PulseAudio stream renders in its own thread (pa_threaded_mainloop),
 * asking the synthesizer for exactly what the server wants, in small
 * periods for a short way from the click to the sound. Once the last voice
 * has died away the stream is corked, so a silent Strellan costs nothing;
 * the next message uncorks it, after dropping what stale silence the server
 * still holds.
 */
#include "platform/linux/audio_out.h"

#include <pulse/pulseaudio.h>

#include <cstdio>
#include <string>
#include <vector>

namespace strellan {

namespace {

/* How much the server holds ahead of what it plays, and how long the
   synthesizer must stay silent before the stream is corked. */
constexpr pa_usec_t kTargetLatencyUs = 10'000;
constexpr pa_usec_t kSilenceBeforePauseUs = 200'000;

class PulseOut final : public AudioOut {
public:
    ~PulseOut() override { Close(); }

    bool Open();
    double SampleRate() const override { return rate_; }
    bool Start(fluid_synth_t* synth) override;
    void Wake() override;

private:
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
    double rate_ = 48000;
    bool gotInfo_ = false;
    bool gotSink_ = false;
    std::string defaultSink_;
    bool corked_ = false;
    size_t silentFrames_ = 0;
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
    pa_sample_spec format = {PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(rate_), 2};

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
        /* Start corked: nothing sounds yet. */
        corked_ = true;
        auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
        ok =
            pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) >= 0 &&
            WaitFor([](PulseOut* p) { return pa_stream_get_state(p->stream_) == PA_STREAM_READY; });
    }
    pa_threaded_mainloop_unlock(loop_);
    return ok;
}

/* In the loop's thread, loop locked: render what the server asks for. */
void PulseOut::Render(size_t bytes)
{
    const size_t frames = bytes / (2 * sizeof(float));
    if (frames == 0)
        return;
    buffer_.resize(frames * 2);
    fluid_synth_write_float(synth_, static_cast<int>(frames), buffer_.data(), 0, 2, buffer_.data(),
                            1, 2);
    pa_stream_write(stream_, buffer_.data(), frames * 2 * sizeof(float), nullptr, 0,
                    PA_SEEK_RELATIVE);

    /* Silent long enough (the reverb's tail included)? Pause. */
    if (fluid_synth_get_active_voice_count(synth_) > 0) {
        silentFrames_ = 0;
        return;
    }
    silentFrames_ += frames;
    if (!corked_ && silentFrames_ >= rate_ * kSilenceBeforePauseUs / 1e6) {
        corked_ = true;
        if (pa_operation* op = pa_stream_cork(stream_, 1, nullptr, nullptr))
            pa_operation_unref(op);
    }
}

void PulseOut::Wake()
{
    pa_threaded_mainloop_lock(loop_);
    silentFrames_ = 0;
    if (corked_ && stream_) {
        corked_ = false;
        /* What the server still holds is silence from before the pause:
           drop it so the new note is not queued behind it. */
        if (pa_operation* op = pa_stream_flush(stream_, nullptr, nullptr))
            pa_operation_unref(op);
        if (pa_operation* op = pa_stream_cork(stream_, 0, nullptr, nullptr))
            pa_operation_unref(op);
    }
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
    explicit AlsaOut(fluid_settings_t* settings) : settings_(settings)
    {
        fluid_settings_getnum(settings_, "synth.sample-rate", &rate_);
    }
    ~AlsaOut() override
    {
        if (driver_)
            delete_fluid_audio_driver(driver_);
    }
    double SampleRate() const override { return rate_; }
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
    double rate_ = 48000;
};

} // namespace

std::unique_ptr<AudioOut> OpenPulseOut()
{
    auto out = std::make_unique<PulseOut>();
    if (!out->Open())
        return nullptr;
    return out;
}

std::unique_ptr<AudioOut> OpenAlsaOut(fluid_settings_t* settings)
{
    return std::make_unique<AlsaOut>(settings);
}

} // namespace strellan
