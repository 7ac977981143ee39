#pragma once

#include "sound/SoundCodec.h"

#include <cstdint>
#include <string>
#include <vector>

struct AVAudioFifo;
struct AVChannelLayout;
struct AVCodec;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwrContext;

// What a format's sound is made of: the encoder, its bit rate (0: lossless)
// and the one rate it is given (0: the recording's where the encoder takes
// that, else 48 kHz).
struct SoundFormat
{
    const char* encoder = nullptr; // null: the format carries no sound
    std::int64_t bitRate = 0;
    int rate = 0;
};

// The recording's sound as one stream of an export's muxer, laid on the
// exported span: the stream's sample 0 is at `fromSeconds` on the video's
// time line, so that the sound starts with the first exported frame, and
// it lasts exactly as long as the exported video (silence where the track
// does not reach, the track's samples before the span left out).
//
// The video's loop calls WriteUntil after each frame with that frame's end,
// so that sound and pictures reach av_interleaved_write_frame side by side
// and the muxer never holds more than a few packets of either; the cancel
// and progress of that loop are then the sound's too. The track's 16-bit
// samples go through libswresample into the encoder's sample format and
// rate (AAC: planar float; Opus: 48 kHz), and a queue cuts them into the
// encoder's frames. Where rate and format are the track's own (FLAC, WAV),
// the conversion is a copy and the stream holds the stored samples exactly.
class CExportSound
{
public:
    explicit CExportSound(const CSoundTrack& track);
    ~CExportSound();
    CExportSound(const CExportSound&) = delete;
    CExportSound& operator=(const CExportSound&) = delete;

    // Adds the stream to `format` (before its header is written) and opens
    // the encoder, for a span of `seconds` from `fromSeconds` on. False,
    // with the reason, when the encoder is missing or refuses.
    bool Open(AVFormatContext* format, const SoundFormat& info, double fromSeconds, double seconds,
              std::string& error);
    // Encodes and writes the sound up to `seconds` into the span, in whole
    // encoder frames. 0, or FFmpeg's negative error code.
    int WriteUntil(double seconds);
    // Writes the rest of the span and what the encoder still holds.
    int Finish();
    // Why WriteUntil or Finish returned `result`: the file could not be
    // written, or the encoder gave up.
    std::string Failure(int result, const std::string& out) const;

private:
    // A new encoder context for `layout`, opened; 0, or FFmpeg's error code.
    int OpenEncoder(const AVCodec& encoder, const SoundFormat& info, int rate,
                    const AVChannelLayout& layout);
    // Sends whole encoder frames while they end at or before sample frame
    // `until` of the span.
    int WriteFrames(std::int64_t until);
    // Converts track samples into the queue until it holds `frames`.
    int Fill(std::int64_t frames);
    // Sends `frames` sample frames from the queue (0: the encoder's end) and
    // writes every packet the encoder gives.
    int Send(int frames);

    const CSoundTrack& m_track;
    CSoundReader m_reader;
    const char* m_pEncoderName = "";
    AVFormatContext* m_pFormat = nullptr; // the file's
    AVStream* m_pStream = nullptr;        // the format's
    AVCodecContext* m_pCodec = nullptr;
    SwrContext* m_pResampler = nullptr;
    AVAudioFifo* m_pQueue = nullptr;
    AVFrame* m_pFrame = nullptr;
    AVPacket* m_pPacket = nullptr;
    std::vector<std::int16_t> m_input; // one read of the track's samples
    std::uint8_t** m_ppConverted = nullptr;
    int m_nConvertedFrames = 0; // room in m_ppConverted
    int m_nFrameSize = 0;       // sample frames the encoder takes at a time
    bool m_bPadLastFrame = false;
    std::int64_t m_nNextInput = 0; // the track's next sample frame to convert
    std::int64_t m_nSent = 0;      // sample frames given to the encoder
    std::int64_t m_nTotal = 0;     // sample frames of the span
    bool m_bWriteFailed = false;
};
