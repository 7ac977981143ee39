#include "SoundServer.h"

#include "tools/gamesim/SimLaunch.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace
{
constexpr auto kStartLimit = std::chrono::seconds(15);

std::string Read(const std::string& path)
{
    std::string text;
    if (std::FILE* file = std::fopen(path.c_str(), "rb"))
    {
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            text.append(buffer, n);
        std::fclose(file);
    }
    return text;
}

std::string Tail(const std::string& text)
{
    return text.size() > 600 ? text.substr(text.size() - 600) : text;
}
} // namespace

const char* CSoundServer::Name(Kind kind)
{
    return kind == Kind::PulseAudio ? "PulseAudio" : "PipeWire";
}

pid_t CSoundServer::Launch(const std::vector<std::string>& args, const std::string& log)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    // Forked rather than spawned, so that the server ends with a test that
    // crashed instead of living on without it (PR_SET_PDEATHSIG).
    const pid_t pid = fork();
    if (pid == 0)
    {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() == 1)
            _exit(127);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        execvp(argv[0], argv.data());
        dprintf(STDERR_FILENO, "cannot run %s (install it: scripts/setup)\n", argv[0]);
        _exit(127);
    }
    close(out);
    close(in);
    if (pid <= 0)
        return 0;
    m_processes.push_back(pid);
    return pid;
}

bool CSoundServer::Start(Kind kind, std::string& why)
{
    Stop();
    char folder[] = "/tmp/trellon-sound-XXXXXX";
    if (mkdtemp(folder) == nullptr)
    {
        why = "no temporary folder for the sound server";
        return false;
    }
    m_folder = folder;
    m_kind = kind;
    const std::string runtime = m_folder + "/runtime", home = m_folder + "/home";
    std::filesystem::create_directories(runtime + "/pulse");
    std::filesystem::create_directories(home);
    chmod(runtime.c_str(), 0700);
    // The clients of this process (ours, pactl, pacat, the demo game) find
    // the server by PULSE_SERVER and never start one of their own. Set
    // here only: a Restart must not touch the environment, which other
    // threads read as they connect.
    std::ofstream(m_folder + "/client.conf") << "autospawn = no\n";
    // What the environment held before, for Stop to put back.
    m_saved.clear();
    for (const char* name : kVariables)
    {
        const char* value = std::getenv(name);
        m_saved.emplace_back(name,
                             value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    setenv("PULSE_CLIENTCONFIG", (m_folder + "/client.conf").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("PULSE_RUNTIME_PATH", (runtime + "/pulse").c_str(), 1);
    setenv("HOME", home.c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + runtime + "/pulse/native").c_str(), 1);
    // WirePlumber and PipeWire talk over a session bus: a private one.
    if (kind == Kind::PipeWire)
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + runtime + "/bus").c_str(), 1);
    else
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    return Run(why);
}

bool CSoundServer::Restart(std::string& why)
{
    EndProcesses();
    return Run(why);
}

bool CSoundServer::Run(std::string& why)
{
    bool started = m_kind == Kind::PulseAudio ? StartPulseAudio(why) : StartPipeWire(why);
    // A null sink left idle renders ahead by its longest latency (two
    // seconds), so that a stream starting on it is heard only that much
    // later. Like a desktop's sink that something always plays on, each
    // one keeps a silent stream of small latency.
    for (const char* sink : {kSink, kOtherSink})
        if (started && Launch({"pacat", "--raw", "--latency-msec=20",
                               std::string("--device=") + sink, "/dev/zero"},
                              m_folder + "/keeper-" + sink + ".log") == 0)
        {
            why = "pacat could not be started (install pulseaudio-utils: scripts/setup)";
            started = false;
        }
    if (!started)
        Stop();
    return started;
}

bool CSoundServer::StartPulseAudio(std::string& why)
{
    const std::string socket = m_folder + "/runtime/pulse/native";
    const std::string config = m_folder + "/server.pa";
    // Exactly what the tests need: no system configuration, no hardware.
    std::ofstream(config) << "load-module module-native-protocol-unix auth-anonymous=1 socket="
                          << socket << "\n"
                          << "load-module module-null-sink norewinds=1 sink_name=" << kSink << "\n"
                          << "load-module module-null-sink norewinds=1 sink_name=" << kOtherSink
                          << "\n"
                          << "set-default-sink " << kSink << "\n";
    if (Launch({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                "--system=no", "--log-target=stderr", "-F", config},
               m_folder + "/pulseaudio.log") == 0)
    {
        why = "pulseaudio could not be started (install it: scripts/setup)";
        return false;
    }
    return WaitUntilAnswering(why);
}

bool CSoundServer::StartPipeWire(std::string& why)
{
    const std::string bus = "unix:path=" + m_folder + "/runtime/bus";
    if (Launch({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + bus},
               m_folder + "/dbus.log") == 0)
    {
        why = "dbus-daemon could not be started (install dbus-daemon: scripts/setup)";
        return false;
    }
    const auto end = std::chrono::steady_clock::now() + kStartLimit;
    while (!std::filesystem::exists(m_folder + "/runtime/bus") &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // WirePlumber and the pulse server give up at once when PipeWire's
    // socket is not there yet.
    if (Launch({"pipewire"}, m_folder + "/pipewire.log") == 0)
    {
        why = "pipewire could not be started (scripts/setup)";
        return false;
    }
    while (!std::filesystem::exists(m_folder + "/runtime/pipewire-0") &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (Launch({"wireplumber"}, m_folder + "/wireplumber.log") == 0 ||
        Launch({"pipewire-pulse"}, m_folder + "/pipewire-pulse.log") == 0)
    {
        why = "wireplumber or pipewire-pulse could not be started (scripts/setup)";
        return false;
    }
    if (!WaitUntilAnswering(why))
        return false;
    std::string output;
    for (const char* sink : {kSink, kOtherSink})
        if (RunCapturing(
                {"pactl", "load-module", "module-null-sink", std::string("sink_name=") + sink},
                output) != 0)
        {
            why = "PipeWire refused a null sink: " + output;
            return false;
        }
    // The default sink is WirePlumber's to keep; it takes a moment.
    while (std::chrono::steady_clock::now() < end)
    {
        RunCapturing({"pactl", "set-default-sink", kSink}, output);
        if (RunCapturing({"pactl", "get-default-sink"}, output) == 0 &&
            output.find(kSink) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    why = "PipeWire did not take " + std::string(kSink) + " as its default sink: " + Tail(Logs());
    return false;
}

std::string CSoundServer::Logs() const
{
    std::string text;
    for (const char* name : {"pulseaudio", "dbus", "pipewire", "wireplumber", "pipewire-pulse"})
        text += Read(m_folder + "/" + name + ".log");
    return text;
}

bool CSoundServer::WaitUntilAnswering(std::string& why)
{
    const auto end = std::chrono::steady_clock::now() + kStartLimit;
    std::string output;
    while (std::chrono::steady_clock::now() < end)
    {
        if (RunCapturing({"pactl", "info"}, output) == 0)
            return true;
        for (const pid_t pid : m_processes)
            if (waitpid(pid, nullptr, WNOHANG) == pid)
            {
                why = "the sound server ended at once: " +
                      Tail(Read(m_folder + "/pulseaudio.log") + Read(m_folder + "/pipewire.log") +
                           Read(m_folder + "/pipewire-pulse.log"));
                m_processes.erase(std::find(m_processes.begin(), m_processes.end(), pid));
                return false;
            }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why = "the sound server did not answer within 15 s: " + Tail(output);
    return false;
}

void CSoundServer::Stop()
{
    EndProcesses();
    if (!m_folder.empty())
    {
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
        m_folder.clear();
    }
    // Later tests of this process start their programs as before.
    for (const auto& [name, value] : m_saved)
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    m_saved.clear();
}

void CSoundServer::EndProcesses()
{
    // The last started depends on those before it: ended first.
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it)
    {
        kill(*it, SIGTERM);
        bool ended = false;
        for (int wait = 0; wait < 200 && !ended; ++wait) // up to two seconds
        {
            ended = waitpid(*it, nullptr, WNOHANG) == *it;
            if (!ended)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!ended)
        {
            kill(*it, SIGKILL);
            waitpid(*it, nullptr, 0);
        }
    }
    m_processes.clear();
}
