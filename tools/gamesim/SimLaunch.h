#pragma once

#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

// Starting and stopping the programs that tests and benchmarks drive: the
// demo game, the recorder, and a virtual X server for them.

// Starts `args` (a path first, or a program's name, looked up in PATH), its
// standard streams set up by `actions` when given; 0 when it could not be
// started.
inline pid_t Spawn(const std::vector<std::string>& args,
                   const posix_spawn_file_actions_t* actions = nullptr)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), environ) != 0)
        return 0;
    return pid;
}

// Waits for a program Spawn started to end: its exit code, or -1 when it
// was killed or never started.
inline int ExitCodeOf(pid_t pid)
{
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a program to its end with its output collected; the exit code, or -1.
inline int RunCapturing(const std::vector<std::string>& args, std::string& output)
{
    output.clear();
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const pid_t pid = Spawn(args, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    char buffer[4096];
    ssize_t n = 0;
    while (pid > 0 && (n = read(fds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    return ExitCodeOf(pid);
}

inline void Stop(pid_t& pid)
{
    if (pid > 0)
    {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid = 0;
}

// Ends a virtual X server started below: asked politely first, so that it
// removes its socket and lock file; what a server that had to be killed
// leaves behind is removed here.
inline void StopVirtualDisplay(pid_t& server)
{
    if (server <= 0)
        return;
    kill(server, SIGTERM);
    int status = 0;
    bool ended = false;
    for (int wait = 0; wait < 200 && !ended; ++wait) // up to two seconds
    {
        ended = waitpid(server, &status, WNOHANG) == server;
        if (!ended)
            usleep(10000);
    }
    if (!ended)
        Stop(server);
    const char* display = std::getenv("DISPLAY");
    if (!ended && display != nullptr && display[0] == ':')
    {
        const std::string number = std::string(display + 1);
        unlink(("/tmp/.X11-unix/X" + number).c_str());
        unlink(("/tmp/.X" + number + "-lock").c_str());
    }
    server = 0;
}

// Starts Xvfb on a display it picks itself and points DISPLAY at it. Returns
// the server's process id, or 0 when it could not start.
inline pid_t StartVirtualDisplay(const char* screen = "1280x1024x24")
{
    int fds[2];
    if (pipe(fds) != 0)
        return 0;
    pid_t server = Spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                          screen, "-nolisten", "tcp"});
    close(fds[1]);
    std::string number;
    char c = 0;
    while (server > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
    {
        Stop(server);
        return 0;
    }
    setenv("DISPLAY", (std::string(":") + number).c_str(), 1);
    return server;
}
