// The platform operations on Linux, where the game runs under Wine and its
// Windows addresses are the process's own virtual addresses.
//
// The window is found through X11 (a bounded breadth-first walk of every
// screen's window tree, by _NET_WM_NAME or WM_NAME; the process from
// _NET_WM_PID). The process is held as a pidfd, so that an
// id the system hands to a new process after the game ended is never taken
// for the game, and it is read with process_vm_readv. Modules are the files
// mapped into it, from /proc/PID/maps.

#include "process/Platform.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>
#include <utility>
#include <vector>
#include <xcb/xcb.h>

struct PlatformProcess
{
    PlatformPid pid;
    int pidfd;
};

namespace
{
std::string g_strLastProblem;
std::string g_strWindowProblem;

// How far the window search goes: levels below the root, and windows in all.
// Window managers nest a client two or three levels deep, a Wine virtual
// desktop one more; a desktop has a few hundred windows.
constexpr int kMaxWindowDepth = 6;
constexpr int kMaxWindowsSearched = 4096;

// One X connection for the program's life, made on first use and made again
// when the server went away.
class CDisplay
{
public:
    ~CDisplay()
    {
        if (m_pConnection != nullptr)
            xcb_disconnect(m_pConnection);
    }

    xcb_connection_t* Connection()
    {
        if (m_pConnection != nullptr && xcb_connection_has_error(m_pConnection))
        {
            xcb_disconnect(m_pConnection);
            m_pConnection = nullptr;
        }
        if (m_pConnection == nullptr)
        {
            m_pConnection = xcb_connect(nullptr, nullptr);
            if (xcb_connection_has_error(m_pConnection))
            {
                xcb_disconnect(m_pConnection);
                m_pConnection = nullptr;
                return nullptr;
            }
            m_netWmName = Intern("_NET_WM_NAME");
            m_netWmPid = Intern("_NET_WM_PID");
            m_utf8 = Intern("UTF8_STRING");
        }
        return m_pConnection;
    }

    xcb_atom_t m_netWmName = XCB_ATOM_NONE;
    xcb_atom_t m_netWmPid = XCB_ATOM_NONE;
    xcb_atom_t m_utf8 = XCB_ATOM_NONE;

private:
    xcb_atom_t Intern(const char* name)
    {
        auto cookie =
            xcb_intern_atom(m_pConnection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(m_pConnection, cookie, nullptr);
        const xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }

    xcb_connection_t* m_pConnection = nullptr;
};

CDisplay& Display()
{
    static CDisplay display;
    return display;
}

// The value of a property request's reply; false when the window has no
// such property (or went away).
bool PropertyReply(xcb_connection_t* c, xcb_get_property_cookie_t cookie, std::string& value)
{
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    if (reply == nullptr)
        return false;
    const int length = xcb_get_property_value_length(reply);
    const bool found = reply->type != XCB_ATOM_NONE && length >= 0;
    if (found)
        value.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                     static_cast<std::size_t>(length));
    std::free(reply);
    return found;
}

bool GetProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                 std::string& value)
{
    if (property == XCB_ATOM_NONE)
        return false;
    return PropertyReply(c, xcb_get_property(c, 0, window, property, type, 0, 1024), value);
}

PlatformPid WindowPid(CDisplay& display, xcb_connection_t* c, xcb_window_t window)
{
    std::string value;
    if (!GetProperty(c, window, display.m_netWmPid, XCB_ATOM_CARDINAL, value) || value.size() < 4)
        return 0;
    std::uint32_t pid = 0;
    std::memcpy(&pid, value.data(), 4);
    return pid;
}

// The children of every window of `parents`, in order: all the requests go
// out before the first reply is awaited.
std::vector<xcb_window_t> Children(xcb_connection_t* c, const std::vector<xcb_window_t>& parents)
{
    std::vector<xcb_query_tree_cookie_t> cookies;
    cookies.reserve(parents.size());
    for (xcb_window_t parent : parents)
        cookies.push_back(xcb_query_tree(c, parent));
    std::vector<xcb_window_t> result;
    for (const xcb_query_tree_cookie_t& cookie : cookies)
    {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, cookie, nullptr);
        if (tree == nullptr)
            continue; // the window went away meanwhile
        const xcb_window_t* children = xcb_query_tree_children(tree);
        result.insert(result.end(), children, children + xcb_query_tree_children_length(tree));
        std::free(tree);
    }
    return result;
}

// The windows of `windows` whose _NET_WM_NAME, or WM_NAME where that is
// missing, is exactly `title`; asked for in one batch.
std::vector<xcb_window_t> Titled(CDisplay& display, xcb_connection_t* c,
                                 const std::vector<xcb_window_t>& windows, const char* title)
{
    const auto ask = [&](xcb_window_t w, xcb_atom_t property, xcb_atom_t type)
    { return xcb_get_property(c, 0, w, property, type, 0, 1024); };
    std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> cookies;
    cookies.reserve(windows.size());
    for (xcb_window_t w : windows)
        cookies.emplace_back(ask(w, display.m_netWmName, display.m_utf8),
                             ask(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING));
    std::vector<xcb_window_t> found;
    for (std::size_t i = 0; i < windows.size(); ++i)
    {
        std::string netName, name;
        const bool hasNetName = PropertyReply(c, cookies[i].first, netName);
        const bool hasName = PropertyReply(c, cookies[i].second, name);
        if (hasNetName ? netName == title : hasName && name == title)
            found.push_back(windows[i]);
    }
    return found;
}

// The whole of a file under /proc, which the kernel makes as it is read: in
// pieces until read() reports the end. Plain system calls, no stream: a
// Wine process's maps run to a thousand lines and more.
bool ReadProcFile(const std::string& path, std::string& text)
{
    text.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char chunk[16384];
    for (;;)
    {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            close(fd);
            return n == 0;
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
}

// The next field of a maps line, from `at` on: the characters up to the next
// space.
std::string_view NextField(std::string_view line, std::size_t& at)
{
    while (at < line.size() && line[at] == ' ')
        ++at;
    const std::size_t start = at;
    while (at < line.size() && line[at] != ' ')
        ++at;
    return line.substr(start, at - start);
}

// Files mapped at offset 0, in the order they first appear, with the lowest
// address each is mapped at.
bool ReadModules(PlatformPid pid, std::vector<PlatformModule>& modules)
{
    modules.clear();
    std::string text;
    if (!ReadProcFile("/proc/" + std::to_string(pid) + "/maps", text))
        return false;
    std::vector<std::string_view> paths; // of `modules`, index for index
    constexpr std::string_view kDeleted = " (deleted)";
    std::string_view rest = text;
    while (!rest.empty())
    {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        // address range, permissions, offset, device, inode, then the path,
        // which may hold spaces of its own
        std::size_t at = 0;
        const std::string_view range = NextField(line, at);
        NextField(line, at);
        const std::string_view offset = NextField(line, at);
        NextField(line, at);
        NextField(line, at);
        while (at < line.size() && line[at] == ' ')
            ++at;
        std::string_view path = line.substr(at);
        if (path.empty() || path[0] != '/' || offset.find_first_not_of('0') != std::string::npos)
            continue;
        if (path.size() > kDeleted.size() && path.substr(path.size() - kDeleted.size()) == kDeleted)
            path.remove_suffix(kDeleted.size());
        std::uint64_t start = 0; // the range's first address, in hexadecimal up to its dash
        std::from_chars(range.data(), range.data() + range.size(), start, 16);
        bool known = false;
        for (std::size_t i = 0; i < paths.size(); ++i)
            if (paths[i] == path)
            {
                known = true;
                if (start < modules[i].base)
                    modules[i].base = start;
            }
        if (!known)
        {
            paths.push_back(path);
            modules.push_back({std::string(path.substr(path.rfind('/') + 1)), start});
        }
    }
    return true;
}

std::string PtraceHint()
{
    std::ifstream scope("/proc/sys/kernel/yama/ptrace_scope");
    int value = -1;
    scope >> value;
    std::string hint = "Reading another program's memory needs permission to trace it";
    if (value >= 3)
        return hint +
               ", and kernel.yama.ptrace_scope is 3, which allows no one until the next boot.";
    if (value >= 1)
        hint += " (kernel.yama.ptrace_scope is " + std::to_string(value) +
                "): run trellonhd as the same user with CAP_SYS_PTRACE (sudo setcap "
                "cap_sys_ptrace=ep on the "
                "binary), or start the game from TrellonHD's own process tree; see the README";
    else
        hint += ": the game must run as the same user as TrellonHD";
    return hint + ".";
}
} // namespace

PlatformPid PlatformFindWindowProcess(const char* title, std::uint64_t& window)
{
    window = 0;
    g_strWindowProblem.clear();
    CDisplay& display = Display();
    xcb_connection_t* c = display.Connection();
    if (c == nullptr)
    {
        const char* name = std::getenv("DISPLAY");
        g_strWindowProblem = name == nullptr || *name == '\0'
                                 ? "cannot open the X display: DISPLAY is not set"
                                 : std::string("cannot open the X display ") + name;
        return 0; // no display: no game
    }
    // Breadth first from every screen's root: the game's window is a child
    // of the root without a window manager, a grandchild inside a frame, and
    // deeper under window managers that wrap the client in a container
    // (KWin, IceWM) or in a Wine virtual desktop. Each level is asked for in
    // one batch of requests, so a level costs one round trip to the server.
    std::vector<xcb_window_t> level;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem > 0; xcb_screen_next(&it))
        level.push_back(it.data->root);
    int visited = 0;
    for (int depth = 1; depth <= kMaxWindowDepth && !level.empty(); ++depth)
    {
        std::vector<xcb_window_t> next = Children(c, level);
        if (next.size() > static_cast<std::size_t>(kMaxWindowsSearched - visited))
            next.resize(static_cast<std::size_t>(kMaxWindowsSearched - visited));
        visited += static_cast<int>(next.size());
        for (xcb_window_t found : Titled(display, c, next, title))
        {
            const PlatformPid pid = WindowPid(display, c, found);
            if (pid != 0)
            {
                window = found;
                return pid;
            }
        }
        level = std::move(next);
    }
    return 0;
}

std::string PlatformWindowProblem()
{
    return g_strWindowProblem;
}

PlatformProcess* PlatformOpenProcess(PlatformPid pid)
{
    g_strLastProblem.clear();
    const long fd = syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0);
    if (fd < 0)
    {
        g_strLastProblem =
            "Process " + std::to_string(pid) + " can't be opened: " + std::strerror(errno) + ".";
        return nullptr;
    }
    auto* process = new PlatformProcess{pid, static_cast<int>(fd)};
    // Check now that the memory can be read, so that the reason can be told.
    std::vector<PlatformModule> modules;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string first;
    std::getline(maps, first);
    const std::uint64_t start = first.empty() ? 0 : std::strtoull(first.c_str(), nullptr, 16);
    char byte = 0;
    iovec local{&byte, 1}, remote{reinterpret_cast<void*>(start), 1};
    if (first.empty() || process_vm_readv(static_cast<pid_t>(pid), &local, 1, &remote, 1, 0) != 1)
    {
        const int error = first.empty() ? EPERM : errno;
        g_strLastProblem = "The game (process " + std::to_string(pid) +
                           ") was found but its memory can't be read: " + std::strerror(error) +
                           ". " + (error == EPERM || error == EACCES ? PtraceHint() : "");
        close(process->pidfd);
        delete process;
        return nullptr;
    }
    return process;
}

bool PlatformIsRunning(PlatformProcess* process)
{
    if (process == nullptr)
        return false;
    // A pidfd becomes readable when its process ends.
    pollfd p{process->pidfd, POLLIN, 0};
    return poll(&p, 1, 0) == 0;
}

bool PlatformRead(PlatformProcess* process, std::uint64_t address, void* buffer, std::size_t size,
                  std::size_t& copied)
{
    copied = 0;
    if (process == nullptr)
        return false;
    if (size == 0)
        return true;
    iovec local{buffer, size}, remote{reinterpret_cast<void*>(address), size};
    const ssize_t n = process_vm_readv(static_cast<pid_t>(process->pid), &local, 1, &remote, 1, 0);
    // Read by id: if the game ended meanwhile, the id may name another
    // process, so what was read counts only while the pidfd says it runs.
    if (n <= 0 || !PlatformIsRunning(process))
        return false;
    copied = static_cast<std::size_t>(n);
    return true;
}

void PlatformCloseProcess(PlatformProcess* process)
{
    if (process == nullptr)
        return;
    close(process->pidfd);
    delete process;
}

bool PlatformListModules(PlatformPid pid, std::vector<PlatformModule>& modules)
{
    return pid != 0 && ReadModules(pid, modules);
}

bool PlatformModuleBase(PlatformProcess* process, std::uint64_t base, std::uint64_t& reported)
{
    std::vector<PlatformModule> modules;
    if (process == nullptr || !ReadModules(process->pid, modules))
        return false;
    for (const PlatformModule& module : modules)
        if (module.base == base)
        {
            reported = base;
            return true;
        }
    return false;
}

std::string PlatformLastProblem()
{
    return g_strLastProblem;
}
