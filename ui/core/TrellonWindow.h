#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct DisplayFrame;

// The buttons a message box offers, its icon, and the button the person
// pressed (Cancel too when they closed it otherwise).
enum class MsgButtons
{
    Ok,
    OkCancel,
    YesNo,
};
enum class MsgIcon
{
    None,
    Information,
    Question,
    Warning,
};
enum class MsgAnswer
{
    Ok,
    Cancel,
    Yes,
    No,
};

// What the person chose in the export dialog: the format (an index into
// CTrellonCore::kExportExtensions), the frames numbered from 1 and the
// enlargement.
struct ExportChoice
{
    int format = 0;
    int first = 1;
    int last = 1;
    int scale = 1;
};

// A long command (a cut, an export) shown with its progress and a Cancel
// button; it ends when the object goes.
class ILongTaskView
{
public:
    virtual ~ILongTaskView() = default;
    // Called now and then with the work done so far; false once the person
    // cancelled.
    virtual bool Report(int done, int total) = 0;
    virtual bool Cancelled() const = 0;
};

// What the main dialog's logic asks of its window. Each toolkit's front end
// implements it over its own controls (named by the ids of resource.h),
// message boxes, file choosers, timer and painting. Texts are UTF-8; paths
// are the platform's narrow file names (UTF-8 on both platforms here).
class ITrellonWindow
{
public:
    virtual ~ITrellonWindow() = default;

    // The controls.
    virtual void SetItemText(int id, const std::string& text) = 0;
    virtual void EnableItem(int id, bool enabled) = 0;
    virtual bool IsItemChecked(int id) const = 0;
    virtual void CheckItem(int id, bool checked) = 0;
    // The selection index of a drop-down list; -1 when none.
    virtual int GetListSelection(int id) const = 0;
    virtual void SetListSelection(int id, int index) = 0;
    // The frame slider. Moves and range changes made here are silent: the
    // slider reports only what the person does to it.
    virtual int GetSliderPos() const = 0;
    virtual int GetSliderMax() const = 0;
    virtual void SetSliderPos(int position) = 0;
    virtual void SetSliderRange(int maximum) = 0;
    // The window's caption, as the core composes it from the program's name
    // the window's own caption gives (in the person's language) and what
    // the video is doing.
    virtual std::string ProgramName() const = 0;
    virtual void SetTitle(const std::string& title) = 0;

    // The person. `owned`: the box belongs to the main window (false for the
    // few that stand on their own).
    virtual MsgAnswer Message(const std::string& caption, const std::string& text,
                              MsgButtons buttons, MsgIcon icon = MsgIcon::None,
                              bool owned = true) = 0;
    // A video file to save to or load from; empty when the person cancelled.
    virtual std::string ChooseVideoFile(bool forSaving) = 0;
    // The file to export to, with `extension` ("mp4"); empty when cancelled.
    virtual std::string ChooseExportFile(const std::string& extension) = 0;
    // The fragment dialog: false when cancelled, else the frame numbers
    // typed (from 1, any integers).
    virtual bool AskFragment(int& first, int& last) = 0;
    // The export dialog for a video of `frames` frames, opened on `choice`;
    // false when cancelled.
    virtual bool AskExport(int frames, ExportChoice& choice) = 0;
    virtual void ShowAbout() = 0;
    virtual std::unique_ptr<ILongTaskView> BeginLongTask(const std::string& text) = 0;

    // The recording timer: ticks reach CTrellonCore::OnTimer. False when the
    // platform refused it.
    virtual bool StartTimer(unsigned periodMs) = 0;
    virtual void StopTimer() = 0;
    // The performance counter and its ticks per second.
    virtual std::int64_t Counter() = 0;
    virtual std::int64_t CounterFrequency() = 0;

    // The picture. ShowPicture takes the frame ShowFrame prepared in the
    // frame buffer (the window may look at the buffer itself) and gets it
    // painted where the video is shown, unless that window is being painted
    // right now. KeepPicture comes before the buffer is overwritten with
    // something else: a window that looks at the buffer keeps a copy of what
    // it shows.
    virtual void ShowPicture(const DisplayFrame& frame) = 0;
    virtual void KeepPicture() = 0;
    virtual bool HasPicture() const = 0;
    // Asks for a paint of the video (the playback loop's step) now, or after
    // `delayMs`; CancelPaint drops a delayed one.
    virtual void InvalidateVideo() = 0;
    virtual void SchedulePaint(int delayMs) = 0;
    virtual void CancelPaint() = 0;

    // The detached window: opened (or brought to the front), and sized to a
    // picture of `width` x `height`.
    virtual void OpenDetachedView() = 0;
    virtual void SizeDetachedView(int width, int height) = 0;
};
