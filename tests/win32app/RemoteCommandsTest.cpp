// The commands between processes (trellonhd --toggle-recording and friends)
// over WM_COPYDATA: a listener on a thread of its own with a message loop, as
// the program's main thread is, and the sender on the test's thread.

#include "ui/win32/RemoteCommands.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{
HINSTANCE Instance()
{
    return GetModuleHandleW(nullptr);
}

// A listener running on its own thread until the object goes; it answers
// with `answer` and keeps every line it was given.
class ListeningThread
{
public:
    explicit ListeningThread(std::string answer) : m_strAnswer(std::move(answer))
    {
        m_thread = std::thread([this] { Run(); });
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [this] { return m_bStarted; });
    }
    ~ListeningThread()
    {
        PostThreadMessageW(m_nThreadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    ListeningThread(const ListeningThread&) = delete;
    ListeningThread& operator=(const ListeningThread&) = delete;

    bool Listening() const { return m_bListening; }
    std::vector<std::string> Lines()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }

private:
    void Run()
    {
        MSG message{};
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue
        CCommandListener listener;
        m_bListening = listener.Listen(Instance(),
                                       [this](const std::string& line)
                                       {
                                           std::lock_guard<std::mutex> lock(m_mutex);
                                           m_lines.push_back(line);
                                           return m_strAnswer;
                                       });
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_nThreadId = GetCurrentThreadId();
            m_bStarted = true;
        }
        m_ready.notify_all();
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
    }

    std::string m_strAnswer;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    bool m_bStarted = false;
    std::atomic<bool> m_bListening{false};
    DWORD m_nThreadId = 0;
    std::vector<std::string> m_lines;
};

HWND ListenerWindow()
{
    return FindWindowExW(HWND_MESSAGE, nullptr, L"TrellonHD.Commands", nullptr);
}

// Sends raw data to the listener as a foreign program might; the listener's
// result.
LRESULT SendRaw(ULONG_PTR tag, const void* data, DWORD bytes, HWND from)
{
    COPYDATASTRUCT copy{};
    copy.dwData = tag;
    copy.cbData = bytes;
    copy.lpData = const_cast<void*>(data);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(ListenerWindow(), WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                        reinterpret_cast<LPARAM>(&copy), SMTO_NORMAL, 5000, &result);
    return static_cast<LRESULT>(result);
}

TEST(RemoteCommands, WithoutARunningProgramTheSenderSaysSo)
{
    ASSERT_EQ(ListenerWindow(), nullptr);
    std::string answer;
    EXPECT_EQ(SendRemoteCommand(Instance(), "toggle", answer), 1);
    EXPECT_EQ(answer, "no TrellonHD is running");
}

TEST(RemoteCommands, TheLineArrivesWholeAndTheAnswerComesBack)
{
    ListeningThread done("ok");
    ASSERT_TRUE(done.Listening());
    std::string answer;
    const std::string save = "save C:\\Записи\\игра 1.dk2";
    EXPECT_EQ(SendRemoteCommand(Instance(), save, answer), 0);
    EXPECT_EQ(answer, "ok");
    EXPECT_EQ(SendRemoteCommand(Instance(), "toggle", answer), 0);
    EXPECT_EQ(done.Lines(), (std::vector<std::string>{save, "toggle"}));
}

TEST(RemoteCommands, ARefusalComesBackAsTheReason)
{
    ListeningThread refusing("not recording");
    ASSERT_TRUE(refusing.Listening());
    std::string answer;
    EXPECT_EQ(SendRemoteCommand(Instance(), "pause", answer), 1);
    EXPECT_EQ(answer, "not recording");
}

TEST(RemoteCommands, OnlyTheFirstProgramListens)
{
    ListeningThread first("ok");
    ASSERT_TRUE(first.Listening());
    ListeningThread second("from the second");
    EXPECT_FALSE(second.Listening());
    std::string answer;
    EXPECT_EQ(SendRemoteCommand(Instance(), "toggle", answer), 0);
    EXPECT_EQ(first.Lines().size(), 1u);
    EXPECT_TRUE(second.Lines().empty());
}

TEST(RemoteCommands, DataThatIsNotACommandIsRefusedUnread)
{
    ListeningThread listening("ok");
    ASSERT_TRUE(listening.Listening());
    // A window of this thread to answer to, so that only the data is wrong.
    const HWND own = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     Instance(), nullptr);
    ASSERT_NE(own, nullptr);
    const std::string toggle = "toggle";
    const ULONG_PTR commandTag = 0x54484443;
    // Another tag; a zero inside the line; longer than any command; no
    // answer window.
    EXPECT_EQ(SendRaw(0x12345678, toggle.data(), 6, own), FALSE);
    EXPECT_EQ(SendRaw(commandTag, "tog\0gle", 7, own), FALSE);
    const std::string huge(64 * 1024 + 1, 'x');
    EXPECT_EQ(SendRaw(commandTag, huge.data(), static_cast<DWORD>(huge.size()), own), FALSE);
    EXPECT_EQ(SendRaw(commandTag, toggle.data(), 6, nullptr), FALSE);
    EXPECT_TRUE(listening.Lines().empty());
    DestroyWindow(own);
}
} // namespace
