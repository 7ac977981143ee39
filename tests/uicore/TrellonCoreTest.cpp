// The main dialog's logic on its own, behind a window that only remembers
// what it was told: the control rules while recording, the pause, the
// commands from other processes, files with names beyond ASCII, and the
// question before closing. Built for both platforms, so the Windows build
// checks the logic under Wine as well.

#include "ui/core/TrellonCore.h"

#include "capture/GameLayout.h"
#include "manager/VideoManager.h"
#include "process/fake/FakeGame.h"
#include "sound/SoundCodec.h"
#include "sound/fake/FakeSound.h"
#include "tests/support/TestTempFolder.h"
#include "video/Video.h"

#include <chrono>
#include <deque>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace
{
class CFakeWindow : public ITrellonWindow
{
public:
    std::map<int, std::string> texts;
    std::map<int, bool> enabled, checked;
    std::map<int, int> lists;
    int sliderPos = 0, sliderMax = 0;
    // Named as a translation might name the program: the title takes the
    // window's name, whatever it is.
    std::string programName = "\u0422\u0440\u0435\u043B\u043B\u043E\u043D HD";
    std::string title;
    std::vector<std::string> messages; // "caption: text" of every box shown
    std::deque<MsgAnswer> answers;     // the answers to give, in order; then Ok/Yes
    std::string chosenFile;            // what the file chooser answers
    bool timer = false;
    unsigned periodMs = 0;
    std::int64_t counter = 0; // in milliseconds
    int pictures = 0;

    void SetItemText(int id, const std::string& text) override { texts[id] = text; }
    void EnableItem(int id, bool on) override { enabled[id] = on; }
    bool IsItemChecked(int id) const override
    {
        const auto it = checked.find(id);
        return it != checked.end() && it->second;
    }
    void CheckItem(int id, bool on) override { checked[id] = on; }
    int GetListSelection(int id) const override
    {
        const auto it = lists.find(id);
        return it == lists.end() ? -1 : it->second;
    }
    void SetListSelection(int id, int index) override { lists[id] = index; }
    int GetSliderPos() const override { return sliderPos; }
    int GetSliderMax() const override { return sliderMax; }
    void SetSliderPos(int position) override { sliderPos = position; }
    void SetSliderRange(int maximum) override { sliderMax = maximum < 0 ? 0 : maximum; }
    std::string ProgramName() const override { return programName; }
    void SetTitle(const std::string& text) override { title = text; }
    MsgAnswer Message(const std::string& caption, const std::string& text, MsgButtons buttons,
                      MsgIcon, bool) override
    {
        messages.push_back(caption + ": " + text);
        if (!answers.empty())
        {
            const MsgAnswer answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    }
    std::string ChooseVideoFile(bool) override { return chosenFile; }
    std::string ChooseExportFile(const std::string&) override { return {}; }
    bool AskFragment(int&, int&) override { return false; }
    bool AskExport(int, ExportChoice&) override { return false; }
    void ShowAbout() override { messages.push_back("About"); }
    std::unique_ptr<ILongTaskView> BeginLongTask(const std::string&) override
    {
        struct Task : ILongTaskView
        {
            bool Report(int, int) override { return true; }
            bool Cancelled() const override { return false; }
        };
        return std::make_unique<Task>();
    }
    bool StartTimer(unsigned period) override
    {
        timer = true;
        periodMs = period;
        return true;
    }
    void StopTimer() override { timer = false; }
    std::int64_t Counter() override { return counter; }
    std::int64_t CounterFrequency() override { return 1000; }
    void ShowPicture(const DisplayFrame&) override { ++pictures; }
    void KeepPicture() override {}
    bool HasPicture() const override { return pictures > 0; }
    void InvalidateVideo() override {}
    void SchedulePaint(int) override {}
    void CancelPaint() override {}
    void OpenDetachedView() override {}
    void SizeDetachedView(int, int) override {}
};

// A running v2.0.2.0 game showing a 640 x 480 picture.
void StartFakeGame()
{
    constexpr std::uint32_t kScreen = 0x20000000;
    CFakeGame& game = CFakeGame::Get();
    game.Reset();
    game.ShowWindow("WARCRAFT II", 99);
    game.Map(0x00400000, std::vector<std::uint8_t>(0x00100000, 0));
    game.Write8(kVersionByteAddress, kVersionByte2020);
    game.Write32(0x004D4A94, kScreen); // the screen pointer
    std::vector<std::uint8_t> palette(256 * 4);
    for (std::size_t i = 0; i < palette.size(); ++i)
        palette[i] = static_cast<std::uint8_t>(i * 7 + 1);
    game.Write(0x004AE844, palette.data(), palette.size());
    game.Write32(0x004D5134, 100u | (50u << 16)); // the pointer
    std::vector<std::uint8_t> picture(640 * 480);
    for (std::size_t n = 0; n < picture.size(); ++n)
        picture[n] = static_cast<std::uint8_t>(n % 199 + 1);
    game.Map(kScreen, picture);
    game.Write32(0x004D4A90, 640u | (480u << 16)); // the screen size
}

class TrellonCoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        StartFakeGame();
        s_bInTimer = 0;
        s_nLastKind = 0;
        core.OnInitDialog("");
        window.messages.clear();
    }
    void TearDown() override { CFakeGame::Get().Reset(); }

    // Records `ticks` frames through the timer, leaving the recording on.
    void Ticks(int ticks)
    {
        for (int n = 0; n < ticks; ++n)
        {
            window.counter += window.periodMs;
            core.OnTimer();
        }
    }
    int Frames() const { return core.GetManager().GetVideo().GetFrameCount(); }
    static std::string PathOf(const std::filesystem::path& name)
    {
        const std::u8string text = (TestTempFolder() / name).u8string();
        return std::string(text.begin(), text.end());
    }

    CFakeWindow window;
    CTrellonCore core{window, std::string()};
};

TEST_F(TrellonCoreTest, RecordingFollowsTheControlRulesAndEndsForGood)
{
    EXPECT_EQ(window.texts[IDC_RECORD], "Start Recording");
    EXPECT_TRUE(window.enabled[IDC_RECORD]);
    EXPECT_EQ(window.GetListSelection(IDC_TARGET_FPS), 13);
    EXPECT_EQ(window.GetListSelection(IDC_SPEED), 3);
    EXPECT_EQ(window.title, window.programName); // a new empty video

    core.OnRecord();
    EXPECT_EQ(window.texts[IDC_RECORD], "Stop Recording");
    EXPECT_TRUE(window.timer);
    EXPECT_EQ(window.periodMs, 33u);
    for (int id : {IDC_GET_FRAME, IDC_SAVE, IDC_LOAD, IDC_CLEAR, IDC_EXTRACT})
        EXPECT_FALSE(window.enabled[id]) << id;
    Ticks(3);
    EXPECT_EQ(Frames(), 3);
    EXPECT_EQ(window.texts[IDC_VERSION], "war2 v2.0.2.0");
    EXPECT_EQ(window.texts[IDC_FRAME_TEXT], "Frame 1/3"); // the slider stays where it was
    core.UpdateTitle(); // ticks refresh it only a few times a second
    EXPECT_EQ(window.title,
              "\u25CF REC 00:00:00 \u00B7 3 frames \u00B7 0 dropped \u00B7 sound (none yet) \u2014 " + window.programName);

    core.OnRecord();
    EXPECT_FALSE(window.timer);
    EXPECT_FALSE(window.enabled[IDC_RECORD]); // a finished recording can't go on
    for (int id : {IDC_GET_FRAME, IDC_SAVE, IDC_LOAD, IDC_CLEAR, IDC_EXTRACT})
        EXPECT_TRUE(window.enabled[id]) << id;
    EXPECT_EQ(window.title, "unsaved recording * \u2014 " + window.programName);
    EXPECT_EQ(core.RunCommand("toggle"), "the recording has ended; Clear starts a new one");
    EXPECT_TRUE(window.messages.empty());

    // Clearing asks first; No keeps the frames.
    window.answers = {MsgAnswer::No};
    core.OnClear();
    EXPECT_EQ(Frames(), 3);
    core.OnClear();
    EXPECT_EQ(Frames(), 0);
    EXPECT_TRUE(window.enabled[IDC_RECORD]);
    EXPECT_EQ(window.title, window.programName);
    EXPECT_EQ(window.messages,
              (std::vector<std::string>{"?: Clear current video?", "?: Clear current video?"}));
}

TEST_F(TrellonCoreTest, APauseStopsTheTimerAndLeavesItsTimeOut)
{
    EXPECT_EQ(core.RunCommand("pause"), "not recording");
    EXPECT_EQ(core.RunCommand("toggle"), "ok");
    Ticks(2);
    EXPECT_EQ(core.RunCommand("pause"), "ok");
    EXPECT_FALSE(window.timer);
    EXPECT_TRUE(core.IsPaused());
    EXPECT_EQ(window.title,
              "\u275A\u275A PAUSED 00:00:00 \u00B7 2 frames \u00B7 0 dropped \u00B7 sound (none yet) \u2014 " +
                  window.programName);
    // The time line runs on its own clock: a pause that takes a while must
    // not show in it.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(core.RunCommand("pause"), "ok");
    EXPECT_TRUE(window.timer);
    Ticks(1);
    ASSERT_EQ(Frames(), 3);
    const CVideo& video = core.GetManager().GetVideo();
    const double gap = static_cast<double>(video.GetFrameTime(2) - video.GetFrameTime(1));
    EXPECT_GT(gap, 0.03);
    EXPECT_LT(gap, 0.25);
    // Stop after a pause ends the recording as any stop.
    EXPECT_EQ(core.RunCommand("pause"), "ok");
    EXPECT_EQ(core.RunCommand("toggle"), "ok");
    EXPECT_FALSE(core.IsRecording());
    EXPECT_FALSE(core.IsPaused());
    EXPECT_EQ(core.RunCommand("record"), "unknown command: record");
}

TEST_F(TrellonCoreTest, SavesAndLoadsFilesNamedBeyondAscii)
{
    core.OnRecord();
    Ticks(4);
    const std::string path = PathOf(u8"запись \u00E9t\u00E9.dk2");
    // A save ends the recording first and takes the file as the video's.
    EXPECT_EQ(core.RunCommand("save " + path), "ok");
    EXPECT_FALSE(core.IsRecording());
    EXPECT_EQ(window.title, "запись \u00E9t\u00E9.dk2 \u2014 " + window.programName);
    const std::string nowhere = PathOf("no such folder/x.dk2");
    EXPECT_EQ(core.RunCommand("save " + nowhere).rfind("Error writing to " + nowhere + ": ", 0),
              0u);

    core.OnClear();
    window.chosenFile = path;
    core.OnLoad();
    EXPECT_EQ(Frames(), 4);
    EXPECT_EQ(window.texts[IDC_FRAME_TEXT], "Frame 1/4");
    EXPECT_FALSE(window.enabled[IDC_RECORD]);
    EXPECT_EQ(core.GetFileName(), path);

    const std::string missing = PathOf(u8"нет.dk2");
    EXPECT_EQ(core.LoadVideo(missing), 0);
    ASSERT_FALSE(window.messages.empty());
    EXPECT_EQ(window.messages.back().rfind("Error: Error opening " + missing + " for reading\n", 0),
              0u)
        << window.messages.back();
    EXPECT_EQ(Frames(), 4); // a file that can't be opened changes nothing
}

TEST_F(TrellonCoreTest, PaintsWaitForTheFirstDataExchange)
{
    // A window may paint as soon as it is shown: before the initialisation
    // a paint would read the still unchecked Show Cursor and turn it off.
    CFakeWindow fresh;
    CTrellonCore early(fresh, std::string());
    early.OnPaint();
    EXPECT_EQ(fresh.pictures, 0);
    EXPECT_EQ(early.GetManager().m_bShowCursor, 1);
    early.OnInitDialog("");
    EXPECT_TRUE(fresh.IsItemChecked(IDC_SHOW_CURSOR));
    // From then on a paint takes the boxes as the person left them.
    fresh.CheckItem(IDC_SHOW_CURSOR, false);
    early.OnPaint();
    EXPECT_EQ(early.GetManager().m_bShowCursor, 0);
}

TEST_F(TrellonCoreTest, ClosingOverUnsavedFramesAsks)
{
    EXPECT_TRUE(core.OnClose()); // nothing to lose
    core.OnRecord();
    Ticks(1);
    core.OnRecord();
    window.answers = {MsgAnswer::No};
    EXPECT_FALSE(core.OnClose());
    EXPECT_TRUE(core.OnClose());
    EXPECT_EQ(window.messages,
              (std::vector<std::string>{
                  "Closing application: You have some unsaved frames, exit anyway?",
                  "Closing application: You have some unsaved frames, exit anyway?"}));
    core.OnSysCommand(IDM_ABOUTBOX | 2);
    EXPECT_EQ(window.messages.back(), "About");
}
} // namespace

TEST_F(TrellonCoreTest, TheSoundSwitchHoldsForTheNextRecordingAndAMissingWayIsToldOnce)
{
    // Where the system can't record the game's sound, the picture is
    // recorded and the reason comes once, when the recording is over.
    fakesound::SetCaptureRefusal("no process loopback here");
    core.OnRecord();
    Ticks(2);
    EXPECT_TRUE(window.messages.empty()); // nothing holds up the frames
    core.UpdateTitle();
    EXPECT_NE(window.title.find("\u00B7 no sound \u2014"), std::string::npos) << window.title;
    core.OnRecord();
    EXPECT_EQ(Frames(), 2);
    EXPECT_EQ(window.messages,
              std::vector<std::string>{"Sound: The recording has no sound: no process loopback here"});
    core.OnClear();
    core.OnRecord();
    Ticks(1);
    core.OnRecord();
    EXPECT_EQ(window.messages.size(), 2u); // the Clear question only: told once a run
    fakesound::SetCaptureRefusal("");

    // Switched off: no capture; the switch stays while recording.
    core.OnClear();
    EXPECT_TRUE(core.IsRecordSoundOn());
    core.OnRecordSound();
    EXPECT_FALSE(core.IsRecordSoundOn());
    core.OnRecord();
    Ticks(1);
    EXPECT_FALSE(fakesound::CaptureRunning());
    EXPECT_FALSE(core.CanChangeRecordSound());
    core.OnRecordSound();
    EXPECT_FALSE(core.IsRecordSoundOn());
    core.UpdateTitle();
    EXPECT_NE(window.title.find("\u00B7 no sound \u2014"), std::string::npos) << window.title;
    core.OnRecord();
}

TEST_F(TrellonCoreTest, PlaysTheSoundWithThePictureAtNormalSpeedOnly)
{
    core.OnRecord();
    Ticks(3);
    core.OnRecord();
    // A second of a level that marks the sound, from frame 0 on.
    CSoundBlockWriter writer(48000, 2);
    std::vector<SoundBlock> blocks;
    std::string error;
    const std::vector<std::int16_t> level(96000, 1234);
    ASSERT_TRUE(writer.Add(level.data(), 48000, blocks, error));
    ASSERT_TRUE(writer.Flush(blocks, error));
    CSoundTrack& track = core.GetManager().GetVideo().GetSound();
    track = CSoundTrack(48000, 2, 0);
    for (SoundBlock& block : blocks)
        ASSERT_TRUE(track.Append(std::move(block)));

    core.OnPlay();
    core.OnPaint();
    EXPECT_TRUE(core.IsSoundPlaying());
    ASSERT_TRUE(fakesound::OutputOpen());
    EXPECT_EQ(fakesound::Pull(100)[0], 1234);
    core.OnMute();
    EXPECT_EQ(fakesound::Pull(100)[0], 0);
    core.OnMute();
    EXPECT_EQ(fakesound::Pull(100)[0], 1234);
    // Another speed: the picture goes on, silent.
    core.OnSpeedChange(4);
    core.OnPaint();
    EXPECT_FALSE(core.IsSoundPlaying());
    core.OnSpeedChange(3);
    core.OnPaint();
    EXPECT_TRUE(core.IsSoundPlaying());
    core.OnPause();
    EXPECT_FALSE(fakesound::OutputOpen());
    // Clearing the video stops what plays its track.
    core.OnPlay();
    core.OnPaint();
    EXPECT_TRUE(fakesound::OutputOpen());
    core.OnClear();
    EXPECT_FALSE(fakesound::OutputOpen());
}

TEST_F(TrellonCoreTest, ACommandOfAnotherProcessIsNotHeldUpByTheSoundNotice)
{
    fakesound::SetCaptureRefusal("no process loopback here");
    EXPECT_EQ(core.RunCommand("toggle"), "ok");
    Ticks(2);
    const std::string path = PathOf("remote-no-sound.dk2");
    EXPECT_EQ(core.RunCommand("save " + path), "ok");
    EXPECT_TRUE(window.messages.empty());
    EXPECT_TRUE(std::filesystem::exists(path));
    fakesound::SetCaptureRefusal("");
}
