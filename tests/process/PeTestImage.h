#pragma once

// The PE image builder and the fake-game fixture shared by the export lookup tests.
#include "process/Process.h"
#include "process/RemoteExports.h"
#include "process/fake/FakeGame.h"

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

inline void Put16(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t value)
{
    image.at(at) = static_cast<std::uint8_t>(value);
    image.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

inline void Put32(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        image.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(value >> (8 * i));
}

// A small loaded PE image with an export directory, laid out as the loader
// leaves it in memory: the headers at 0, the export directory at kExportRva
// followed by its three tables, the export names and the forwarder texts,
// the directory's size covering exactly that. Tests corrupt fields of the
// result through the offsets below.
class CPeBuilder
{
public:
    static constexpr std::size_t kPeAt = 0x80;
    static constexpr std::size_t kFileHeaderAt = kPeAt + 4;
    static constexpr std::size_t kOptionalAt = kPeAt + 24;
    static constexpr std::uint32_t kExportRva = 0x1000;
    static constexpr std::size_t kOrdinalBaseAt = kExportRva + 16;
    static constexpr std::size_t kFunctionCountAt = kExportRva + 20;
    static constexpr std::size_t kNameCountAt = kExportRva + 24;
    static constexpr std::size_t kFunctionsRvaAt = kExportRva + 28;

    explicit CPeBuilder(bool pe32Plus = false) : m_bPe32Plus(pe32Plus) {}

    // Function table entries, in order; each returns its index.
    std::uint32_t AddFunction(std::uint32_t rva)
    {
        m_functions.push_back({rva, std::string(), false});
        return static_cast<std::uint32_t>(m_functions.size() - 1);
    }
    std::uint32_t AddForwarder(const std::string& text)
    {
        m_functions.push_back({0, text, true});
        return static_cast<std::uint32_t>(m_functions.size() - 1);
    }
    // Name table entries, in table order.
    void AddName(const std::string& name, std::uint32_t index) { m_names.push_back({name, index}); }
    // Both at once.
    void AddExport(const std::string& name, std::uint32_t rva) { AddName(name, AddFunction(rva)); }
    void SetOrdinalBase(std::uint32_t base) { m_nOrdinalBase = base; }

    std::size_t DirectorySizeAt() const { return kOptionalAt + (m_bPe32Plus ? 116u : 100u); }
    std::uint32_t DirectorySize() const { return m_nDirectorySize; }
    std::size_t DirectoriesCountAt() const { return kOptionalAt + (m_bPe32Plus ? 108u : 92u); }
    std::size_t NameRvaAt(std::size_t i) const { return m_nNamesRva + 4 * i; }
    std::uint32_t ForwarderRva(std::uint32_t index) const { return m_forwarderRvas.at(index); }

    std::vector<std::uint8_t> Build()
    {
        const std::uint32_t functionsRva = kExportRva + 40;
        m_nNamesRva = functionsRva + 4 * static_cast<std::uint32_t>(m_functions.size());
        const std::uint32_t ordinalsRva =
            m_nNamesRva + 4 * static_cast<std::uint32_t>(m_names.size());
        std::uint32_t textRva = ordinalsRva + 2 * static_cast<std::uint32_t>(m_names.size());
        std::size_t textSize = 0;
        for (const SName& name : m_names)
            textSize += name.text.size() + 1;
        for (const SFunction& function : m_functions)
            textSize += function.forwarder.size() + 1;
        std::vector<std::uint8_t> image(std::max<std::size_t>(0x4000, textRva + textSize + 0x100));

        Put16(image, 0, 0x5A4D);
        Put32(image, 60, static_cast<std::uint32_t>(kPeAt));
        Put32(image, kPeAt, 0x00004550);
        Put16(image, kFileHeaderAt, m_bPe32Plus ? 0x8664 : 0x14C);
        Put16(image, kFileHeaderAt + 16, m_bPe32Plus ? 240 : 224);
        Put16(image, kOptionalAt, m_bPe32Plus ? 0x20B : 0x10B);
        Put32(image, DirectoriesCountAt(), 16);
        Put32(image, DirectoriesCountAt() + 4, kExportRva);

        Put32(image, kOrdinalBaseAt, m_nOrdinalBase);
        Put32(image, kFunctionCountAt, static_cast<std::uint32_t>(m_functions.size()));
        Put32(image, kNameCountAt, static_cast<std::uint32_t>(m_names.size()));
        Put32(image, kFunctionsRvaAt, functionsRva);
        Put32(image, kExportRva + 32, m_nNamesRva);
        Put32(image, kExportRva + 36, ordinalsRva);

        auto putText = [&](const std::string& text)
        {
            const std::uint32_t at = textRva;
            std::memcpy(image.data() + at, text.data(), text.size());
            image[at + text.size()] = 0;
            textRva += static_cast<std::uint32_t>(text.size() + 1);
            return at;
        };
        for (std::size_t i = 0; i < m_names.size(); ++i)
        {
            Put32(image, m_nNamesRva + 4 * i, putText(m_names[i].text));
            Put16(image, ordinalsRva + 2 * i, m_names[i].index);
        }
        m_forwarderRvas.assign(m_functions.size(), 0);
        for (std::size_t i = 0; i < m_functions.size(); ++i)
        {
            std::uint32_t rva = m_functions[i].rva;
            if (m_functions[i].bForwarder)
                m_forwarderRvas[i] = rva = putText(m_functions[i].forwarder);
            Put32(image, functionsRva + 4 * i, rva);
        }
        // Forwarder texts come last, so the final byte of the range is the
        // NUL of the last one.
        m_nDirectorySize = textRva - kExportRva;
        Put32(image, DirectorySizeAt(), m_nDirectorySize);
        return image;
    }

private:
    struct SFunction
    {
        std::uint32_t rva;
        std::string forwarder;
        bool bForwarder;
    };
    struct SName
    {
        std::string text;
        std::uint32_t index;
    };

    bool m_bPe32Plus;
    std::uint32_t m_nOrdinalBase = 1;
    std::vector<SFunction> m_functions;
    std::vector<SName> m_names;
    std::vector<std::uint32_t> m_forwarderRvas;
    std::uint32_t m_nNamesRva = 0;
    std::uint32_t m_nDirectorySize = 0;
};

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
