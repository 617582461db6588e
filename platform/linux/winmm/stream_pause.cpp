/*
 * stream_pause.cpp - the silence counted in rendered frames, and when the
 * stream pauses and resumes.
 */
#include "platform/linux/winmm/stream_pause.h"

#include <cmath>

namespace strellan {

StreamPauser::StreamPauser(StreamControl& stream, double sampleRate)
    : stream_(stream), silenceFramesBeforePause_(static_cast<std::size_t>(
                           std::lround(sampleRate * kSilenceBeforePauseSeconds)))
{
}

void StreamPauser::Rendered(std::size_t frames, bool sounding)
{
    if (sounding) {
        silentFrames_ = 0;
        return;
    }
    silentFrames_ += frames;
    if (!paused_ && silentFrames_ >= silenceFramesBeforePause_) {
        paused_ = true;
        stream_.Pause();
    }
}

void StreamPauser::Reset()
{
    paused_ = true;
    silentFrames_ = 0;
}

void StreamPauser::Wake(bool sounding)
{
    silentFrames_ = 0;
    if (paused_ && sounding) {
        paused_ = false;
        stream_.DropQueued();
        stream_.Resume();
    }
}

} // namespace strellan
