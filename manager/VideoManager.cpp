#include "manager/VideoManager.h"

#include "capture/GameLayout.h"
#include "desktop/ProgramFolder.h"
#include "drawing/Bitmap8Group.h"
#include "process/Process.h"
#include "sound/SoundCodec.h"
#include "sound/SoundRecorder.h"
#include "video/FileAccess.h"
#include "video/Journal.h"
#include "video/Video.h"
#include "video/VideoFile.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <utility>

std::string CVideoManager::FindDataFile(const std::string& name)
{
    std::error_code ec;
    if (std::filesystem::is_regular_file(Utf8Path(name), ec))
        return name;
    const std::string dir = PlatformProgramDirectory();
    if (!dir.empty())
    {
        const std::filesystem::path beside = Utf8Path(dir) / Utf8Path(name);
        if (std::filesystem::is_regular_file(beside, ec))
            return Utf8Text(beside);
        // An installed program keeps its data in share/trellonhd beside bin.
        const std::filesystem::path shared =
            Utf8Path(dir).parent_path() / "share" / "trellonhd" / Utf8Path(name);
        if (std::filesystem::is_regular_file(shared, ec))
            return Utf8Text(shared);
    }
    return name; // not found: the sheet's own load reports it by having no cells
}

namespace
{
constexpr const char* kFont1File = "font1.bmp";
constexpr const char* kFont2File = "font2.bmp";
constexpr const char* kUnitsFile = "units.bmp";
} // namespace

CVideoManager::CVideoManager()
    : m_pProcess(std::make_unique<CProcess>()), m_pFrame(new std::uint8_t[kFrameBufferBytes]),
      m_nFrameBytes(kFrameBufferBytes),
      m_pFont1(std::make_unique<CBitmap8Group>(FindDataFile(kFont1File), false)),
      m_pFont2(std::make_unique<CBitmap8Group>(FindDataFile(kFont2File), false)),
      m_pUnits(std::make_unique<CBitmap8Group>(FindDataFile(kUnitsFile), true)),
      m_pLayout(std::make_unique<CGameLayout>())
{
    NewVideo();
}

CVideoManager::~CVideoManager()
{
    // The process first, so its handle is closed before anything else goes.
    m_pProcess.reset();
    m_pVideo.reset();
    m_pFrame.reset();
    m_pFont1.reset();
    m_pFont2.reset();
    m_pUnits.reset();
    m_pLayout.reset();
}

std::vector<std::string> CVideoManager::GetMissingSheets() const
{
    std::vector<std::string> missing;
    for (const auto& [sheet, name] :
         {std::pair{m_pFont1.get(), kFont1File}, std::pair{m_pFont2.get(), kFont2File},
          std::pair{m_pUnits.get(), kUnitsFile}})
        if (sheet->GetCellCount() == 0)
            missing.emplace_back(name);
    return missing;
}

void CVideoManager::NewVideo()
{
    DropSound();
    CloseJournal(); // kept unless the caller discarded it
    m_pVideo.reset();
    m_pVideo = std::make_unique<CVideo>();
    m_pVideo->SetGeometry(m_nWidth, m_nWidth, m_nHeight, 0, 0);
}

int CVideoManager::SaveVideo(const std::string& path, std::string* reason)
{
    if (!SaveVideoFile(*m_pVideo, path, reason))
        return 0;
    DiscardJournal(); // the file holds everything the journal had
    return 1;
}

int CVideoManager::ExtractFragment(int first, int last,
                                   const std::function<bool(int, int)>& progress)
{
    auto fragment = std::make_unique<CVideo>();
    if (!m_pVideo->ExtractTo(first, last, *fragment, progress))
        return 0;
    if (!CutFragmentSound(*m_pVideo, first, last, *fragment, m_strSoundProblem))
        return 0;
    DropSound();
    CloseJournal();
    m_pVideo = std::move(fragment);
    return 1;
}

CaptureParts CVideoManager::MakeCaptureParts()
{
    return CaptureParts{*m_pProcess,       *m_pLayout,       *m_pVideo,         m_pFrame.get(),
                        m_nFrameBytes,     m_nWidth,         m_nHeight,         *m_pFont1,
                        *m_pFont2,         *m_pUnits,        m_panel,           m_teamMemory,
                        m_bShowStats != 0, m_bShowPlus != 0, m_bShowCursor != 0};
}

int CVideoManager::CaptureFrame()
{
    CaptureParts parts = MakeCaptureParts();
    CaptureOutcome outcome;
    // Cleared first: a tick that raises has found nothing of the kind.
    m_bGameSizeChanged = false;
    const std::int32_t frames = m_pVideo->GetFrameCount(), nodes = m_pVideo->GetNodeCount(),
                       palettes = m_pVideo->GetPaletteCount();
    const int result = CaptureTick(parts, outcome);
    if (m_pVideo->GetFrameCount() == frames + 1)
    {
        JournalFrame(nodes, palettes);
        FollowGameSound();
    }
    TakeSound();
    m_bOutOfMemory = outcome.outOfMemory;
    m_bGameSizeChanged = outcome.sizeChanged;
    if (outcome.gameWidth != 0)
    {
        m_nGameWidth = outcome.gameWidth;
        m_nGameHeight = outcome.gameHeight;
    }
    return result;
}

DisplayFrame CVideoManager::GetFrame(int index)
{
    CaptureParts parts = MakeCaptureParts();
    return PrepareDisplayFrame(parts, index);
}

void CVideoManager::DrawOverlay(std::uint32_t& cursor)
{
    CaptureParts parts = MakeCaptureParts();
    ::DrawOverlay(parts, cursor);
}

void CVideoManager::DrawUnitMarker(const UnitRecord& record, std::uint32_t unit, int type,
                                   bool counted, int viewX, int viewY)
{
    CaptureParts parts = MakeCaptureParts();
    ::DrawUnitMarker(parts, record, unit, type, counted, viewX, viewY);
}

std::string CVideoManager::DefaultJournalFolder()
{
    const auto set = [](const char* name) -> std::string
    {
        const char* value = std::getenv(name);
        return value != nullptr ? value : "";
    };
    if (!set("LOCALAPPDATA").empty()) // Windows
        return Utf8Text(Utf8Path(set("LOCALAPPDATA")) / "TrellonHD");
    if (!set("XDG_STATE_HOME").empty())
        return Utf8Text(Utf8Path(set("XDG_STATE_HOME")) / "trellonhd");
    if (!set("HOME").empty())
        return Utf8Text(Utf8Path(set("HOME")) / ".local" / "state" / "trellonhd");
    return {};
}

std::string CVideoManager::GetJournalPath() const
{
    return m_pJournal && m_pJournal->IsOpen() ? m_pJournal->GetPath() : std::string();
}

void CVideoManager::JournalFrame(std::int32_t nodesBefore, std::int32_t palettesBefore)
{
    if (m_strJournalFolder.empty() || !m_strJournalProblem.empty())
        return;
    if (m_pVideo->GetFrameCount() == 1)
    {
        // The video's first frame fixes its picture size: the journal starts.
        CloseJournal();
        std::error_code ec;
        std::filesystem::create_directories(Utf8Path(m_strJournalFolder), ec);
        const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        const std::string path =
            Utf8Text(Utf8Path(m_strJournalFolder) /
                     JournalFileName(now, static_cast<long>(std::random_device{}() & 0x7FFFFFFF)));
        auto journal = std::make_unique<CJournalWriter>();
        std::string reason;
        if (!journal->Open(path, m_pVideo->GetWidth(), m_pVideo->GetHeight(), reason))
        {
            m_strJournalProblem = "the journal " + path + " can't be written: " + reason;
            return;
        }
        m_pJournal = std::move(journal);
    }
    if (!m_pJournal || !m_pJournal->IsOpen())
        return;
    if (!m_pJournal->Append(*m_pVideo, nodesBefore, palettesBefore))
        m_strJournalProblem = "the journal " + m_pJournal->GetPath() +
                              " can't be written: " + m_pJournal->LastProblem();
}

void CVideoManager::DiscardJournal()
{
    if (m_pJournal)
        m_pJournal->Remove();
    m_pJournal.reset();
    if (!m_strAdoptedJournal.empty())
    {
        std::error_code ec;
        std::filesystem::remove(Utf8Path(m_strAdoptedJournal), ec);
        m_strAdoptedJournal.clear();
    }
    m_strJournalProblem.clear();
}

void CVideoManager::CloseJournal()
{
    if (m_pJournal)
        m_pJournal->Close();
    m_pJournal.reset();
    m_strAdoptedJournal.clear();
    m_strJournalProblem.clear();
}

bool CutFragmentSound(const CVideo& source, int first, int last, CVideo& fragment,
                      std::string& problem)
{
    const CSoundTrack& sound = source.GetSound();
    if (sound.Empty() || fragment.GetFrameCount() == 0)
        return true;
    const int frames = source.GetFrameCount();
    first = std::clamp(first, 0, frames - 1);
    last = std::clamp(last, first, frames - 1);
    // From the first frame's time to the time the frame after the last
    // takes its place (the last frame of the video: the sound's own end).
    const double from = static_cast<double>(source.GetFrameTime(first));
    const double to = last + 1 < frames ? static_cast<double>(source.GetFrameTime(last + 1))
                                        : std::max(sound.TimeOfSample(sound.SampleCount()),
                                                   static_cast<double>(source.GetFrameTime(last)));
    CSoundTrack cut;
    if (!CutSoundTrack(sound, from, to, cut, problem))
        return false;
    fragment.GetSound() = std::move(cut);
    return true;
}

void CVideoManager::FollowGameSound()
{
    if (!m_bRecordSound || !m_pVideo->IsAppendable())
        return;
    const std::uint32_t pid = m_pProcess->GetPid();
    if (pid == 0 || (m_pSound && pid == m_nSoundPid))
        return;
    std::chrono::steady_clock::time_point origin;
    if (!m_pVideo->GetTimeOrigin(origin))
        return;
    if (m_pSound)
    {
        // The game was restarted: its new process's sound from now on.
        m_pSound->Retarget(pid, CreateSoundCapture());
        m_nSoundPid = pid;
        return;
    }
    m_pSound = std::make_unique<CSoundRecorder>(CreateSoundCapture());
    m_nSoundPid = pid;
    if (!m_pSound->Start(pid, origin))
        m_strSoundProblem = m_pSound->Problem();
}

void CVideoManager::TakeSound()
{
    if (!m_pSound)
        return;
    std::vector<SoundBlock> blocks;
    m_pSound->TakeBlocks(blocks);
    CSoundTrack& track = m_pVideo->GetSound();
    for (SoundBlock& block : blocks)
    {
        if (track.Empty())
            track = CSoundTrack(m_pSound->Rate(), m_pSound->Channels(),
                                m_pSound->StartMicroseconds());
        if (!track.Append(std::move(block)))
        {
            m_strSoundProblem = "not enough memory for the sound: the rest of it is left out";
            break;
        }
    }
    if (m_pJournal && m_pJournal->IsOpen() && m_strJournalProblem.empty())
        for (; m_nSoundJournalled < track.BlockCount(); ++m_nSoundJournalled)
            if (!m_pJournal->AppendSound(*m_pVideo, m_nSoundJournalled))
            {
                m_strJournalProblem = "the journal " + m_pJournal->GetPath() +
                                      " can't be written: " + m_pJournal->LastProblem();
                break;
            }
}

void CVideoManager::DropSound()
{
    if (m_pSound)
        m_pSound->Stop();
    m_pSound.reset();
    m_nSoundPid = 0;
    m_nSoundJournalled = 0;
    m_strSoundProblem.clear();
}

void CVideoManager::PauseRecording()
{
    if (m_pSound)
        m_pSound->SetPaused(true);
}

void CVideoManager::ResumeRecording(double gapSeconds)
{
    m_pVideo->ResumeTimeLine(gapSeconds);
    std::chrono::steady_clock::time_point origin;
    if (m_pSound && m_pVideo->GetTimeOrigin(origin))
    {
        m_pSound->SetOrigin(origin);
        m_pSound->SetPaused(false);
    }
}

void CVideoManager::StopRecording()
{
    if (!m_pSound)
        return;
    m_pSound->Stop();
    TakeSound();
    // Why there was no sound, or why some was lost, stays for whoever tells
    // the person, until the next video.
    if (m_strSoundProblem.empty())
        m_strSoundProblem = m_pSound->Problem();
    m_pSound.reset();
    m_nSoundPid = 0;
}

CVideoManager::SoundState CVideoManager::GetSoundState() const
{
    if (!m_pSound)
        return SoundState::Off;
    switch (m_pSound->GetState())
    {
    case CSoundRecorder::State::Unavailable:
        return SoundState::Unavailable;
    case CSoundRecorder::State::Waiting:
        return SoundState::Waiting;
    case CSoundRecorder::State::Recording:
        return SoundState::Recording;
    case CSoundRecorder::State::Off:
        break;
    }
    return SoundState::Off;
}

std::string CVideoManager::GetSoundProblem() const
{
    if (m_pSound && m_strSoundProblem.empty())
        return m_pSound->Problem();
    return m_strSoundProblem;
}

const char* CVideoManager::SoundStatusText(SoundState state, bool switchedOn)
{
    if (state == SoundState::Off && switchedOn)
        state = SoundState::Waiting; // before the first frame
    switch (state)
    {
    case CVideoManager::SoundState::Recording:
        return "sound";
    case CVideoManager::SoundState::Waiting:
        return "sound (none yet)";
    case CVideoManager::SoundState::Unavailable:
    case CVideoManager::SoundState::Off:
        break;
    }
    return "no sound";
}

float CVideoManager::GetFrameTime(int index) const
{
    return m_pVideo->GetFrameTime(index);
}

bool CVideoManager::GrowFrameBuffer(std::size_t bytes)
{
    if (bytes <= m_nFrameBytes)
        return true;
    std::unique_ptr<std::uint8_t[]> larger(new (std::nothrow) std::uint8_t[bytes]);
    if (!larger)
        return false;
    m_pFrame = std::move(larger);
    m_nFrameBytes = bytes;
    return true;
}

void CVideoManager::InstallLoadedVideo(std::unique_ptr<CVideo> video)
{
    CloseJournal();
    m_pVideo = std::move(video);
    const int width = m_pVideo->GetWidth(), height = m_pVideo->GetHeight();
    // A file's size is only taken when the codec can work with it and the
    // frame buffer can show it; the reader refuses other sizes anyway.
    if (!IsValidPictureSize(width, height))
        return;
    const std::size_t needed =
        kDisplayHeaderBytes + static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (!GrowFrameBuffer(needed))
        return;
    m_nWidth = width;
    m_nHeight = height;
    m_pVideo->SetGeometry(width, width, height, 0, 0);
}
