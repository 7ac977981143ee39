#include "private/ExportSound.h"

#include "private/ExportFile.h"

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace
{
// Sample frames of the track read and converted at a time.
constexpr int kReadFrames = 4096;

// The track's own rate where the encoder takes it, else 48 kHz (or, for an
// encoder without that, its first).
int RateFor(const AVCodec& encoder, int rate)
{
    if (encoder.supported_samplerates == nullptr)
        return rate;
    bool has48k = false;
    for (const int* r = encoder.supported_samplerates; *r != 0; ++r)
    {
        if (*r == rate)
            return rate;
        has48k = has48k || *r == 48000;
    }
    return has48k ? 48000 : encoder.supported_samplerates[0];
}

bool TakesLayout(const AVCodec& encoder, const AVChannelLayout& layout)
{
    if (encoder.ch_layouts == nullptr)
        return true;
    for (const AVChannelLayout* l = encoder.ch_layouts; l->nb_channels != 0; ++l)
        if (av_channel_layout_compare(l, &layout) == 0)
            return true;
    return false;
}
} // namespace

CExportSound::CExportSound(const CSoundTrack& track)
    : m_track(track), m_reader(track),
      m_input(static_cast<std::size_t>(kReadFrames) * track.Channels())
{
}

CExportSound::~CExportSound()
{
    if (m_ppConverted != nullptr)
        av_freep(&m_ppConverted[0]);
    av_freep(&m_ppConverted);
    av_audio_fifo_free(m_pQueue);
    swr_free(&m_pResampler);
    av_packet_free(&m_pPacket);
    av_frame_free(&m_pFrame);
    avcodec_free_context(&m_pCodec);
}

int CExportSound::OpenEncoder(const AVCodec& encoder, const SoundFormat& info, int rate,
                              const AVChannelLayout& layout)
{
    avcodec_free_context(&m_pCodec);
    m_pCodec = avcodec_alloc_context3(&encoder);
    if (m_pCodec == nullptr)
        return AVERROR(ENOMEM);
    m_pCodec->sample_fmt =
        encoder.sample_fmts != nullptr ? encoder.sample_fmts[0] : AV_SAMPLE_FMT_S16;
    m_pCodec->sample_rate = rate;
    m_pCodec->bit_rate = info.bitRate;
    m_pCodec->time_base = {1, rate};
    if (m_pFormat->oformat->flags & AVFMT_GLOBALHEADER)
        m_pCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int result = av_channel_layout_copy(&m_pCodec->ch_layout, &layout);
    return result < 0 ? result : avcodec_open2(m_pCodec, &encoder, nullptr);
}

bool CExportSound::Open(AVFormatContext* format, const SoundFormat& info, double fromSeconds,
                        double seconds, std::string& error)
{
    m_pFormat = format;
    m_pEncoderName = info.encoder;
    const AVCodec* encoder = avcodec_find_encoder_by_name(info.encoder);
    if (encoder == nullptr)
    {
        error = std::string("this FFmpeg has no ") + info.encoder + " for the sound";
        return false;
    }
    m_pStream = avformat_new_stream(format, nullptr);
    m_pFrame = av_frame_alloc();
    m_pPacket = av_packet_alloc();
    if (m_pStream == nullptr || !m_pFrame || !m_pPacket)
    {
        error = "out of memory";
        return false;
    }
    const int inRate = static_cast<int>(m_track.Rate());
    const int inChannels = static_cast<int>(m_track.Channels());
    const int rate = info.rate > 0 ? info.rate : RateFor(*encoder, inRate);
    AVChannelLayout inLayout, layout;
    av_channel_layout_default(&inLayout, inChannels);
    av_channel_layout_default(&layout, inChannels);
    if (!TakesLayout(*encoder, layout))
        av_channel_layout_default(&layout, 2); // mixed down by the resampler
    int result = OpenEncoder(*encoder, info, rate, layout);
    // Not every encoder takes every layout of more than two channels that
    // it names no list of (Opus has no 2.1): those get stereo.
    if (result < 0 && layout.nb_channels > 2)
    {
        av_channel_layout_default(&layout, 2);
        result = OpenEncoder(*encoder, info, rate, layout);
    }
    if (result < 0)
    {
        error = "the " + std::string(info.encoder) + " encoder refused the sound (" +
                std::to_string(rate) + " Hz, " + std::to_string(layout.nb_channels) +
                " channels): " + AvError(result);
        return false;
    }
    avcodec_parameters_from_context(m_pStream->codecpar, m_pCodec);
    m_pStream->time_base = m_pCodec->time_base;

    result = swr_alloc_set_opts2(&m_pResampler, &m_pCodec->ch_layout, m_pCodec->sample_fmt, rate,
                                 &inLayout, AV_SAMPLE_FMT_S16, inRate, 0, nullptr);
    if (result < 0 || (result = swr_init(m_pResampler)) < 0)
    {
        error =
            "the sound's conversion to " + std::to_string(rate) + " Hz failed: " + AvError(result);
        return false;
    }
    // An encoder of any frame size gets the reads' size; one that takes no
    // shorter last frame gets it padded with silence.
    const bool variable = (encoder->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
    m_nFrameSize = variable || m_pCodec->frame_size <= 0 ? kReadFrames : m_pCodec->frame_size;
    m_bPadLastFrame = !variable && (encoder->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) == 0;
    m_pQueue = av_audio_fifo_alloc(m_pCodec->sample_fmt, layout.nb_channels,
                                   m_nFrameSize + 2 * kReadFrames);
    m_pFrame->format = m_pCodec->sample_fmt;
    m_pFrame->sample_rate = rate;
    m_pFrame->nb_samples = m_nFrameSize;
    if (m_pQueue == nullptr || av_channel_layout_copy(&m_pFrame->ch_layout, &layout) < 0 ||
        av_frame_get_buffer(m_pFrame, 0) < 0)
    {
        error = "out of memory";
        return false;
    }
    m_nTotal = std::max<std::int64_t>(0, std::llround(seconds * rate));
    m_nNextInput = std::llround(
        (fromSeconds - static_cast<double>(m_track.StartMicroseconds()) / 1e6) * inRate);
    return true;
}

int CExportSound::Fill(std::int64_t frames)
{
    const int channels = m_pCodec->ch_layout.nb_channels;
    while (av_audio_fifo_size(m_pQueue) < frames)
    {
        // Before the track's start and after its end this reads silence; a
        // block that does not decode is silence too, as playback hears it.
        m_reader.Read(m_nNextInput, kReadFrames, m_input.data());
        m_nNextInput += kReadFrames;
        const int room = swr_get_out_samples(m_pResampler, kReadFrames);
        if (room > m_nConvertedFrames)
        {
            if (m_ppConverted != nullptr)
                av_freep(&m_ppConverted[0]);
            av_freep(&m_ppConverted);
            m_nConvertedFrames = 0;
            if (av_samples_alloc_array_and_samples(&m_ppConverted, nullptr, channels, room,
                                                   m_pCodec->sample_fmt, 0) < 0)
                return AVERROR(ENOMEM);
            m_nConvertedFrames = room;
        }
        const auto* in = reinterpret_cast<const std::uint8_t*>(m_input.data());
        const int made =
            swr_convert(m_pResampler, m_ppConverted, m_nConvertedFrames, &in, kReadFrames);
        if (made < 0)
            return made;
        if (av_audio_fifo_write(m_pQueue, reinterpret_cast<void**>(m_ppConverted), made) < made)
            return AVERROR(ENOMEM);
    }
    return 0;
}

int CExportSound::Send(int frames)
{
    AVFrame* frame = nullptr;
    if (frames > 0)
    {
        m_pFrame->nb_samples = m_nFrameSize;
        int result = av_frame_make_writable(m_pFrame);
        if (result < 0)
            return result;
        const int length = m_bPadLastFrame ? m_nFrameSize : frames;
        m_pFrame->nb_samples = length;
        if (av_audio_fifo_read(m_pQueue, reinterpret_cast<void**>(m_pFrame->data), frames) < frames)
            return AVERROR(EINVAL);
        if (length > frames)
            av_samples_set_silence(m_pFrame->data, frames, length - frames,
                                   m_pCodec->ch_layout.nb_channels, m_pCodec->sample_fmt);
        m_pFrame->pts = m_nSent;
        m_nSent += frames;
        frame = m_pFrame;
    }
    int result = avcodec_send_frame(m_pCodec, frame);
    if (result < 0)
        return result;
    for (;;)
    {
        result = avcodec_receive_packet(m_pCodec, m_pPacket);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return 0;
        if (result < 0)
            return result;
        av_packet_rescale_ts(m_pPacket, m_pCodec->time_base, m_pStream->time_base);
        m_pPacket->stream_index = m_pStream->index;
        result = av_interleaved_write_frame(m_pFormat, m_pPacket);
        m_bWriteFailed = result < 0;
        if (result < 0)
            return result;
    }
}

int CExportSound::WriteUntil(double seconds)
{
    return WriteFrames(
        std::min<std::int64_t>(m_nTotal, std::llround(seconds * m_pCodec->sample_rate)));
}

int CExportSound::WriteFrames(std::int64_t until)
{
    while (m_nSent + m_nFrameSize <= until)
    {
        int result = Fill(m_nFrameSize);
        if (result >= 0)
            result = Send(m_nFrameSize);
        if (result < 0)
            return result;
    }
    return 0;
}

int CExportSound::Finish()
{
    int result = WriteFrames(m_nTotal);
    const auto rest = static_cast<int>(m_nTotal - m_nSent);
    if (result >= 0 && rest > 0 && (result = Fill(rest)) >= 0)
        result = Send(rest);
    return result < 0 ? result : Send(0);
}

std::string CExportSound::Failure(int result, const std::string& out) const
{
    if (m_bWriteFailed)
        return WriteError(out, AvError(result));
    return "the " + std::string(m_pEncoderName) +
           " encoder failed on the sound: " + AvError(result);
}
