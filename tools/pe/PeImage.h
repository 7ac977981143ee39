#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Writes small PE images that export data, in two shapes over the same
// export directory:
//   - a module (BuildModule): the headers a loader wants, one section with
//     the export directory and a data area, section and file alignment equal,
//     so that the file mapped from offset 0 is laid out exactly as a loader
//     would lay it out. The demo game maps it as its "ddraw.dll"; PE32 is the
//     game's own kind, PE32+ one that a 64-bit process (the demo game on
//     Windows) can load with the system's loader;
//   - an export image (BuildExportImage): only the fields that an export
//     lookup reads, with the tables exactly as they were added (names in any
//     order, name ordinals outside the function table), as the export lookup's
//     tests want them; the offsets below let a test damage fields afterwards.
// Both lay the export directory at kExportRva, followed by its three tables
// (functions, names, name ordinals) and then the texts: the DLL's name, the
// export names in table order and the forwarder texts in function order, so
// that the directory's last byte is the NUL of the last forwarder text.
class CPeImageBuilder
{
public:
    static constexpr std::uint32_t kExportRva = 0x1000;
    static constexpr std::uint32_t kDataRva = 0x2000; // a module's data area
    static constexpr std::uint32_t kDataSize = 0x1000;
    // Fields of the export directory.
    static constexpr std::size_t kOrdinalBaseAt = kExportRva + 16;
    static constexpr std::size_t kFunctionCountAt = kExportRva + 20;
    static constexpr std::size_t kNameCountAt = kExportRva + 24;
    static constexpr std::size_t kFunctionsRvaAt = kExportRva + 28;
    // Where an export image keeps its headers (a module keeps them at 0x40).
    static constexpr std::size_t kPeAt = 0x80;
    static constexpr std::size_t kFileHeaderAt = kPeAt + 4;
    static constexpr std::size_t kOptionalAt = kPeAt + 24;

    explicit CPeImageBuilder(bool pe32Plus = false) : m_bPe32Plus(pe32Plus) {}

    // A function table entry; returns its index.
    std::uint32_t AddFunction(std::uint32_t rva);
    // A function table entry whose rva points at a forwarder text such as
    // "NTDLL.RtlAllocateHeap" or "other.#12"; returns its index.
    std::uint32_t AddForwarder(const std::string& text);
    // A name table entry for function `index`, after those added before.
    void AddName(const std::string& name, std::uint32_t index);
    // A function and its name at once.
    void AddExport(const std::string& name, std::uint32_t rva) { AddName(name, AddFunction(rva)); }
    // An export of a module's data area at kDataRva + offset, by ordinal
    // only when `name` is empty; returns its rva.
    std::uint32_t AddData(const std::string& name, std::uint32_t offset);
    void SetOrdinalBase(std::uint32_t base) { m_nOrdinalBase = base; }

    // The module called `dllName`, its names sorted as loaders expect them;
    // raises std::length_error when the texts do not fit before the data area.
    std::vector<std::uint8_t> BuildModule(const std::string& dllName,
                                          std::uint64_t imageBase) const;
    // The export image: at least 16 KiB, and 256 bytes past its last text.
    std::vector<std::uint8_t> BuildExportImage() const;

    // Offsets in an export image.
    std::size_t DirectoriesCountAt() const { return kOptionalAt + (m_bPe32Plus ? 108u : 92u); }
    std::size_t DirectorySizeAt() const { return DirectoriesCountAt() + 8; }
    std::size_t NameRvaAt(std::size_t i) const { return NamesRva() + 4 * i; }
    // The export directory's size as an export image's data directory gives
    // it (a module's adds its DLL name).
    std::uint32_t DirectorySize() const;

private:
    struct Function
    {
        std::uint32_t rva;
        std::string forwarder;
        bool isForwarder;
    };
    struct Name
    {
        std::string text;
        std::uint32_t index;
    };
    struct Headers;

    std::uint32_t FunctionsRva() const { return kExportRva + 40; }
    std::uint32_t NamesRva() const;
    std::vector<std::uint8_t> Build(const Headers& headers, const std::vector<Name>& names) const;

    bool m_bPe32Plus;
    std::uint32_t m_nOrdinalBase = 1;
    std::vector<Function> m_functions;
    std::vector<Name> m_names;
};
