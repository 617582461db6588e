// The MIDI Mapper's pitch correction, on a SoundFont that the test writes
// itself: one looped sine, declared as A4 but really 442 Hz (7.85 cents
// sharp). Played through the synthesizer it must come out in tune; played
// on a plain FluidSynth it would not. And the cache of what was measured:
// kept, trusted only when it is its own, rewritten when it is not.
#include "platform/linux/winmm/pitch_correction.h"
#include "platform/linux/winmm/synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr int kSampleRate = 48000;
constexpr int kCycles = 442; /* in one second: a seamless loop at 442 Hz */
constexpr int kProgram = 26;

class Chunk {
public:
    explicit Chunk(const char* id) : id_(id) {}
    Chunk& u8(int v)
    {
        data_.push_back(static_cast<char>(v));
        return *this;
    }
    Chunk& u16(int v) { return u8(v & 0xFF).u8(v >> 8 & 0xFF); }
    Chunk& u32(std::uint32_t v)
    {
        return u16(static_cast<int>(v & 0xFFFF)).u16(static_cast<int>(v >> 16));
    }
    Chunk& name(const std::string& s, std::size_t size)
    {
        std::string padded = s;
        padded.resize(size, '\0');
        data_ += padded;
        return *this;
    }
    Chunk& raw(const std::string& bytes)
    {
        data_ += bytes;
        return *this;
    }
    Chunk& add(const Chunk& sub)
    {
        data_ += sub.bytes();
        return *this;
    }
    /* id, size, data, padded to an even size. */
    std::string bytes() const
    {
        Chunk out("");
        out.raw(id_).u32(static_cast<std::uint32_t>(data_.size())).raw(data_);
        if (data_.size() % 2)
            out.u8(0);
        return out.data_;
    }

private:
    std::string id_;
    std::string data_;
};

Chunk List(const char* type)
{
    Chunk list("LIST");
    list.raw(type);
    return list;
}

/* A SoundFont 2 with one preset (bank 0, program 26) of one instrument of
   one looped mono sample: a 442 Hz sine declared as A4 (root key 69). */
void WriteSoundFont(const std::string& path)
{
    const int frames = kSampleRate;
    Chunk smpl("smpl");
    for (int i = 0; i < frames; ++i)
        smpl.u16(static_cast<int>(
                     std::lround(16000.0 * std::sin(2 * M_PI * kCycles * i / kSampleRate))) &
                 0xFFFF);
    for (int i = 0; i < 46; ++i) /* the zeros the format asks after a sample */
        smpl.u16(0);

    Chunk phdr("phdr");
    phdr.name("Sine", 20).u16(kProgram).u16(0).u16(0).u32(0).u32(0).u32(0);
    phdr.name("EOP", 20).u16(0).u16(0).u16(1).u32(0).u32(0).u32(0);
    Chunk pbag("pbag");
    pbag.u16(0).u16(0).u16(1).u16(0);
    Chunk pmod("pmod");
    pmod.u16(0).u16(0).u16(0).u16(0).u16(0);
    Chunk pgen("pgen");
    pgen.u16(41).u16(0); /* instrument 0 */
    pgen.u16(0).u16(0);
    Chunk inst("inst");
    inst.name("Sine", 20).u16(0);
    inst.name("EOI", 20).u16(1);
    Chunk ibag("ibag");
    ibag.u16(0).u16(0).u16(2).u16(0);
    Chunk imod("imod");
    imod.u16(0).u16(0).u16(0).u16(0).u16(0);
    Chunk igen("igen");
    igen.u16(54).u16(1); /* sampleModes: loop continuously */
    igen.u16(53).u16(0); /* sampleID 0, last */
    igen.u16(0).u16(0);
    Chunk shdr("shdr");
    shdr.name("Sine", 20).u32(0).u32(frames).u32(0).u32(frames).u32(kSampleRate);
    shdr.u8(69).u8(0).u16(0).u16(1); /* root A4, no correction, mono */
    shdr.name("EOS", 20).u32(0).u32(0).u32(0).u32(0).u32(0).u8(0).u8(0).u16(0).u16(0);

    Chunk ifil("ifil");
    ifil.u16(2).u16(1);
    Chunk isng("isng");
    isng.name("EMU8000", 8);
    Chunk inam("INAM");
    inam.name("Strellan test", 14);
    Chunk riff("RIFF");
    riff.raw("sfbk")
        .add(List("INFO").add(ifil).add(isng).add(inam))
        .add(List("sdta").add(smpl))
        .add(List("pdta")
                 .add(phdr)
                 .add(pbag)
                 .add(pmod)
                 .add(pgen)
                 .add(inst)
                 .add(ibag)
                 .add(imod)
                 .add(igen)
                 .add(shdr));
    std::ofstream(path, std::ios::binary) << riff.bytes();
}

double Cents(double hz, int key)
{
    return 1200 * std::log2(hz / (440 * std::pow(2, (key - 69) / 12.0)));
}

/* The frequency of a sine from its zero crossings, interpolated between
   samples: independent of the detector that the mapper measures with. */
double ZeroCrossingHz(const std::vector<float>& x, std::size_t from)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t i = from + 1; i < x.size(); ++i)
        if (x[i - 1] < 0 && x[i] >= 0) {
            double t = static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0)
                first = t;
            last = t;
            ++crossings;
        }
    return crossings > 1 ? (crossings - 1) * kSampleRate / (last - first) : 0;
}

class PitchCorrectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        /* A folder of this test's own: ctest -j runs the tests side by side. */
        dir = fs::path(::testing::TempDir()) /
              ("strellan-pitch-test-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        soundFont = (dir / "sine.sf2").string();
        cache = (dir / "cache").string();
        WriteSoundFont(soundFont);
    }
    void TearDown() override { fs::remove_all(dir); }

    /* Key struck at 127 on channel 1 after the program change, rendered
       dry for 1.65 s; its pitch from 150 ms on. */
    double PlayedCents(strellan::Synthesizer& s, int key)
    {
        fluid_synth_reverb_on(s.synth(), -1, 0);
        fluid_synth_chorus_on(s.synth(), -1, 0);
        s.Play(0x000000C0 | kProgram << 8);
        s.Play(0x007F0090 | static_cast<DWORD>(key) << 8);
        std::vector<float> left(kSampleRate * 165 / 100), right(left.size());
        fluid_synth_write_float(s.synth(), static_cast<int>(left.size()), left.data(), 0, 1,
                                right.data(), 0, 1);
        s.Play(0x00007BB0);
        fluid_synth_all_sounds_off(s.synth(), -1);
        return Cents(ZeroCrossingHz(left, kSampleRate * 15 / 100), key);
    }

    fs::path dir;
    std::string soundFont, cache;
};

TEST_F(PitchCorrectionTest, TheSoundFontIsAsSharpAsItWasMade)
{
    // What any program that plays it hears: 7.85 cents sharp.
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", kSampleRate);
    fluid_synth_t* synth = new_fluid_synth(settings);
    ASSERT_NE(fluid_synth_sfload(synth, soundFont.c_str(), 1), FLUID_FAILED);
    fluid_synth_program_change(synth, 0, kProgram);
    fluid_synth_noteon(synth, 0, 69, 127);
    std::vector<float> left(kSampleRate), right(kSampleRate);
    fluid_synth_write_float(synth, kSampleRate, left.data(), 0, 1, right.data(), 0, 1);
    EXPECT_NEAR(Cents(ZeroCrossingHz(left, 0), 69), 1200 * std::log2(442.0 / 440.0), 0.05);
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
}

TEST_F(PitchCorrectionTest, ThroughTheSynthesizerEveryKeyIsWithinHalfACent)
{
    strellan::Synthesizer s;
    ASSERT_TRUE(s.Load({soundFont}, cache));
    for (int key : {45, 57, 64, 69, 76, 81}) {
        const double cents = PlayedCents(s, key);
        EXPECT_LE(std::fabs(cents), 0.5) << "key " << key << ": " << cents;
    }
    // And what was measured is what the SoundFont does.
    std::optional<double> error = s.correction()->ErrorCents(0, kProgram, 69);
    ASSERT_TRUE(error);
    EXPECT_NEAR(*error, 1200 * std::log2(442.0 / 440.0), 0.05);
}

TEST_F(PitchCorrectionTest, WhatWasMeasuredIsKeptAndUsedNextTime)
{
    {
        strellan::Synthesizer s;
        ASSERT_TRUE(s.Load({soundFont}, cache));
        PlayedCents(s, 69);
        PlayedCents(s, 0);
        // Kept at once: a run that is killed loses nothing it measured.
        ASSERT_EQ(std::distance(fs::directory_iterator(cache), fs::directory_iterator{}), 1);
    }
    const fs::path file = fs::directory_iterator(cache)->path();
    strellan::PitchTable table(soundFont, kSampleRate, cache);
    ASSERT_TRUE(table.Load());
    EXPECT_EQ(table.path(), file.string());
    EXPECT_EQ(table.size(), 2u) << "the keys struck, and only those";
    EXPECT_NEAR(table.Get({0, kProgram, 69}).value_or(0), 7.85, 0.05);
    EXPECT_TRUE(table.Has({0, kProgram, 0}));
    EXPECT_FALSE(table.Get({0, kProgram, 0})) << "too low to measure: left alone";

    // A table from the cache is what the next run plays by: change it,
    // and the next run plays the change; a key it lacks is measured then.
    table.Set({0, kProgram, 69}, 0.0);
    ASSERT_TRUE(table.Save());
    {
        strellan::Synthesizer s;
        ASSERT_TRUE(s.Load({soundFont}, cache));
        EXPECT_NEAR(PlayedCents(s, 69), 7.85, 0.2);
        EXPECT_LE(std::fabs(PlayedCents(s, 57)), 0.5);
    }
    strellan::PitchTable grown(soundFont, kSampleRate, cache);
    ASSERT_TRUE(grown.Load());
    EXPECT_EQ(grown.size(), 3u);
}

TEST_F(PitchCorrectionTest, ACorruptOrForeignCacheIsIgnoredAndRewritten)
{
    strellan::PitchTable table(soundFont, kSampleRate, cache);
    fs::create_directories(cache);
    const std::string bad[] = {
        "",
        "not a cache at all\n",
        "Strellan pitch cache 1\nsoundfont /elsewhere.sf2 1 2.3\n",
        std::string(4096, '\xff'),
    };
    for (const std::string& contents : bad) {
        std::ofstream(table.path(), std::ios::binary) << contents;
        EXPECT_FALSE(table.Load()) << contents;
        strellan::Synthesizer s;
        ASSERT_TRUE(s.Load({soundFont}, cache));
        EXPECT_LE(std::fabs(PlayedCents(s, 69)), 0.5);
        strellan::PitchTable again(soundFont, kSampleRate, cache);
        EXPECT_TRUE(again.Load()) << "rewritten";
    }
    // A good header with a broken entry is corrupt too.
    ASSERT_TRUE(table.Load());
    std::ofstream(table.path(), std::ios::app) << "0 26 69 twelve\n";
    EXPECT_FALSE(table.Load());
}

TEST_F(PitchCorrectionTest, AChangedSoundFontIsMeasuredAgain)
{
    strellan::PitchTable before(soundFont, kSampleRate, cache);
    // The same file rewritten: another time of change, so another table.
    fs::last_write_time(soundFont, fs::last_write_time(soundFont) + std::chrono::seconds(5));
    strellan::PitchTable after(soundFont, kSampleRate, cache);
    EXPECT_NE(before.path(), after.path());
    strellan::PitchTable otherRate(soundFont, 44100, cache);
    EXPECT_NE(after.path(), otherRate.path());
}

TEST_F(PitchCorrectionTest, AnUnwritableCacheOnlyCostsMeasuringAgain)
{
    // A file where the cache's folder should be: nothing can be written.
    std::ofstream(cache) << "in the way";
    ::testing::internal::CaptureStderr();
    {
        strellan::Synthesizer s;
        ASSERT_TRUE(s.Load({soundFont}, cache));
        EXPECT_LE(std::fabs(PlayedCents(s, 69)), 0.5);
        EXPECT_LE(std::fabs(PlayedCents(s, 57)), 0.5);
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("cannot write the pitch cache"), std::string::npos) << said;
    EXPECT_EQ(said.find("cannot write", said.find("cannot write") + 1), std::string::npos)
        << "said once: " << said;
}

} // namespace
