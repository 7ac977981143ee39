#pragma once

// The fake-game fixture shared by the export lookup tests, which build their
// images with the PE image writer of tools/pe and damage them through
// base/ByteOrder.h.
#include "base/ByteOrder.h"
#include "process/Process.h"
#include "process/RemoteExports.h"
#include "process/fake/FakeGame.h"
#include "tools/pe/PeImage.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace testpe
{
constexpr PlatformPid kPid = 4242;
constexpr const char* kTitle = "WARCRAFT II";

// A game with its window shown and its process open, for the lookups to read.
class RemoteExports : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CFakeGame::Get().Reset();
        CFakeGame::Get().ShowWindow(kTitle, kPid);
        m_pProcess = PlatformOpenProcess(kPid);
        ASSERT_NE(m_pProcess, nullptr);
    }
    void TearDown() override
    {
        PlatformCloseProcess(m_pProcess);
        CFakeGame::Get().Reset();
    }

    static void Load(const std::string& name, std::uint32_t base, std::vector<std::uint8_t> image)
    {
        CFakeGame::Get().Map(base, std::move(image));
        CFakeGame::Get().AddModule(name, base);
    }

    std::uint32_t ByName(std::uint32_t base, const char* name)
    {
        return GetRemoteProcAddress(m_pProcess, base, name, 0, false);
    }
    std::uint32_t ByOrdinal(std::uint32_t base, std::uint32_t ordinal)
    {
        return GetRemoteProcAddress(m_pProcess, base, nullptr, ordinal, true);
    }

    PlatformProcess* m_pProcess = nullptr;
};

constexpr std::uint32_t kBase = 0x10000000;
constexpr std::uint32_t kOtherBase = 0x20000000;

} // namespace testpe
