#include "tools/pe/PeImage.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace
{
void Put16(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t v)
{
    image[at] = static_cast<std::uint8_t>(v);
    image[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        image[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

constexpr std::uint32_t kAlign = 0x1000;
constexpr std::uint32_t kExportRva = 0x1000;
constexpr std::uint32_t kPeOffset = 0x40;
} // namespace

CPeImageBuilder::CPeImageBuilder(std::string dllName, std::uint32_t ordinalBase)
    : m_strDllName(std::move(dllName)), m_nOrdinalBase(ordinalBase)
{
}

std::uint32_t CPeImageBuilder::AddData(const std::string& name, std::uint32_t offset)
{
    m_entries.push_back({name, kDataRva + offset, {}});
    return kDataRva + offset;
}

void CPeImageBuilder::AddForwarder(const std::string& name, const std::string& target)
{
    m_entries.push_back({name, 0, target});
}

std::vector<std::uint8_t> CPeImageBuilder::Build(std::uint32_t imageBase) const
{
    return BuildImage(imageBase, false);
}

std::vector<std::uint8_t> CPeImageBuilder::BuildPe32Plus(std::uint64_t imageBase) const
{
    return BuildImage(imageBase, true);
}

std::vector<std::uint8_t> CPeImageBuilder::BuildImage(std::uint64_t imageBase, bool pe32Plus) const
{
    const std::uint32_t sizeOfImage = kDataRva + kDataSize;
    std::vector<std::uint8_t> image(sizeOfImage, 0);

    // DOS header and PE signature.
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 60, kPeOffset);
    std::memcpy(&image[kPeOffset], "PE\0\0", 4);
    // File header: one section, a DLL. PE32 for i386 (32-bit machine), or
    // PE32+ for x86-64 (large address aware).
    const std::size_t file = kPeOffset + 4;
    const std::uint32_t optionalSize = pe32Plus ? 240 : 224;
    Put16(image, file + 0, pe32Plus ? 0x8664 : 0x14C);
    Put16(image, file + 2, 1);
    Put16(image, file + 16, optionalSize);
    Put16(image, file + 18, pe32Plus ? 0x2022 : 0x2102);
    // Optional header; PE32+ widens the image base and drops the base of
    // data, so its data directories start 16 bytes further on.
    const std::size_t opt = file + 20;
    Put16(image, opt + 0, pe32Plus ? 0x20B : 0x10B);
    if (pe32Plus)
    {
        Put32(image, opt + 24, static_cast<std::uint32_t>(imageBase));
        Put32(image, opt + 28, static_cast<std::uint32_t>(imageBase >> 32));
    }
    else
        Put32(image, opt + 28, static_cast<std::uint32_t>(imageBase));
    Put32(image, opt + 32, kAlign);           // section alignment
    Put32(image, opt + 36, kAlign);           // file alignment
    Put16(image, opt + 40, pe32Plus ? 5 : 4); // operating system version
    Put16(image, opt + 48, pe32Plus ? 5 : 4); // subsystem version
    Put32(image, opt + 56, sizeOfImage);
    Put32(image, opt + 60, kAlign); // size of headers
    Put16(image, opt + 68, 2);      // subsystem: windows
    const std::size_t directories = opt + (pe32Plus ? 112 : 96);
    Put32(image, directories - 4, 16); // data directories

    // The export directory and its tables, names sorted as loaders expect.
    std::vector<std::size_t> named;
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        if (!m_entries[i].name.empty())
            named.push_back(i);
    std::sort(named.begin(), named.end(),
              [&](std::size_t a, std::size_t b) { return m_entries[a].name < m_entries[b].name; });
    const std::uint32_t functions = kExportRva + 40;
    const std::uint32_t names = functions + 4 * static_cast<std::uint32_t>(m_entries.size());
    const std::uint32_t ordinals = names + 4 * static_cast<std::uint32_t>(named.size());
    std::uint32_t text = ordinals + 2 * static_cast<std::uint32_t>(named.size());
    const auto putText = [&](const std::string& s)
    {
        const std::uint32_t at = text;
        std::memcpy(&image[at], s.c_str(), s.size() + 1);
        text += static_cast<std::uint32_t>(s.size() + 1);
        return at;
    };
    const std::uint32_t dllName = putText(m_strDllName);
    for (std::size_t i = 0; i < m_entries.size(); ++i)
    {
        const Entry& e = m_entries[i];
        Put32(image, functions + 4 * i, e.forwarder.empty() ? e.rva : putText(e.forwarder));
    }
    for (std::size_t k = 0; k < named.size(); ++k)
    {
        Put32(image, names + 4 * k, putText(m_entries[named[k]].name));
        Put16(image, ordinals + 2 * k, static_cast<std::uint32_t>(named[k]));
    }
    if (text > kDataRva)
        throw std::length_error("too many exports for the image's export section");
    const std::uint32_t exportSize = text - kExportRva;
    Put32(image, kExportRva + 12, dllName);
    Put32(image, kExportRva + 16, m_nOrdinalBase);
    Put32(image, kExportRva + 20, static_cast<std::uint32_t>(m_entries.size()));
    Put32(image, kExportRva + 24, static_cast<std::uint32_t>(named.size()));
    Put32(image, kExportRva + 28, functions);
    Put32(image, kExportRva + 32, names);
    Put32(image, kExportRva + 36, ordinals);
    Put32(image, directories, kExportRva);
    Put32(image, directories + 4, exportSize);

    // One section holding the export directory and the data area.
    const std::size_t section = opt + optionalSize;
    std::memcpy(&image[section], ".data\0\0\0", 8);
    Put32(image, section + 8, sizeOfImage - kExportRva);  // virtual size
    Put32(image, section + 12, kExportRva);               // virtual address
    Put32(image, section + 16, sizeOfImage - kExportRva); // size of raw data
    Put32(image, section + 20, kExportRva);               // pointer to raw data
    Put32(image, section + 36, 0xC0000040);               // initialised data, read, write
    return image;
}
