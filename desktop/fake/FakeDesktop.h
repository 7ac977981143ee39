#pragma once

#include <string>

// The test backend of the desktop's services: the program's folder is what a
// test says it is (empty after Reset), and no hotkey is ever pressed.
class CFakeDesktop
{
public:
    // The one fake desktop all platform calls see; Reset() before each test
    // that sets it.
    static CFakeDesktop& Get();
    void Reset() { m_strProgramDir.clear(); }

    void SetProgramDirectory(const std::string& dir) { m_strProgramDir = dir; }
    const std::string& ProgramDirectory() const { return m_strProgramDir; }

private:
    std::string m_strProgramDir;
};
