// A recording of the demo game with its sound, as the recorder makes it
// (the manager with the Linux capture), in a virtual X server with a real
// sound server: the game's beeps are in the recording and another
// program's tone is not; each beep sits where the game's picture showed
// its white square, also after a pause and after the game was restarted.
#include "CaptureLog.h"
#include "GameBesideServer.h"
#include "SoundServer.h"
#include "TonePlayer.h"
#include "manager/VideoManager.h"
#include "sound/SoundCodec.h"
#include "tests/support/TestTempFolder.h"
#include "tools/gamesim/SimLaunch.h"
#include "tools/gamesim/SimSound.h"
#include "video/Journal.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace
{
using namespace std::chrono_literals;
constexpr double kRate = 48000;
constexpr std::uint8_t kSquare = 255; // the palette entry of the game's beep square

class RecordSound : public GameBesideServer
{
protected:
    void StartGame()
    {
        m_game = Spawn({TRELLON_GAMESIM, "--sound", "--fps", "60"});
        ASSERT_GT(m_game, 0);
    }

    // Captures at 100 frames a second for `seconds`.
    static void Record(CVideoManager& manager, std::chrono::milliseconds length)
    {
        auto next = std::chrono::steady_clock::now();
        for (const auto end = next + length; std::chrono::steady_clock::now() < end;)
        {
            manager.CaptureFrame();
            next += 10ms;
            std::this_thread::sleep_until(next);
        }
    }
};

TEST_P(RecordSound, HoldsTheGameBeepsWhereItsPictureShowedThem)
{
    // The other program: this test process, playing 440 Hz all along.
    CTonePlayer other(Tone(440, 0.5));
    std::string why;
    ASSERT_TRUE(other.Open(why)) << why;
    StartGame();
    CVideoManager manager;
    Record(manager, 3500ms);
    ASSERT_GT(manager.GetVideo().GetFrameCount(), 100) << "the game was not recorded";
    EXPECT_EQ(manager.GetSoundState(), CVideoManager::SoundState::Recording)
        << manager.GetSoundProblem();
    // A pause of a second, left out of picture and sound alike.
    manager.PauseRecording();
    std::this_thread::sleep_for(1s);
    manager.ResumeRecording(0.010);
    Record(manager, 2500ms);
    // The game restarted (another process): its sound is followed again.
    Stop(m_game);
    StartGame();
    Record(manager, 3500ms);
    manager.StopRecording();
    other.Close();

    const CVideo& video = manager.GetVideo();
    const CSoundTrack& sound = video.GetSound();
    ASSERT_FALSE(sound.Empty()) << "no sound recorded: " << manager.GetSoundProblem();
    std::printf("%s: %d frames over %.2f s, %.2f s of sound from %.3f s on, %llu bytes\n",
                CSoundServer::Name(GetParam()), video.GetFrameCount(),
                static_cast<double>(video.GetFrameTime(video.GetFrameCount() - 1)), sound.Seconds(),
                static_cast<double>(sound.StartMicroseconds()) / 1e6,
                static_cast<unsigned long long>(sound.CompressedBytes()));
    // The picture's whole time, give or take the last second's block.
    EXPECT_NEAR(sound.TimeOfSample(sound.SampleCount()),
                static_cast<double>(video.GetFrameTime(video.GetFrameCount() - 1)), 0.7);

    // When each square appeared in the picture.
    std::vector<double> squares;
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(video.GetWidth()) *
                                      static_cast<std::size_t>(video.GetHeight()));
    bool white = false;
    for (int f = 0; f < video.GetFrameCount(); ++f)
    {
        ASSERT_EQ(video.GetFrame(f, picture.data(), false), 1);
        const bool now = picture[16 * static_cast<std::size_t>(video.GetWidth()) + 16] == kSquare;
        if (now && !white)
            squares.push_back(static_cast<double>(video.GetFrameTime(f)));
        white = now;
    }
    // When each beep starts in the recorded sound.
    std::vector<std::int16_t> samples(sound.SampleCount() * sound.Channels());
    CSoundReader reader(sound);
    ASSERT_TRUE(reader.Read(0, sound.SampleCount(), samples.data())) << reader.LastProblem();
    // Only whole beeps count: the restarted game's first beep may have begun
    // before the capture took its stream up again, and its start is lost.
    std::vector<double> onsets, left;
    std::size_t quiet = 0, start = 0, last = 0;
    bool inBeep = false;
    const auto endBeep = [&]
    {
        if (inBeep && static_cast<double>(last - start) >= 0.9 * kSimBeepSeconds * kRate)
            onsets.push_back(sound.TimeOfSample(start));
        inBeep = false;
    };
    for (std::size_t i = 0; i < sound.SampleCount(); ++i)
    {
        const double value = samples[2 * i];
        const bool loud = std::abs(value) > 300;
        if (loud && quiet > 4800)
        {
            endBeep();
            inBeep = true;
            start = i;
        }
        if (loud)
            last = i;
        quiet = loud ? 0 : quiet + 1;
        left.push_back(value);
    }
    endBeep();
    ASSERT_GE(squares.size(), 6u);
    ASSERT_GE(onsets.size(), 6u);
    // A square shows in the first frame the recorder took after the game
    // drew it, the game drawing it at its first frame (60 a second) after
    // the beep was heard: up to 17 + 10 ms after the beep, and 20 ms either
    // way for the sound's own timing.
    // A frame the game drew late on a busy machine (under a sanitizer, say)
    // shows its square late: the bound holds for the middle of them and
    // for all but a third.
    std::vector<double> delays;
    for (const double square : squares)
    {
        double nearest = 1e9;
        for (const double onset : onsets)
            if (std::abs(square - onset) < std::abs(nearest))
                nearest = square - onset;
        if (std::abs(nearest) > 0.5)
            continue; // a square whose beep began before the sound was taken up
        delays.push_back(nearest);
        std::printf("%s: square at %.3f s, %.1f ms after its beep\n",
                    CSoundServer::Name(GetParam()), square, nearest * 1000);
    }
    ASSERT_GE(delays.size(), 6u);
    const auto outside = std::count_if(delays.begin(), delays.end(),
                                       [](double d) { return d < -0.020 || d > 0.047; });
    std::sort(delays.begin(), delays.end());
    const double middle = delays[delays.size() / 2];
    EXPECT_GT(middle, -0.020);
    EXPECT_LT(middle, 0.047);
    EXPECT_LE(static_cast<std::size_t>(outside), delays.size() / 3);
    // The game's pitch at its level; the other program's far below.
    // Each beep on its own (their phases against one another depend on
    // where each was cut in), 50 ms of it: 50 whole periods.
    double amplitudes = 0;
    int measured = 0;
    std::vector<double> gaps;
    for (const double onset : onsets)
    {
        const auto at = static_cast<std::size_t>((onset - sound.TimeOfSample(0)) * kRate);
        if (at + 2400 > left.size())
            continue;
        const std::vector<double> beep(left.begin() + static_cast<std::ptrdiff_t>(at),
                                       left.begin() + static_cast<std::ptrdiff_t>(at + 2400));
        amplitudes += Amplitude(beep, 1000, kRate);
        ++measured;
        // From 0.1 s to 0.9 s after it the game is silent: what is there
        // would be the other program's.
        if (at + 43200 <= left.size())
            gaps.insert(gaps.end(), left.begin() + static_cast<std::ptrdiff_t>(at + 4800),
                        left.begin() + static_cast<std::ptrdiff_t>(at + 43200));
    }
    ASSERT_GT(measured, 0);
    const double level = Decibels(amplitudes / measured, 0.5 * 32767);
    ASSERT_FALSE(gaps.empty());
    const double leak = Decibels(Amplitude(gaps, 440, kRate), 0.5 * 32767);
    std::printf("%s: the game's beeps at %.2f dB, the other program at %.1f dB\n",
                CSoundServer::Name(GetParam()), level, leak);
    EXPECT_NEAR(level, 0, 1.0);
    EXPECT_LT(leak, -60);
}

// `trellon record` killed with -9 while the game plays: the journal holds
// the frames and the sound up to its last whole block, and recovery writes
// exactly that into the file.
TEST_P(RecordSound, AKilledRecorderLeavesItsSoundInTheJournal)
{
    StartGame();
    const std::filesystem::path state = TestTempFolder() / "record-sound-state";
    std::filesystem::remove_all(state);
    std::filesystem::create_directories(state);
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    const std::string out = (TestTempFolder() / "record-sound-killed.dk2").string();
    pid_t recorder = Spawn({TRELLON_CLI, "record", out, "--fps", "50", "--wait", "20"});
    unsetenv("XDG_STATE_HOME");
    ASSERT_GT(recorder, 0);
    std::this_thread::sleep_for(4s);
    kill(recorder, SIGKILL);
    ExitCodeOf(recorder);
    ASSERT_FALSE(std::filesystem::exists(out));

    const std::vector<std::string> journals = ListJournals((state / "trellonhd").string());
    ASSERT_EQ(journals.size(), 1u);
    JournalSummary summary;
    std::string error;
    const std::string recovered = (TestTempFolder() / "record-sound-recovered.dk2").string();
    std::filesystem::remove(recovered);
    ASSERT_TRUE(RecoverJournal(journals[0], recovered, summary, error)) << error;
    std::printf("%s: the journal held %d frames and %d sound blocks (%.2f s)\n",
                CSoundServer::Name(GetParam()), summary.frames, summary.soundBlocks,
                static_cast<double>(summary.soundSamples) / kRate);
    EXPECT_GE(summary.soundBlocks, 4);
    CVideo video;
    ASSERT_TRUE(LoadVideoFile(video, recovered, error)) << error;
    EXPECT_EQ(video.GetSound().SampleCount(), summary.soundSamples);
    EXPECT_EQ(video.GetSound().BlockCount(), static_cast<std::size_t>(summary.soundBlocks));
    // At most the last second of sound is lost, as of the picture.
    const double pictureEnd = static_cast<double>(video.GetFrameTime(video.GetFrameCount() - 1));
    EXPECT_GT(video.GetSound().TimeOfSample(video.GetSound().SampleCount()), pictureEnd - 1.0);
    std::vector<std::int16_t> samples(video.GetSound().SampleCount() * 2);
    CSoundReader reader(video.GetSound());
    EXPECT_TRUE(reader.Read(0, video.GetSound().SampleCount(), samples.data()))
        << reader.LastProblem();
}

INSTANTIATE_TEST_SUITE_P(Servers, RecordSound,
                         ::testing::Values(CSoundServer::Kind::PulseAudio,
                                           CSoundServer::Kind::PipeWire),
                         [](const auto& server) { return CSoundServer::Name(server.param); });
} // namespace
