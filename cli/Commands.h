#pragma once

#include <string>
#include <vector>

// The `trellon` subcommands. Each takes the words after its name and returns
// the process exit status: 0 done, 1 failed (a one-line message on stderr),
// 2 bad usage.
int RunInfo(const std::vector<std::string>& args);
int RunVerify(const std::vector<std::string>& args);
int RunExtract(const std::vector<std::string>& args);
int RunExport(const std::vector<std::string>& args);
int RunProbe(const std::vector<std::string>& args);
int RunRecord(const std::vector<std::string>& args);
int RunRecover(const std::vector<std::string>& args);
// export to a video file (.mp4, .webm, .mkv, .gif), where the build has one.
bool IsVideoExportPath(const std::string& path);
int RunVideoExport(const std::vector<std::string>& args);

// Calls `handler` on the signal that pauses and resumes `trellon record`
// (SIGUSR1); nothing where the system has no such signal.
void InstallPauseSignal(void (*handler)(int));

// Helpers shared by the subcommands.
int Fail(const std::string& message);       // prints "trellon: MESSAGE", returns 1
int UsageError(const std::string& message); // prints the message and a hint, returns 2
// A whole number from `low` to `high`; false for anything else, before any
// arithmetic is done with it.
bool ParseInt(const std::string& text, int& value, int low, int high);
// A load error comes as "Error reading PATH\nREASON"; on one line for the terminal.
std::string OneLine(std::string text);
// True when both paths name one file (the same device and inode).
bool SameFile(const std::string& a, const std::string& b);
