/*
 * stream_pause.h - when the sound stream pauses and resumes, so that a
 * silent Strellan costs no CPU and the next note still starts at once.
 */
#ifndef STRELLAN_PLATFORM_LINUX_WINMM_STREAM_PAUSE_H
#define STRELLAN_PLATFORM_LINUX_WINMM_STREAM_PAUSE_H

#include <cstddef>

namespace strellan {

/* What the pauser asks of the stream. */
class StreamControl {
public:
    virtual void Pause() = 0;
    /* Drops what the server holds but has not played yet. */
    virtual void DropQueued() = 0;
    virtual void Resume() = 0;

protected:
    ~StreamControl() = default;
};

/* The stream starts paused. It pauses again once the synthesizer has
   rendered 200 ms of silence after its last voice (the reverb's tail is
   a voice's too), and the first MIDI message after which a voice sounds
   resumes it, first dropping what the server still holds: silence from
   before the pause, which the new note would otherwise queue behind. A
   message that sounds nothing (Play's program change, coming a measuring
   moment before its note) leaves it paused: resumed then, the stream
   would queue its first target length of silence ahead of the note. Not
   thread-safe: the caller holds the stream's lock around every call. */
class StreamPauser {
public:
    static constexpr double kSilenceBeforePauseSeconds = 0.2;

    StreamPauser(StreamControl& stream, double sampleRate);

    /* After rendering: frames rendered, and whether a voice still sounds. */
    void Rendered(std::size_t frames, bool sounding);

    /* A MIDI message arrived; sounding: a voice sounds now. */
    void Wake(bool sounding);

    /* The server lost: paused, as at the start, for the stream to come. */
    void Reset();

    bool paused() const { return paused_; }

private:
    StreamControl& stream_;
    std::size_t silenceFramesBeforePause_;
    std::size_t silentFrames_ = 0;
    bool paused_ = true;
};

} // namespace strellan

#endif
