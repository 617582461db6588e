// When the sound stream pauses and resumes: after 200 ms of rendered
// silence, and at the next message that sounds, dropping the stale silence
// first.
#include "platform/linux/winmm/stream_pause.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class RecordingStream : public strellan::StreamControl {
public:
    void Pause() override { calls.push_back("pause"); }
    void DropQueued() override { calls.push_back("drop"); }
    void Resume() override { calls.push_back("resume"); }
    std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

TEST(StreamPause, StartsPausedAndTheFirstMessageResumesWithNothingStale)
{
    RecordingStream stream;
    strellan::StreamPauser pauser(stream, 48000);
    EXPECT_TRUE(pauser.paused());
    pauser.Wake(false); // the program change: nothing to hear yet
    EXPECT_TRUE(stream.calls.empty());
    pauser.Wake(true); // the note
    EXPECT_EQ(stream.calls, (Calls{"drop", "resume"}));
    pauser.Wake(true); // already running: nothing more
    EXPECT_EQ(stream.calls, (Calls{"drop", "resume"}));
}

TEST(StreamPause, PausesAfter200MsOfSilenceAtAnyRate)
{
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        SCOPED_TRACE(rate);
        RecordingStream stream;
        strellan::StreamPauser pauser(stream, rate);
        pauser.Wake(true);
        stream.calls.clear();

        const auto frames200ms = static_cast<std::size_t>(rate / 5);
        pauser.Rendered(480, true); // a note sounding
        // 199 ms and some of silence: the reverb's tail may still come.
        pauser.Rendered(frames200ms - 1, false);
        EXPECT_TRUE(stream.calls.empty());
        pauser.Rendered(1, false);
        EXPECT_EQ(stream.calls, Calls{"pause"});
        EXPECT_TRUE(pauser.paused());
        pauser.Rendered(frames200ms, false); // once
        EXPECT_EQ(stream.calls, Calls{"pause"});
    }
}

TEST(StreamPause, SoundOrAMessageStartsTheSilenceAgain)
{
    RecordingStream stream;
    strellan::StreamPauser pauser(stream, 48000);
    pauser.Wake(true);
    stream.calls.clear();

    pauser.Rendered(9000, false);
    pauser.Rendered(64, true); // a voice again
    pauser.Rendered(9000, false);
    EXPECT_TRUE(stream.calls.empty());
    pauser.Wake(false); // Stop while running: the silence counts from here
    pauser.Rendered(9599, false);
    EXPECT_TRUE(stream.calls.empty());
    pauser.Rendered(1, false);
    EXPECT_EQ(stream.calls, Calls{"pause"});

    // The next Play after the pause: stale silence dropped, then resumed.
    pauser.Wake(true);
    EXPECT_EQ(stream.calls, (Calls{"pause", "drop", "resume"}));
    EXPECT_FALSE(pauser.paused());

    // The server lost mid-note: paused again as at the start, the silence
    // counted afresh, and the next note resumes the new stream.
    pauser.Rendered(9000, false);
    pauser.Reset();
    EXPECT_TRUE(pauser.paused());
    stream.calls.clear();
    pauser.Rendered(9000, false);
    EXPECT_TRUE(stream.calls.empty()) << "a paused stream is not paused again";
    pauser.Wake(true);
    EXPECT_EQ(stream.calls, (Calls{"drop", "resume"}));
    pauser.Rendered(9599, false);
    EXPECT_EQ(stream.calls, (Calls{"drop", "resume"})) << "the silence counts from the note";
}

} // namespace
