#pragma once

// clang-format off
#include <windows.h>
// clang-format on

#include "ui/core/TrellonWindow.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CTrellonCore;

// The main dialog on Win32: a modeless dialog from the IDD_MAIN template (the
// program runs its own message loop, for the keyboard filter and the global
// hotkeys, which arrive as thread messages). It is the window the dialog's
// logic (CTrellonCore) talks to: every control's notification goes to the
// core, and the core's requests (texts, message boxes, file choosers, the
// recording timer, painting) come back through ITrellonWindow.
//
// Painting: the core decodes a frame into the video manager's frame buffer,
// which begins with a bitmap header and colour table laid out for the GDI, and
// hands it over in ShowPicture. The picture is drawn straight from there,
// 1:1 into the top-left of the client area with SetDIBitsToDevice, or
// stretched into the detached window with StretchDIBits. When the buffer is
// about to hold something else (a capture), KeepPicture copies what is shown,
// so that a repaint still has it. The playback loop runs on the main dialog's
// paints of the video area; while the main dialog is minimised, on the
// detached window's.
class CMainDialog final : public ITrellonWindow
{
public:
    CMainDialog(HINSTANCE instance, std::string commandLine, std::string journalFolder);
    ~CMainDialog() override;
    CMainDialog(const CMainDialog&) = delete;
    CMainDialog& operator=(const CMainDialog&) = delete;

    // Makes the window and initialises the dialog; false when the window
    // could not be made.
    bool Create();
    // Runs the message loop until the dialog is gone; the program's exit code.
    int Run();
    HWND GetHwnd() const { return m_hWnd; }
    CTrellonCore& GetCore() const { return *m_pCore; }

    // ITrellonWindow
    void SetItemText(int id, const std::string& text) override;
    void EnableItem(int id, bool enabled) override;
    bool IsItemChecked(int id) const override;
    void CheckItem(int id, bool checked) override;
    int GetListSelection(int id) const override;
    void SetListSelection(int id, int index) override;
    int GetSliderPos() const override;
    int GetSliderMax() const override;
    void SetSliderPos(int position) override;
    void SetSliderRange(int maximum) override;
    std::string ProgramName() const override;
    void SetTitle(const std::string& title) override;
    MsgAnswer Message(const std::string& caption, const std::string& text, MsgButtons buttons,
                      MsgIcon icon, bool owned) override;
    std::string ChooseVideoFile(bool forSaving) override;
    std::string ChooseExportFile(const std::string& extension) override;
    bool AskFragment(int& first, int& last) override;
    bool AskExport(int frames, ExportChoice& choice) override;
    void ShowAbout() override;
    std::unique_ptr<ILongTaskView> BeginLongTask(const std::string& text) override;
    bool StartTimer(unsigned periodMs) override;
    void StopTimer() override;
    std::int64_t Counter() override;
    std::int64_t CounterFrequency() override;
    void ShowPicture(const DisplayFrame& frame) override;
    void KeepPicture() override;
    bool HasPicture() const override;
    void InvalidateVideo() override;
    void SchedulePaint(int delayMs) override;
    void CancelPaint() override;
    void OpenDetachedView() override;
    void SizeDetachedView(int width, int height) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK ViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnViewMessage(HWND view, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(int id, int notification);
    void OnDropFiles(HDROP drop);
    void OnPaint();
    // The keyboard filter and the thread's own messages; true when taken.
    bool PreTranslateMessage(MSG& message);
    // The main dialog or the detached window, or a control of theirs.
    bool IsOwnWindow(HWND window) const;
    void AddExportItem(HMENU menu, UINT flags) const;
    void AddSoundItems(HMENU menu) const;
    void UpdateSoundItems(HMENU menu) const;
    // Runs a menu command both menus offer; false for one they don't.
    bool OnMenuCommand(int id);
    void OnContextMenu(LPARAM where);
    void ListenForHotkeys();

    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }
    // The window the video is shown in: the detached one, or this.
    HWND VideoWindow() const { return m_hView != nullptr ? m_hView : m_hWnd; }
    // Draws the picture into `dc` of the window that shows the video.
    void DrawPicture(HWND window, HDC dc) const;

    HINSTANCE m_hInstance;
    std::string m_strCommandLine;
    std::string m_strJournalFolder;
    HWND m_hWnd = nullptr;
    HWND m_hView = nullptr; // the detached window, null while not detached
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    std::string m_strProgramName; // the caption of the template, in its language
    std::unique_ptr<CTrellonCore> m_pCore;
    bool m_bHotkeys = false;
    bool m_bFineClock = false; // the system timer's 1 ms resolution is asked for

    // The picture shown (bitmap header with colour table, and pixel rows):
    // in the frame buffer, or in m_kept after KeepPicture.
    const std::uint8_t* m_pInfo = nullptr;
    const std::uint8_t* m_pPixels = nullptr;
    std::vector<std::uint8_t> m_kept;
    HWND m_hPainting = nullptr; // the window whose paint runs the core's paint
    int m_nLongTasks = 0;       // long commands running (their loop pumps messages)
    friend class CLongTaskWindow;
};
