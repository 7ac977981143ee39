#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Builds a small DLL image that exports data: the headers, one section with
// the export directory and a data area. Section and file alignment are
// equal, so the file mapped from offset 0 is laid out exactly as a loader
// would lay it out. The demo game maps such an image as its "ddraw.dll", and
// tests use it as a module of the fake game. Build gives a PE32 image for
// i386, the game's own kind; BuildPe32Plus gives the same image as a PE32+
// one for x86-64, which a 64-bit process (the demo game on Windows) can load
// with the system's loader.
struct PeExport
{
    std::string name;  // empty: exported by ordinal only
    std::uint32_t rva; // relative address of the export
};

class CPeImageBuilder
{
public:
    static constexpr std::uint32_t kDataRva = 0x2000; // start of the data area
    static constexpr std::uint32_t kDataSize = 0x1000;

    explicit CPeImageBuilder(std::string dllName, std::uint32_t ordinalBase = 1);

    // An export of the data area at kDataRva + offset; returns its rva.
    std::uint32_t AddData(const std::string& name, std::uint32_t offset);
    // An export whose rva points into the export directory at a forwarder
    // text such as "NTDLL.RtlAllocateHeap" or "other.#12".
    void AddForwarder(const std::string& name, const std::string& target);

    std::vector<std::uint8_t> Build(std::uint32_t imageBase) const;
    std::vector<std::uint8_t> BuildPe32Plus(std::uint64_t imageBase) const;

private:
    std::vector<std::uint8_t> BuildImage(std::uint64_t imageBase, bool pe32Plus) const;

    struct Entry
    {
        std::string name;
        std::uint32_t rva;     // for data exports
        std::string forwarder; // for forwarded exports
    };
    std::string m_strDllName;
    std::uint32_t m_nOrdinalBase;
    std::vector<Entry> m_entries;
};
