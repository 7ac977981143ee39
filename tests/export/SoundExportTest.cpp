// The sound's part of an export as the library's callers meet it: progress
// and cancel reach over the sound's own work, a sound file needs sound, and
// nothing is left behind when an export stops. What the files hold is read
// back by FFmpeg's own tools in tests/cli/test_cli.py.

#include "export/VideoExport.h"
#include "sound/SoundCodec.h"
#include "tests/support/TestTempFolder.h"
#include "video/Video.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace
{
constexpr int kFrames = 30;

// 30 frames of 16 x 16 at 30 a second, and `soundSeconds` of a ramp.
void MakeRecording(CVideo& video, double soundSeconds)
{
    ASSERT_EQ(video.SetGeometry(16, 16, 16, 0, 0), 1);
    std::vector<std::uint8_t> palette(kPaletteBytes, 0x40), picture(16 * 16);
    for (int k = 0; k < kFrames; ++k)
    {
        picture[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(k + 1);
        ASSERT_EQ(video.AddFrame(0, palette.data(), picture.data()), AF_ADDED);
        video.SetFrameTime(k, static_cast<float>(k) / kFrames);
    }
    if (soundSeconds <= 0)
        return;
    const auto frames = static_cast<std::size_t>(soundSeconds * 48000);
    std::vector<std::int16_t> samples(frames * 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(i * 37);
    CSoundBlockWriter writer(48000, 2);
    std::vector<SoundBlock> blocks;
    std::string error;
    ASSERT_TRUE(writer.Add(samples.data(), frames, blocks, error)) << error;
    ASSERT_TRUE(writer.Flush(blocks, error)) << error;
    video.GetSound() = CSoundTrack(48000, 2, -20000);
    for (SoundBlock& block : blocks)
        ASSERT_TRUE(video.GetSound().Append(std::move(block)));
}

std::filesystem::path EmptyFolder(const std::string& name)
{
    const auto folder = TestTempFolder() / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}
} // namespace

TEST(SoundExport, ProgressCountsTheFramesOfTheSpanAlsoForTheSoundAlone)
{
    CVideo video;
    MakeRecording(video, 1.5);
    const auto folder = EmptyFolder("progress");
    for (const auto& [name, format] :
         {std::pair{"s.flac", ExportFormat::Flac}, std::pair{"s.wav", ExportFormat::Wav},
          std::pair{"v.mkv", ExportFormat::Mkv}})
    {
        std::vector<std::pair<int, int>> calls;
        std::string error;
        const std::string out = (folder / name).string();
        ASSERT_TRUE(ExportVideo(
            video, out, format, ExportOptions{},
            [&](int done, int total)
            {
                calls.emplace_back(done, total);
                return true;
            },
            error))
            << name << ": " << error;
        ASSERT_EQ(calls.size(), std::size_t{kFrames}) << name;
        for (int k = 0; k < kFrames; ++k)
            EXPECT_EQ(calls[static_cast<std::size_t>(k)], std::pair(k + 1, kFrames)) << name;
        EXPECT_GT(std::filesystem::file_size(out), 1000u) << name;
    }
}

TEST(SoundExport, CancelInTheMiddleLeavesNothingForEveryFormatWithSound)
{
    CVideo video;
    MakeRecording(video, 1.0);
    const auto folder = EmptyFolder("cancel");
    for (const auto& [name, format] :
         {std::pair{"s.flac", ExportFormat::Flac}, std::pair{"s.wav", ExportFormat::Wav},
          std::pair{"v.mkv", ExportFormat::Mkv}, std::pair{"v.mp4", ExportFormat::Mp4},
          std::pair{"v.webm", ExportFormat::WebM}})
    {
        int last = 0;
        std::string error;
        EXPECT_FALSE(ExportVideo(
            video, (folder / name).string(), format, ExportOptions{},
            [&](int done, int)
            {
                last = done;
                return done < 12;
            },
            error))
            << name;
        EXPECT_EQ(error, "cancelled") << name;
        EXPECT_EQ(last, 12) << name;
        EXPECT_TRUE(std::filesystem::is_empty(folder)) << name;
    }
}

TEST(SoundExport, ASoundFileNeedsTheRecordingsSound)
{
    CVideo silent, loud;
    MakeRecording(silent, 0);
    MakeRecording(loud, 0.5);
    const auto folder = EmptyFolder("refused");
    std::string error;
    EXPECT_FALSE(ExportVideo(silent, (folder / "s.wav").string(), ExportFormat::Wav,
                             ExportOptions{}, {}, error));
    EXPECT_EQ(error, "the recording has no sound");
    ExportOptions noSound;
    noSound.sound = false;
    EXPECT_FALSE(
        ExportVideo(loud, (folder / "s.flac").string(), ExportFormat::Flac, noSound, {}, error));
    EXPECT_NE(error.find("left out"), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    // Pictures without sound are still a video.
    EXPECT_TRUE(ExportVideo(silent, (folder / "v.mkv").string(), ExportFormat::Mkv, ExportOptions{},
                            {}, error))
        << error;
}
