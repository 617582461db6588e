// Which SoundFont the synthesizer gets when some on the search path are
// missing or broken.
#include "platform/linux/winmm/soundfont.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

class SoundFontTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings = new_fluid_settings();
        synth = new_fluid_synth(settings);
        /* A folder of this test's own: ctest -j runs the tests side by side. */
        dir = ::testing::TempDir() + "strellan-soundfont-test-" + std::to_string(getpid());
        std::filesystem::create_directories(dir);
        for (const std::string& path : strellan::SoundFontSearchPath())
            if (std::filesystem::exists(path)) {
                good = path;
                break;
            }
        ASSERT_FALSE(good.empty()) << "no General MIDI SoundFont installed";
    }
    void TearDown() override
    {
        delete_fluid_synth(synth);
        delete_fluid_settings(settings);
        std::filesystem::remove_all(dir);
    }

    std::string File(const std::string& name, const std::string& bytes)
    {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // What LoadSoundFont says on standard error, and what it loads.
    std::string Load(const std::vector<std::string>& paths, std::string* said)
    {
        ::testing::internal::CaptureStderr();
        std::string loaded = strellan::LoadSoundFont(synth, paths);
        *said = ::testing::internal::GetCapturedStderr();
        return loaded;
    }

    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    std::string dir, good;
};

TEST_F(SoundFontTest, ABrokenOneIsNamedAndTheNextLoads)
{
    const std::string missing = dir + "/not-installed.sf2";
    const std::string garbage = File("garbage.sf2", "RIFF\x10\0\0\0sfbkLIST not a soundfont");
    const std::string empty = File("empty.sf2", "");
    std::string said;
    EXPECT_EQ(Load({missing, garbage, empty, good}, &said), good);
    EXPECT_EQ(said, "strellan: cannot load the SoundFont " + garbage + "; trying the next\n" +
                        "strellan: cannot load the SoundFont " + empty + "; trying the next\n")
        << "a file that is not there is not worth a word";
    EXPECT_EQ(fluid_synth_sfcount(synth), 1);
}

TEST_F(SoundFontTest, TheFirstThatLoadsIsTaken)
{
    std::string said;
    EXPECT_EQ(Load({good, File("garbage.sf2", "xx")}, &said), good);
    EXPECT_EQ(said, "");
}

TEST_F(SoundFontTest, NoneLoadingOrNoneThereIsSaidOnce)
{
    std::string said;
    EXPECT_EQ(Load({File("a.sf2", "a"), File("b.sf2", "b")}, &said), "");
    EXPECT_NE(said.find("no General MIDI SoundFont would load"), std::string::npos) << said;
    EXPECT_EQ(Load({dir + "/none.sf2"}, &said), "");
    EXPECT_EQ(said, "strellan: no General MIDI SoundFont found\n");
    EXPECT_EQ(fluid_synth_sfcount(synth), 0);
}

} // namespace
