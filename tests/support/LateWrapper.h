#pragma once

#include "tests/support/ShownRows.h"
#include "tools/gamesim/SimScene.h"
#include "video/Video.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

// A recording of the demo game that loaded its wrapper while it ran
// (gamesim --ddraw-after), checked frame by frame. The game's own buffer
// gets frame F, the first drawn into the wrapper's buffer, up to a period
// after the wrapper loaded: frames of the own buffer before F are pictures
// shown before the wrapper came, and any of F or later was read while the
// wrapper's picture existed, which a recorder must not record.

struct LateWrapperFrames
{
    int own = 0;     // of the game's own buffer
    int wrapper = 0; // of the wrapper's
};

// Every frame of `video`, recorded from the demo game of `options` at 640 x
// 480 within its first 10 seconds, is a picture of one of its two buffers;
// those of the game's own buffer are all of frames before F and come before
// any of the wrapper's. The demo may change frames while a picture is read:
// each row must come from frame N or N + 1, for one N, or be torn once
// between them (RowsFromFrames).
inline void CheckLateWrapperRecording(const CVideo& video, const SimOptions& options,
                                      LateWrapperFrames& counts)
{
    constexpr int kWidth = 640, kHeight = 480;
    const CSimScene scene(options);
    const int first = scene.FirstWrapperFrame();
    ASSERT_GE(first, 1) << "the wrapper is not loaded while the game runs";
    const std::size_t frames = 10 * static_cast<std::size_t>(options.fps);
    std::vector<std::vector<std::uint8_t>> own(frames, std::vector<std::uint8_t>(kWidth * kHeight));
    std::vector<std::vector<std::uint8_t>> wrapper = own;
    for (std::size_t n = 0; n < frames; ++n)
    {
        scene.OwnPicture(static_cast<int>(n), own[n].data());
        scene.WrapperPicture(static_cast<int>(n), wrapper[n].data());
    }
    // The first n from `from` whose pictures n and n + 1 give every row.
    const auto match = [](const std::uint8_t* picture,
                          const std::vector<std::vector<std::uint8_t>>& pictures, std::size_t from)
    {
        for (std::size_t n = from; n + 1 < pictures.size(); ++n)
            if (RowsFromFrames(picture, pictures, n, 2, kWidth, kHeight))
                return static_cast<int>(n);
        return -1;
    };

    std::vector<std::uint8_t> picture(kWidth * kHeight);
    counts = LateWrapperFrames{};
    for (int k = 0; k < video.GetFrameCount(); ++k)
    {
        ASSERT_EQ(video.GetFrame(k, picture.data(), false), 1);
        const int ownMatch = match(picture.data(), own, 0);
        const int wrapperMatch =
            match(picture.data(), wrapper, static_cast<std::size_t>(first - 1));
        ASSERT_TRUE(ownMatch >= 0 || wrapperMatch >= 0)
            << "recorded frame " << k << " is no picture of either buffer";
        if (ownMatch < 0)
        {
            ++counts.wrapper;
            continue;
        }
        ++counts.own;
        EXPECT_EQ(counts.wrapper, 0)
            << "recorded frame " << k << " is the game's own buffer after the wrapper's picture";
        EXPECT_LT(ownMatch + 1, first)
            << "recorded frame " << k << " is the game's own buffer of frame " << ownMatch + 1
            << ", drawn after the wrapper loaded";
    }
}
