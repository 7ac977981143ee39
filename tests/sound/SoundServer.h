#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// A real sound server of the test's own, in a private runtime folder, so
// that tests neither hear nor disturb the desktop's: PulseAudio alone, or
// PipeWire with WirePlumber and its pulse server on a private D-Bus. It
// offers two null sinks, kSink (the default) and kOtherSink, and points
// this process and its children at it (PULSE_SERVER, XDG_RUNTIME_DIR,
// HOME). Stop ends exactly the processes Start started.
class CSoundServer
{
public:
    enum class Kind
    {
        PulseAudio,
        PipeWire,
    };
    static constexpr const char* kSink = "trellon_test";
    static constexpr const char* kOtherSink = "trellon_other";

    CSoundServer() = default;
    ~CSoundServer() { Stop(); }
    CSoundServer(const CSoundServer&) = delete;
    CSoundServer& operator=(const CSoundServer&) = delete;

    // False, with the reason, when the server could not be started.
    bool Start(Kind kind, std::string& why);
    // Ends the server's processes and starts them again at the same
    // address, as a desktop's server that was restarted.
    bool Restart(std::string& why);
    void Stop();

    static const char* Name(Kind kind);

private:
    bool Run(std::string& why);
    void EndProcesses();
    bool StartPulseAudio(std::string& why);
    bool StartPipeWire(std::string& why);
    bool WaitUntilAnswering(std::string& why);
    std::string Logs() const;
    pid_t Launch(const std::vector<std::string>& args, const std::string& log);

    Kind m_kind = Kind::PulseAudio;
    // The variables Start sets, and what they held before it.
    static constexpr const char* kVariables[] = {"PULSE_CLIENTCONFIG", "XDG_RUNTIME_DIR",
                                                 "PULSE_RUNTIME_PATH", "HOME",
                                                 "PULSE_SERVER",       "DBUS_SESSION_BUS_ADDRESS"};
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
    std::string m_folder;
    std::vector<pid_t> m_processes; // in the order started; ended in reverse
};
