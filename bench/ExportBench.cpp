// Export of the benchmark scene (600 frames at 640 x 480, 30 a second) to a
// video file through FFmpeg, per format: frames exported per second.
//
//   build/release/bin/export_bench

#include "tools/gamesim/RtsScene.h"
#include "export/VideoExport.h"
#include "video/Video.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace
{
constexpr int kFrames = 600;

const CVideo& SceneVideo()
{
    static CVideo video;
    if (video.GetFrameCount() == 0)
    {
        const CRtsScene scene(640, 480, 1);
        std::vector<std::uint8_t> picture(640 * 480);
        video.SetGeometry(640, 640, 480, 0, 0);
        for (int k = 0; k < kFrames; ++k)
        {
            scene.Render(k, picture.data());
            video.AddFrame(scene.Cursor(k), scene.Palette(), picture.data());
            video.SetFrameTime(k, static_cast<float>(k) / 30.0f);
        }
    }
    return video;
}

void BM_Export(benchmark::State& state)
{
    const auto format = static_cast<ExportFormat>(state.range(0));
    const char* const names[] = {"mp4", "webm", "mkv", "gif"};
    const std::string out =
        (std::filesystem::temp_directory_path() /
         ("trellon-export-bench-" + std::to_string(getpid()) + "." + names[state.range(0)]))
            .string();
    const CVideo& video = SceneVideo();
    for (auto _ : state)
    {
        std::string error;
        if (!ExportVideo(video, out, format, ExportOptions{}, {}, error))
        {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(kFrames) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    std::filesystem::remove(out);
}
} // namespace

BENCHMARK(BM_Export)
    ->ArgName("format")
    ->Arg(static_cast<int>(ExportFormat::Mp4))
    ->Arg(static_cast<int>(ExportFormat::WebM))
    ->Arg(static_cast<int>(ExportFormat::Mkv))
    ->Arg(static_cast<int>(ExportFormat::Gif))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
