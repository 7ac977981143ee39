// Video cases that need POSIX process control: a child process with a
// resource limit (address space, file size) or killed in the middle of a
// save, so that the failure happens for real.

#include "TestPictures.h"
#include "video/FileAccess.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testpics;

namespace
{
const std::vector<std::uint8_t> kPalette = MakePalette(1);
} // namespace

#if defined(__SANITIZE_ADDRESS__)
#define TRELLON_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRELLON_ASAN 1
#endif
#endif

TEST(VideoCodec, RunningOutOfMemoryLeavesTheVideoAsItWas)
{
#ifdef TRELLON_ASAN
    GTEST_SKIP() << "an address-space limit and the sanitizer's shadow memory do not mix";
#else
    // In a child process with a small address-space limit, add noise frames
    // (every node new) until memory runs out, then check that the video still
    // holds exactly the frames it reported and that they decode.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        CVideo video;
        if (!video.SetGeometry(640, 640, 480, 0, 0))
            _exit(10);
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = 512ull << 20;
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(11);
        std::vector<std::uint8_t> picture(640 * 480);
        std::vector<std::uint8_t> decoded(640 * 480);
        int result = AF_ADDED, k = 0;
        for (; k < 100000 && result == AF_ADDED; ++k)
        {
            std::uint32_t s = static_cast<std::uint32_t>(k) * 2654435761u + 7;
            for (auto& v : picture)
            {
                s ^= s << 13;
                s ^= s >> 17;
                s ^= s << 5;
                v = static_cast<std::uint8_t>(s);
            }
            const int frames = video.GetFrameCount(), nodes = video.GetNodeCount();
            result = video.AddFrame(0, kPalette.data(), picture.data());
            if (result == AF_NO_MEMORY &&
                (video.GetFrameCount() != frames || video.GetNodeCount() != nodes))
                _exit(12);
        }
        if (result != AF_NO_MEMORY)
            _exit(13);
        // The last frame that went in decodes to its picture.
        std::uint32_t s = static_cast<std::uint32_t>(k - 2) * 2654435761u + 7;
        for (auto& v : picture)
        {
            s ^= s << 13;
            s ^= s >> 17;
            s ^= s << 5;
            v = static_cast<std::uint8_t>(s);
        }
        if (!video.GetFrame(video.GetFrameCount() - 1, decoded.data(), false) || decoded != picture)
            _exit(14);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "child died by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

TEST(VideoFile, FailedSaveKeepsTheEarlierFileAndTheUnsavedFlag)
{
    const std::string path = TempPath("keep.dk2");
    WriteFileBytes(path, {'o', 'l', 'd'});
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        // Writes past 4 KiB fail in the child, as on a full disk.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        CVideo video;
        FillVideo(video, 20);
        const int result = SaveVideoFile(video, path);
        _exit(result == 0 && !video.IsSaved() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFileBytes(path), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_FALSE(std::filesystem::exists(path + ".saving"));
}

TEST(VideoFile, SaveKilledHalfWayLeavesOnlyTheEarlierFile)
{
    const std::filesystem::path folder = TempPath("killed");
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "video.dk2").string();
    WriteFileBytes(path, {'o', 'l', 'd'});
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        CAtomicFile file(path);
        std::string reason;
        std::FILE* stream = file.Open(reason);
        const std::vector<std::uint8_t> bytes(1 << 20, 7);
        if (stream != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size())
            std::fflush(stream);
        raise(SIGKILL); // as kill -9 in the middle of a save
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"video.dk2"});
    EXPECT_EQ(ReadFileBytes(path), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    std::filesystem::remove_all(folder);
}
