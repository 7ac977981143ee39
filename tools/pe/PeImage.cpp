#include "tools/pe/PeImage.h"

#include "base/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace
{
constexpr std::uint32_t kAlign = 0x1000;
constexpr std::size_t kModulePeAt = 0x40; // right behind the DOS header
constexpr std::size_t kExportImageMinBytes = 0x4000;
constexpr std::size_t kExportImageSlack = 0x100;
} // namespace

// How the headers in front of the export directory are laid out.
struct CPeImageBuilder::Headers
{
    std::size_t peAt = 0;
    bool loadable = false; // the fields only a loader reads, and a section
    std::uint64_t imageBase = 0;
    std::string dllName;
};

std::uint32_t CPeImageBuilder::AddFunction(std::uint32_t rva)
{
    m_functions.push_back({rva, std::string(), false});
    return static_cast<std::uint32_t>(m_functions.size() - 1);
}

std::uint32_t CPeImageBuilder::AddForwarder(const std::string& text)
{
    m_functions.push_back({0, text, true});
    return static_cast<std::uint32_t>(m_functions.size() - 1);
}

void CPeImageBuilder::AddName(const std::string& name, std::uint32_t index)
{
    m_names.push_back({name, index});
}

std::uint32_t CPeImageBuilder::AddData(const std::string& name, std::uint32_t offset)
{
    const std::uint32_t index = AddFunction(kDataRva + offset);
    if (!name.empty())
        AddName(name, index);
    return kDataRva + offset;
}

std::uint32_t CPeImageBuilder::NamesRva() const
{
    return FunctionsRva() + 4 * static_cast<std::uint32_t>(m_functions.size());
}

std::uint32_t CPeImageBuilder::DirectorySize() const
{
    std::size_t size = NamesRva() + 6 * m_names.size() - kExportRva;
    for (const Name& name : m_names)
        size += name.text.size() + 1;
    for (const Function& function : m_functions)
        if (function.isForwarder)
            size += function.forwarder.size() + 1;
    return static_cast<std::uint32_t>(size);
}

std::vector<std::uint8_t> CPeImageBuilder::BuildModule(const std::string& dllName,
                                                       std::uint64_t imageBase) const
{
    // Loaders look names up by binary search.
    std::vector<Name> names = m_names;
    std::stable_sort(names.begin(), names.end(),
                     [](const Name& a, const Name& b) { return a.text < b.text; });
    return Build({kModulePeAt, true, imageBase, dllName}, names);
}

std::vector<std::uint8_t> CPeImageBuilder::BuildExportImage() const
{
    return Build({kPeAt, false, 0, {}}, m_names);
}

std::vector<std::uint8_t> CPeImageBuilder::Build(const Headers& headers,
                                                 const std::vector<Name>& names) const
{
    const std::uint32_t directorySize =
        DirectorySize() +
        (headers.loadable ? static_cast<std::uint32_t>(headers.dllName.size() + 1) : 0);
    const std::size_t textEnd = std::size_t{kExportRva} + directorySize;
    std::size_t imageSize = std::max(kExportImageMinBytes, textEnd + kExportImageSlack);
    if (headers.loadable)
    {
        if (textEnd > kDataRva)
            throw std::length_error("too many exports for the image's export section");
        imageSize = kDataRva + kDataSize;
    }
    std::vector<std::uint8_t> image(imageSize, 0);
    std::uint8_t* const at = image.data();

    // DOS header and PE signature.
    StoreLe16(at, 0x5A4D); // "MZ"
    StoreLe32(at + 60, static_cast<std::uint32_t>(headers.peAt));
    std::memcpy(at + headers.peAt, "PE\0\0", 4);
    // File header: PE32 for i386 (32-bit machine), or PE32+ for x86-64.
    const std::size_t file = headers.peAt + 4;
    const std::uint16_t optionalSize = m_bPe32Plus ? 240 : 224;
    StoreLe16(at + file + 0, m_bPe32Plus ? 0x8664 : 0x14C);
    StoreLe16(at + file + 16, optionalSize);
    // Optional header; PE32+ widens the image base and drops the base of
    // data, so its data directories start 16 bytes further on.
    const std::size_t opt = file + 20;
    StoreLe16(at + opt + 0, m_bPe32Plus ? 0x20B : 0x10B);
    const std::size_t directories = opt + (m_bPe32Plus ? 112 : 96);
    StoreLe32(at + directories - 4, 16); // data directories
    StoreLe32(at + directories, kExportRva);
    StoreLe32(at + directories + 4, directorySize);
    if (headers.loadable)
    {
        const std::uint32_t sizeOfImage = kDataRva + kDataSize;
        // One section, a DLL (large address aware as PE32+).
        StoreLe16(at + file + 2, 1);
        StoreLe16(at + file + 18, m_bPe32Plus ? 0x2022 : 0x2102);
        if (m_bPe32Plus)
            StoreLe64(at + opt + 24, headers.imageBase);
        else
            StoreLe32(at + opt + 28, static_cast<std::uint32_t>(headers.imageBase));
        StoreLe32(at + opt + 32, kAlign);              // section alignment
        StoreLe32(at + opt + 36, kAlign);              // file alignment
        StoreLe16(at + opt + 40, m_bPe32Plus ? 5 : 4); // operating system version
        StoreLe16(at + opt + 48, m_bPe32Plus ? 5 : 4); // subsystem version
        StoreLe32(at + opt + 56, sizeOfImage);
        StoreLe32(at + opt + 60, kAlign); // size of headers
        StoreLe16(at + opt + 68, 2);      // subsystem: windows
        // One section holding the export directory and the data area.
        const std::size_t section = opt + optionalSize;
        std::memcpy(at + section, ".data\0\0\0", 8);
        StoreLe32(at + section + 8, sizeOfImage - kExportRva);  // virtual size
        StoreLe32(at + section + 12, kExportRva);               // virtual address
        StoreLe32(at + section + 16, sizeOfImage - kExportRva); // size of raw data
        StoreLe32(at + section + 20, kExportRva);               // pointer to raw data
        StoreLe32(at + section + 36, 0xC0000040);               // initialised data, read, write
    }

    // The export directory, its tables and the texts behind them.
    const std::uint32_t functions = FunctionsRva();
    const std::uint32_t nameTable = NamesRva();
    const std::uint32_t ordinals = nameTable + 4 * static_cast<std::uint32_t>(names.size());
    std::uint32_t text = ordinals + 2 * static_cast<std::uint32_t>(names.size());
    const auto putText = [&](const std::string& s)
    {
        const std::uint32_t rva = text;
        std::memcpy(at + rva, s.c_str(), s.size() + 1);
        text += static_cast<std::uint32_t>(s.size() + 1);
        return rva;
    };
    if (headers.loadable)
        StoreLe32(at + kExportRva + 12, putText(headers.dllName));
    StoreLe32(at + kOrdinalBaseAt, m_nOrdinalBase);
    StoreLe32(at + kFunctionCountAt, static_cast<std::uint32_t>(m_functions.size()));
    StoreLe32(at + kNameCountAt, static_cast<std::uint32_t>(names.size()));
    StoreLe32(at + kFunctionsRvaAt, functions);
    StoreLe32(at + kExportRva + 32, nameTable);
    StoreLe32(at + kExportRva + 36, ordinals);
    for (std::size_t i = 0; i < names.size(); ++i)
    {
        StoreLe32(at + nameTable + 4 * i, putText(names[i].text));
        StoreLe16(at + ordinals + 2 * i, static_cast<std::uint16_t>(names[i].index));
    }
    for (std::size_t i = 0; i < m_functions.size(); ++i)
    {
        const Function& f = m_functions[i];
        StoreLe32(at + functions + 4 * i, f.isForwarder ? putText(f.forwarder) : f.rva);
    }
    return image;
}
