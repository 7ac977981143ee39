// Export through FFmpeg: decode each recorded frame, enlarge it, turn it
// into the encoder's pixels (the palette colours as 32-bit RGB for FFV1 and
// the YUV encoders, the indices themselves with their palette for GIF),
// encode and mux. Time stamps are in milliseconds (centiseconds for GIF),
// taken from the recording's own, or from a constant rate. The recording's
// sound, where it has one, goes beside the pictures as a stream of the same
// muxer (ExportSound.cpp); the sound-only formats take the same road
// without pictures. The file itself, written atomically, is ExportFile.cpp's.

#include "export/VideoExport.h"

#include "private/ExportFile.h"
#include "private/ExportSound.h"
#include "video/Video.h"

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string_view>
#include <vector>

namespace
{
// What each format is made of: the muxer, the encoder with its options and
// the name of its quality setting, the pixels it takes, the sound's
// encoder. Only H.264 differs between the platforms: libx264 is Linux's,
// openh264 is a library of its own that runs on every Windows edition (and
// under Wine).
struct FormatInfo
{
    const char* muxer;
    const char* encoder; // null: the sound alone
    AVPixelFormat pixels;
    const char* options = ""; // key=value pairs, ':' between them
    const char* quality = ""; // the options that take ExportOptions::quality, ':' between them
    int defaultQuality = -1;
    std::int64_t maxPixels = 0; // the largest picture the encoder takes; 0: no limit of its own
    int minSide = 0;            // the narrowest picture it encodes, padded up to where smaller
    int timeBase = 1000;        // ticks per second
    bool evenSides = false;
    SoundFormat sound = {};
};

// AAC by FFmpeg's own encoder, for every player that takes H.264 in MP4.
constexpr SoundFormat kAac = {.encoder = "aac", .bitRate = 160000};

// No reordered frames in H.264: with irregular time stamps every player then
// shows the first frame at 0 and each one when it is due (openh264 makes
// none). openh264 has no constant-quality mode; its quantiser held at one
// value stands in for x264's CRF, on the same 0-51 scale.
#ifdef _WIN32
constexpr FormatInfo kMp4 = {.muxer = "mp4",
                             .encoder = "libopenh264",
                             .pixels = AV_PIX_FMT_YUV420P,
                             .options = "rc_mode=quality:allow_skip_frames=0",
                             .quality = "qmin:qmax",
                             .defaultQuality = 18,
                             .maxPixels = 9437184, // its own check, whatever the level
                             .minSide = 16,        // a whole macroblock each way
                             .evenSides = true,
                             .sound = kAac};
#else
constexpr FormatInfo kMp4 = {.muxer = "mp4",
                             .encoder = "libx264",
                             .pixels = AV_PIX_FMT_YUV420P,
                             .options = "preset=veryfast:bf=0",
                             .quality = "crf",
                             .defaultQuality = 18,
                             .evenSides = true,
                             .sound = kAac};
#endif
constexpr FormatInfo kWebM = {.muxer = "webm",
                              .encoder = "libvpx-vp9",
                              .pixels = AV_PIX_FMT_YUV420P,
                              .options = "deadline=realtime:cpu-used=8:row-mt=1:b=0",
                              .quality = "crf",
                              .defaultQuality = 30,
                              .evenSides = true,
                              .sound = {.encoder = "libopus", .bitRate = 128000, .rate = 48000}};
// Lossless both: the sound as FLAC of the recorded samples.
constexpr FormatInfo kMkv = {.muxer = "matroska",
                             .encoder = "ffv1",
                             .pixels = AV_PIX_FMT_BGR0,
                             .options = "level=3",
                             .sound = {.encoder = "flac"}};
constexpr FormatInfo kGif = {.muxer = "gif",
                             .encoder = "gif",
                             .pixels = AV_PIX_FMT_PAL8,
                             .timeBase = 100}; // GIF counts in centiseconds; it has no sound
constexpr FormatInfo kFlac = {
    .muxer = "flac", .encoder = nullptr, .pixels = AV_PIX_FMT_NONE, .sound = {.encoder = "flac"}};
constexpr FormatInfo kWav = {.muxer = "wav",
                             .encoder = nullptr,
                             .pixels = AV_PIX_FMT_NONE,
                             .sound = {.encoder = "pcm_s16le"}};

const FormatInfo& InfoOf(ExportFormat format)
{
    switch (format)
    {
    case ExportFormat::Mp4:
        return kMp4;
    case ExportFormat::WebM:
        return kWebM;
    case ExportFormat::Mkv:
        return kMkv;
    case ExportFormat::Gif:
        return kGif;
    case ExportFormat::Flac:
        return kFlac;
    case ExportFormat::Wav:
        return kWav;
    }
    return kMp4;
}

// What to say when the H.264 encoder is missing or refuses: the other
// formats are made by other encoders and may well work.
std::string EncoderFailure(const FormatInfo& info, const std::string& what)
{
    if (&info != &kMp4)
        return what;
    return what + "; WebM, MKV and GIF files are made without it";
}

// The recorded picture's size and the encoded one's.
struct Geometry
{
    int width = 0, height = 0; // as recorded
    int scale = 1;
    int outW = 0, outH = 0; // enlarged, and padded where the encoder needs it
};

Geometry GeometryOf(const CVideo& video, const FormatInfo& info, int scale)
{
    Geometry size;
    size.width = video.GetWidth();
    size.height = video.GetHeight();
    size.scale = scale;
    const int scaledW = size.width * scale, scaledH = size.height * scale;
    // H.264 and VP9 in 4:2:0 need even sides: the picture gets one more
    // column or row, a copy of its last one; so it grows where an encoder
    // takes no smaller picture.
    size.outW = std::max(info.evenSides ? (scaledW + 1) & ~1 : scaledW, info.minSide);
    size.outH = std::max(info.evenSides ? (scaledH + 1) & ~1 : scaledH, info.minSide);
    return size;
}

// The output frames: which recorded frame each shows, and from when.
struct FramePlan
{
    std::vector<std::pair<int, std::int64_t>> frames; // (recorded frame, time in ticks)
    AVRational timeBase{1, 1000};
    std::int64_t end = 0; // the tick at which the last frame stops showing
};

FramePlan PlanFrames(const CVideo& video, int first, int last, const ExportOptions& options,
                     const FormatInfo& info)
{
    FramePlan plan;
    const double start = static_cast<double>(video.GetFrameTime(first - 1));
    const auto seconds = [&](int n)
    {
        const double t = static_cast<double>(video.GetFrameTime(n - 1)) - start;
        return std::isfinite(t) && t > 0 ? t : 0.0;
    };
    double end = 0; // when the last frame stops showing
    if (first < last)
        end = seconds(last) + (seconds(last) - seconds(last - 1));
    if (!(end > seconds(last)))
        end = seconds(last) + 1.0 / 30;
    if (options.fps > 0)
    {
        const auto count = static_cast<std::int64_t>(std::ceil(end * options.fps - 1e-9));
        int n = first;
        for (std::int64_t k = 0; k < std::max<std::int64_t>(count, 1); ++k)
        {
            const double at = static_cast<double>(k) / options.fps;
            while (n < last && seconds(n + 1) <= at)
                ++n;
            plan.frames.emplace_back(n, k);
        }
        plan.timeBase = {1, options.fps};
        plan.end = plan.frames.back().second + 1;
        return plan;
    }
    std::int64_t previous = -1;
    for (int n = first; n <= last; ++n)
    {
        // Time stamps that run backwards or repeat are moved one tick on.
        std::int64_t at = static_cast<std::int64_t>(std::llround(seconds(n) * info.timeBase));
        at = std::max(at, previous + 1);
        plan.frames.emplace_back(n, at);
        previous = at;
    }
    plan.timeBase = {1, info.timeBase};
    // The last frame lasts as long as the one before it.
    plan.end = std::max<std::int64_t>(previous + 1, std::llround(end * info.timeBase));
    return plan;
}

// Owners of FFmpeg's objects and of the file they write, freed in any order
// of leaving. The file, declared first, goes last.
struct OutputContext
{
    OutputContext(const std::string& path, const CSoundTrack& track) : file(path), sound(track) {}
    OutputContext(const OutputContext&) = delete;
    OutputContext& operator=(const OutputContext&) = delete;

    CExportFile file;
    AVFormatContext* format = nullptr; // the file's
    AVStream* stream = nullptr;        // the format's
    AVCodecContext* codec = nullptr;
    AVFrame* frame = nullptr;
    AVFrame* rgb = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
    // How long each frame shows, by its time stamp: not every encoder hands
    // a frame's duration on to its packet, and the container needs the last
    // one's to end the video where the recording ends.
    std::map<std::int64_t, std::int64_t> durations;
    bool writeFailed = false; // the last failure was the muxer's, not the encoder's
    CExportSound sound;
    bool withSound = false;
    ~OutputContext()
    {
        sws_freeContext(scaler);
        av_packet_free(&packet);
        av_frame_free(&rgb);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
    }
};

// The encoder's options: speed, quality, and what players need.
AVDictionary* EncoderSettings(const FormatInfo& info, int quality)
{
    AVDictionary* settings = nullptr;
    av_dict_parse_string(&settings, info.options, "=", ":", 0);
    const int value = quality >= 0 ? quality : info.defaultQuality;
    for (std::string_view keys = info.quality; value >= 0 && !keys.empty();)
    {
        const std::size_t end = std::min(keys.find(':'), keys.size());
        av_dict_set_int(&settings, std::string(keys.substr(0, end)).c_str(), value, 0);
        keys.remove_prefix(std::min(end + 1, keys.size()));
    }
    return settings;
}

// The muxer, its stream and the opened encoder; nothing is written yet.
bool OpenEncoder(OutputContext& ctx, const FormatInfo& info, const Geometry& size,
                 const FramePlan& plan, const ExportOptions& options, std::string& error)
{
    const AVCodec* encoder = avcodec_find_encoder_by_name(info.encoder);
    if (encoder == nullptr)
    {
        error = EncoderFailure(info, std::string("this FFmpeg has no ") + info.encoder);
        return false;
    }
    if (!ctx.file.Create(info.muxer, error))
        return false;
    ctx.format = ctx.file.Format();
    ctx.stream = avformat_new_stream(ctx.format, nullptr);
    ctx.codec = avcodec_alloc_context3(encoder);
    ctx.frame = av_frame_alloc();
    ctx.rgb = av_frame_alloc();
    ctx.packet = av_packet_alloc();
    if (ctx.stream == nullptr || !ctx.codec || !ctx.frame || !ctx.rgb || !ctx.packet)
    {
        error = "out of memory";
        return false;
    }
    ctx.codec->width = size.outW;
    ctx.codec->height = size.outH;
    ctx.codec->pix_fmt = info.pixels;
    ctx.codec->time_base = plan.timeBase;
    ctx.codec->framerate = options.fps > 0 ? AVRational{options.fps, 1} : AVRational{0, 1};
    ctx.codec->sample_aspect_ratio = {1, 1};
    if (ctx.format->oformat->flags & AVFMT_GLOBALHEADER)
        ctx.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* settings = EncoderSettings(info, options.quality);
    const int result = avcodec_open2(ctx.codec, encoder, &settings);
    av_dict_free(&settings);
    if (result < 0)
    {
        std::string what =
            "the " + std::string(info.encoder) + " encoder refused: " + AvError(result);
        const std::int64_t pixels = std::int64_t{size.outW} * size.outH;
        if (info.maxPixels > 0 && pixels > info.maxPixels)
            what += " (" + std::to_string(size.outW) + " x " + std::to_string(size.outH) +
                    " is more than its " + std::to_string(info.maxPixels) +
                    " pixels; choose a smaller enlargement)";
        error = EncoderFailure(info, what);
        return false;
    }
    avcodec_parameters_from_context(ctx.stream->codecpar, ctx.codec);
    ctx.stream->time_base = plan.timeBase;
    ctx.stream->sample_aspect_ratio = {1, 1};
    return true;
}

// The encoder's frame and, for the YUV encoders, the RGB picture that the
// scaler turns into it.
bool AllocatePictures(OutputContext& ctx, const FormatInfo& info, const Geometry& size)
{
    ctx.frame->format = info.pixels;
    ctx.frame->width = size.outW;
    ctx.frame->height = size.outH;
    if (av_frame_get_buffer(ctx.frame, 0) < 0)
        return false;
    if (info.pixels != AV_PIX_FMT_YUV420P)
        return true;
    ctx.rgb->format = AV_PIX_FMT_BGR0;
    ctx.rgb->width = size.outW;
    ctx.rgb->height = size.outH;
    ctx.scaler = sws_getContext(size.outW, size.outH, AV_PIX_FMT_BGR0, size.outW, size.outH,
                                AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
    return av_frame_get_buffer(ctx.rgb, 0) >= 0 && ctx.scaler != nullptr;
}

// Turns one recorded picture into the encoder's frame: enlarged by
// repeating pixels, the padding a copy of the edge.
bool ConvertPicture(OutputContext& ctx, const FormatInfo& info, const Geometry& size,
                    const std::uint8_t* picture, const std::uint8_t* palette)
{
    // Copied, so that the byte stores below can't be taken to change them:
    // the loop then keeps them in registers.
    const AVPixelFormat pixels = info.pixels;
    const int width = size.width, height = size.height, scale = size.scale;
    const int outW = size.outW, outH = size.outH;
    if (av_frame_make_writable(ctx.frame) < 0)
        return false;
    AVFrame* target = pixels == AV_PIX_FMT_YUV420P ? ctx.rgb : ctx.frame;
    if (pixels == AV_PIX_FMT_YUV420P && av_frame_make_writable(ctx.rgb) < 0)
        return false;
    for (int y = 0; y < outH; ++y)
    {
        const std::uint8_t* row =
            picture + static_cast<std::size_t>(std::min(y / scale, height - 1)) *
                          static_cast<std::size_t>(width);
        std::uint8_t* line = target->data[0] + static_cast<std::ptrdiff_t>(y) * target->linesize[0];
        for (int x = 0; x < outW; ++x)
        {
            const std::uint8_t index = row[std::min(x / scale, width - 1)];
            if (pixels == AV_PIX_FMT_PAL8)
                line[x] = index;
            else
            {
                const std::uint8_t* rgb = palette + 4 * index;
                std::uint8_t* px = line + 4 * x; // blue, green, red, unused
                px[0] = rgb[2];
                px[1] = rgb[1];
                px[2] = rgb[0];
                px[3] = 0;
            }
        }
    }
    if (pixels == AV_PIX_FMT_PAL8)
    {
        auto* colours = reinterpret_cast<std::uint32_t*>(ctx.frame->data[1]);
        for (int c = 0; c < 256; ++c)
            colours[c] = 0xFF000000u | std::uint32_t{palette[4 * c]} << 16 |
                         std::uint32_t{palette[4 * c + 1]} << 8 | palette[4 * c + 2];
    }
    else if (pixels == AV_PIX_FMT_YUV420P)
        sws_scale(ctx.scaler, ctx.rgb->data, ctx.rgb->linesize, 0, outH, ctx.frame->data,
                  ctx.frame->linesize);
    return true;
}

// Sends `frame` (null: the end) and writes every packet the encoder gives.
int Drain(OutputContext& out, AVFrame* frame)
{
    int result = avcodec_send_frame(out.codec, frame);
    if (result < 0)
        return result;
    for (;;)
    {
        result = avcodec_receive_packet(out.codec, out.packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return 0;
        if (result < 0)
            return result;
        if (out.packet->duration <= 0)
        {
            const auto known = out.durations.find(out.packet->pts);
            if (known != out.durations.end())
                out.packet->duration = known->second;
        }
        av_packet_rescale_ts(out.packet, out.codec->time_base, out.stream->time_base);
        out.packet->stream_index = out.stream->index;
        result = av_interleaved_write_frame(out.format, out.packet);
        out.writeFailed = result < 0;
        if (result < 0)
            return result;
    }
}

// Why Drain failed: the file could not be written, or the encoder gave up.
std::string DrainFailure(const OutputContext& ctx, const FormatInfo& info, const std::string& out,
                         int result)
{
    if (ctx.writeFailed)
        return WriteError(out, AvError(result));
    return EncoderFailure(info, "the " + std::string(info.encoder) +
                                    " encoder failed: " + AvError(result));
}

// The plan's tick `at` in seconds into the export.
double SecondsOf(const FramePlan& plan, std::int64_t at)
{
    return static_cast<double>(at) * plan.timeBase.num / plan.timeBase.den;
}

// Adds the sound's stream where the format carries sound, the recording has
// some and the caller did not leave it out. Before the header is written.
bool OpenSound(OutputContext& ctx, const CVideo& video, const FormatInfo& info, int first,
               const FramePlan& plan, const ExportOptions& options, std::string& error)
{
    ctx.withSound = info.sound.encoder != nullptr && options.sound && !video.GetSound().Empty();
    if (!ctx.withSound)
        return true;
    const double from = static_cast<double>(video.GetFrameTime(first - 1));
    return ctx.sound.Open(ctx.format, info.sound, std::isfinite(from) ? from : 0.0,
                          SecondsOf(plan, plan.end), error);
}

// The sound up to where the frame ending at `next` stops showing, and the
// progress after that frame: false, with the reason, on a failure or when
// the caller cancels.
bool SoundAndProgress(OutputContext& ctx, const FramePlan& plan, std::int64_t next, int done,
                      const std::function<bool(int, int)>& progress, std::string& error)
{
    const int result = ctx.withSound ? ctx.sound.WriteUntil(SecondsOf(plan, next)) : 0;
    if (result < 0)
    {
        error = ctx.sound.Failure(result, ctx.file.Path());
        return false;
    }
    if (progress && !progress(done, static_cast<int>(plan.frames.size())))
    {
        error = "cancelled";
        return false;
    }
    return true;
}

// Encodes and writes every planned frame, decoding a recorded frame only
// when the plan moves on to another.
bool EncodeFrames(OutputContext& ctx, const CVideo& video, const std::string& out,
                  const FormatInfo& info, const Geometry& size, const FramePlan& plan,
                  const ExportOptions& options, const std::function<bool(int, int)>& progress,
                  std::string& error)
{
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(size.width) *
                                      static_cast<std::size_t>(size.height));
    std::uint8_t palette[kPaletteBytes];
    int shown = -1;
    const int total = static_cast<int>(plan.frames.size());
    for (int i = 0; i < total; ++i)
    {
        const auto [n, at] = plan.frames[static_cast<std::size_t>(i)];
        if (n != shown)
        {
            if (!video.GetFrame(n - 1, picture.data(), options.cursor) ||
                !video.GetPalette(n - 1, palette))
                std::fill(std::begin(palette), std::end(palette), std::uint8_t{0});
            shown = n;
        }
        if (!ConvertPicture(ctx, info, size, picture.data(), palette))
        {
            error = "out of memory";
            return false;
        }
        const std::int64_t next =
            i + 1 < total ? plan.frames[static_cast<std::size_t>(i) + 1].second : plan.end;
        ctx.frame->pts = at;
        ctx.frame->pkt_duration = next - at;
        ctx.durations[at] = next - at;
        const int result = Drain(ctx, ctx.frame);
        if (result < 0)
        {
            error = DrainFailure(ctx, info, out, result);
            return false;
        }
        if (!SoundAndProgress(ctx, plan, next, i + 1, progress, error))
            return false;
    }
    return true;
}

// The sound alone, in the same steps as the frames it goes with, so that
// progress and cancel come as often as for a video.
bool EncodeSoundAlone(OutputContext& ctx, const FramePlan& plan,
                      const std::function<bool(int, int)>& progress, std::string& error)
{
    const auto total = plan.frames.size();
    for (std::size_t i = 0; i < total; ++i)
        if (!SoundAndProgress(ctx, plan, i + 1 < total ? plan.frames[i + 1].second : plan.end,
                              static_cast<int>(i) + 1, progress, error))
            return false;
    return true;
}

// Flushes the encoders, ends the container and gives the file its name.
bool FinishFile(OutputContext& ctx, const FormatInfo& info, const std::string& out,
                std::string& error)
{
    int result = ctx.codec != nullptr ? Drain(ctx, nullptr) : 0;
    if (result < 0)
    {
        error = DrainFailure(ctx, info, out, result);
        return false;
    }
    result = ctx.withSound ? ctx.sound.Finish() : 0;
    if (result < 0)
    {
        error = ctx.sound.Failure(result, out);
        return false;
    }
    return ctx.file.Finish(error);
}

// The sound-only formats: the recording's sound over the span of frames
// first..last, and nothing else.
bool ExportSoundAlone(const CVideo& video, const std::string& out, const FormatInfo& info,
                      int first, const FramePlan& plan, const ExportOptions& options,
                      const std::function<bool(int, int)>& progress, std::string& error)
{
    if (video.GetSound().Empty())
    {
        error = "the recording has no sound";
        return false;
    }
    if (!options.sound)
    {
        error = "the sound is left out, and the file holds nothing else";
        return false;
    }
    OutputContext ctx(out, video.GetSound());
    if (!ctx.file.Create(info.muxer, error))
        return false;
    ctx.format = ctx.file.Format();
    return OpenSound(ctx, video, info, first, plan, options, error) && ctx.file.Open(error) &&
           EncodeSoundAlone(ctx, plan, progress, error) && FinishFile(ctx, info, out, error);
}
} // namespace

bool ExportVideo(const CVideo& video, const std::string& out, ExportFormat format,
                 const ExportOptions& options, const std::function<bool(int, int)>& progress,
                 std::string& error)
{
    const int frames = video.GetFrameCount();
    const int first = std::max(options.first, 1), last = std::min(options.last, frames);
    if (first > last)
    {
        error = "no frames to export";
        return false;
    }
    if (options.scale < 1 || options.scale > kMaxExportScale || options.fps < 0 ||
        options.fps > kMaxExportFps)
    {
        error = "scale or frame rate out of range";
        return false;
    }
    // The encoders' statistics and complaints are not ours to print: what
    // failed is said in `error`.
    av_log_set_level(AV_LOG_FATAL);
    const FormatInfo& info = InfoOf(format);
    const FramePlan plan = PlanFrames(video, first, last, options, info);
    if (info.encoder == nullptr)
        return ExportSoundAlone(video, out, info, first, plan, options, progress, error);
    const Geometry size = GeometryOf(video, info, options.scale);

    OutputContext ctx(out, video.GetSound());
    if (!OpenEncoder(ctx, info, size, plan, options, error) ||
        !OpenSound(ctx, video, info, first, plan, options, error) || !ctx.file.Open(error))
        return false;
    if (!AllocatePictures(ctx, info, size))
    {
        error = "out of memory";
        return false;
    }
    return EncodeFrames(ctx, video, out, info, size, plan, options, progress, error) &&
           FinishFile(ctx, info, out, error);
}
