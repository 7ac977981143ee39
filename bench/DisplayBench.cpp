// The display path of the playback loop, without a window: the manager
// decodes a stored frame into its frame buffer behind the colour table, an
// indexed image is laid over the buffer and converted to colours once, and
// that picture is painted 1:1 as in the main dialog and stretched with
// nearest-pixel sampling as in the detached window, onto an image the size
// of the target. BM_ShowFrameIndexed paints the indexed image itself, as the
// dialog did before, so that one run gives both.
//
//   build/release/bin/display_bench
//
// A paint of the target is checked once against the stored frame, so a
// wrong picture fails the benchmark instead of timing it.

#include "manager/VideoManager.h"
#include "tools/gamesim/RtsScene.h"
#include "ui/qt/DisplayImage.h"
#include "video/Video.h"

#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

namespace
{
constexpr int kFrames = 120;

// The manager with a video of the benchmark scene in place.
std::unique_ptr<CVideoManager> MakeManager()
{
    auto manager = std::make_unique<CVideoManager>();
    const CRtsScene scene(640, 480, 7);
    auto video = std::make_unique<CVideo>();
    video->SetGeometry(640, 640, 480, 0, 0);
    std::vector<std::uint8_t> picture(640 * 480);
    for (int n = 0; n < kFrames; ++n)
    {
        scene.Render(n, picture.data());
        video->AddFrame(scene.Cursor(n), scene.Palette(), picture.data());
    }
    manager->InstallLoadedVideo(std::move(video));
    return manager;
}

// The shown frame as the dialog lays it over the frame buffer.
QImage FrameImage(CVideoManager& manager, int index)
{
    return DisplayImage(manager.GetFrame(index));
}

void Paint(QImage& target, const QImage& frame)
{
    QPainter painter(&target);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (target.size() == frame.size())
        painter.drawImage(QPoint(0, 0), frame);
    else
        painter.drawImage(target.rect(), frame, frame.rect());
}

// As the dialog shows a frame: the indexed image converted once, then painted.
void Show(QImage& target, CVideoManager& manager, int index, QImage& shown)
{
    ConvertForShowing(FrameImage(manager, index), shown);
    Paint(target, shown);
}

// Painted through `shown` when given, else the indexed image itself.
bool PaintsTheFrame(CVideoManager& manager, QImage& target, QImage* shown = nullptr)
{
    const QImage frame = FrameImage(manager, 5);
    if (frame.isNull())
        return false;
    if (shown != nullptr)
        Show(target, manager, 5, *shown);
    else
        Paint(target, frame);
    const int sx = 321, sy = 207; // a source pixel and where it lands
    const int tx = sx * target.width() / 640 + target.width() / 1280;
    const int ty = sy * target.height() / 480 + target.height() / 960;
    return target.pixel(tx, ty) == frame.pixel(sx, sy);
}

void BM_ShowFrame(benchmark::State& state)
{
    auto manager = MakeManager();
    QImage target(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                  QImage::Format_RGB32);
    QImage shown;
    if (!PaintsTheFrame(*manager, target, &shown))
    {
        state.SkipWithError("the painted picture is not the stored frame");
        return;
    }
    int index = 0;
    for (auto _ : state)
    {
        Show(target, *manager, index, shown);
        index = (index + 1) % kFrames;
        benchmark::DoNotOptimize(target.constBits());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ShowFrameIndexed(benchmark::State& state)
{
    auto manager = MakeManager();
    QImage target(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                  QImage::Format_RGB32);
    if (!PaintsTheFrame(*manager, target))
    {
        state.SkipWithError("the painted picture is not the stored frame");
        return;
    }
    int index = 0;
    for (auto _ : state)
    {
        Paint(target, FrameImage(*manager, index));
        index = (index + 1) % kFrames;
        benchmark::DoNotOptimize(target.constBits());
    }
    state.SetItemsProcessed(state.iterations());
}
} // namespace

// 1:1 in the dialog; stretched in a detached window of twice the size and
// of a full-HD screen.
BENCHMARK(BM_ShowFrame)
    ->Args({640, 480})
    ->Args({1280, 960})
    ->Args({1920, 1080})
    ->UseRealTime(); // the toolkit spreads a paint over threads
BENCHMARK(BM_ShowFrameIndexed)
    ->Args({640, 480})
    ->Args({1280, 960})
    ->Args({1920, 1080})
    ->UseRealTime();

BENCHMARK_MAIN();
