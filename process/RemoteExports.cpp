#include "process/RemoteExports.h"

#include "base/ByteOrder.h"
#include "process/Process.h"

#include <cstddef>
#include <string>
#include <vector>

// The export walk reads a loaded PE image from outside the game: DOS header,
// PE signature, file header, the PE32 or PE32+ optional header, the export
// directory and its three tables, then export names and forwarder texts one
// byte per read. Everything it reads comes from a process we don't control,
// so every count and length is bounded before it sizes an allocation or a
// read, every address must stay below 4 GiB (the game is a 32-bit process),
// and a forwarded export is followed to a fixed depth only. No step raises:
// whatever goes wrong makes the lookup give 0.

namespace
{
// Ordinals are 16-bit in the name-ordinal table, so no image can name more.
constexpr std::uint32_t kMaxExports = 65536;
// Characters of an export name or forwarder text before its NUL.
constexpr std::size_t kMaxExportNameLength = 512;
// Forwarders followed in one lookup; a chain that comes back to a module it
// has visited ends here instead of running forever.
constexpr int kMaxForwarderDepth = 8;
constexpr std::uint64_t kGameAddressEnd = 0x100000000;

constexpr std::uint16_t kDosSignature = 0x5A4D;
constexpr std::uint32_t kPeSignature = 0x00004550;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint16_t kPe32OptionalSize = 224;
constexpr std::uint16_t kPe32PlusOptionalSize = 240;
constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kExportDirectorySize = 40;

// A read of exactly `size` bytes inside the game's 4 GiB. A short read counts
// as a failure: the bytes it did not copy would otherwise be taken as zeros.
bool ReadRemote(PlatformProcess* process, std::uint64_t address, void* buffer, std::size_t size)
{
    if (address > kGameAddressEnd || size > kGameAddressEnd - address)
        return false;
    std::size_t copied = 0;
    return PlatformRead(process, address, buffer, size, copied) && copied == size;
}

// A NUL-terminated text, one byte per remote read. False when a byte can't be
// read or no NUL comes within kMaxExportNameLength characters.
bool ReadText(PlatformProcess* process, std::uint64_t address, std::string& text)
{
    text.clear();
    for (std::size_t i = 0; i <= kMaxExportNameLength; ++i)
    {
        std::uint8_t c = 0;
        if (!ReadRemote(process, address + i, &c, 1))
            return false;
        if (c == 0)
            return true;
        text.push_back(static_cast<char>(c));
    }
    return false;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
    {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// A module the 32-bit game can address; a same-named library mapped above
// 4 GiB (a 64-bit host copy under Wine) is not one of the game's.
bool IsGameBase(std::uint64_t base)
{
    return base != 0 && base < kGameAddressEnd;
}

// The module a forwarder text names, found the way the Windows loader finds
// it: forwarders name their module without an extension ("NTDLL.RtlFoo")
// while module lists carry one ("ntdll.dll"), and case does not matter.
std::uint32_t FindForwarderModule(const std::string& module)
{
    std::uint64_t window = 0;
    const PlatformPid pid = PlatformFindWindowProcess(CProcess::kGameTitle, window);
    if (pid == 0)
        return 0;
    std::vector<PlatformModule> modules;
    if (!PlatformListModules(pid, modules))
        return 0;
    for (const PlatformModule& entry : modules)
        if (IsGameBase(entry.base) && entry.name == module)
            return static_cast<std::uint32_t>(entry.base);
    for (const PlatformModule& entry : modules)
        if (IsGameBase(entry.base) && EqualsIgnoringCase(entry.name, module))
            return static_cast<std::uint32_t>(entry.base);
    const std::string withExtension = module + ".dll";
    for (const PlatformModule& entry : modules)
        if (IsGameBase(entry.base) && EqualsIgnoringCase(entry.name, withExtension))
            return static_cast<std::uint32_t>(entry.base);
    return 0;
}

// What one module's export tables say about the export asked for: its game
// address, or the forwarder text that sends the lookup on.
struct ExportEntry
{
    std::uint32_t nAddress = 0;
    bool bForwarded = false;
    std::string strForwarder;
};

// The export a lookup asks for: by name (the first export in the name table
// whose name contains it) or by ordinal.
struct ExportWanted
{
    std::string strName;
    std::uint32_t nOrdinal = 0;
    bool bByOrdinal = false;
};

// Whether the platform is asked first if a module lies at the base given
// (and where it says it lies). A base just taken from the process's module
// list needs no second asking, which on Linux would be a second parse of
// /proc/PID/maps.
enum BaseCheck
{
    BC_LISTED,  // straight from the module list: taken as it is
    BC_CONFIRM, // from a caller or a forwarder: confirmed first
};

// A module's export directory and its three tables, as read from the game.
struct ExportTables
{
    std::uint64_t nBase = 0;           // the module's
    std::uint32_t nRva = 0, nSize = 0; // the directory's range
    std::uint32_t nOrdinalBase = 0;    // the ordinal of function 0
    std::uint32_t nFunctionCount = 0, nNameCount = 0;
    std::vector<std::uint8_t> functions;    // 4 bytes each: an RVA
    std::vector<std::uint8_t> names;        // 4 bytes each: the RVA of a name
    std::vector<std::uint8_t> nameOrdinals; // 2 bytes each: a function index
};

// Follows the DOS, PE and optional headers of the image at `base` to its
// export directory's range. False for anything that is not a PE image with
// one.
bool ReadExportRange(PlatformProcess* process, std::uint64_t base, ExportTables& tables)
{
    std::uint8_t dos[kDosHeaderSize];
    if (!ReadRemote(process, base, dos, sizeof dos) || LoadLe16(dos) != kDosSignature)
        return false;
    const std::uint64_t pe = base + LoadLe32(dos + 60);

    std::uint8_t signature[4];
    if (!ReadRemote(process, pe, signature, sizeof signature) ||
        LoadLe32(signature) != kPeSignature)
        return false;

    std::uint8_t fileHeader[kFileHeaderSize];
    if (!ReadRemote(process, pe + 4, fileHeader, sizeof fileHeader))
        return false;

    std::uint8_t optional[kPe32PlusOptionalSize];
    std::size_t directoriesAt = 0;
    std::uint16_t magic = 0;
    const std::uint16_t optionalSize = LoadLe16(fileHeader + 16);
    if (optionalSize == kPe32PlusOptionalSize)
    {
        magic = kPe32PlusMagic;
        directoriesAt = 108;
    }
    else if (optionalSize == kPe32OptionalSize)
    {
        magic = kPe32Magic;
        directoriesAt = 92;
    }
    else
        return false;
    if (!ReadRemote(process, pe + 24, optional, optionalSize) || LoadLe16(optional) != magic ||
        LoadLe32(optional + directoriesAt) < 1)
        return false;
    tables.nBase = base;
    tables.nRva = LoadLe32(optional + directoriesAt + 4);
    tables.nSize = LoadLe32(optional + directoriesAt + 8);
    return true;
}

// Reads the export directory and its three tables, once their counts are
// found to fit the directory's range.
bool ReadExportTables(PlatformProcess* process, ExportTables& tables)
{
    const std::uint64_t base = tables.nBase;
    std::uint8_t directory[kExportDirectorySize];
    if (!ReadRemote(process, base + tables.nRva, directory, sizeof directory))
        return false;
    tables.nOrdinalBase = LoadLe32(directory + 16);
    tables.nFunctionCount = LoadLe32(directory + 20);
    tables.nNameCount = LoadLe32(directory + 24);

    // The directory's range holds the directory itself and its three tables,
    // so the counts can be no larger than that range allows; the named limit
    // keeps the allocations small even when a huge range claims otherwise.
    if (tables.nFunctionCount > kMaxExports || tables.nNameCount > kMaxExports ||
        kExportDirectorySize + 4ull * tables.nFunctionCount + 6ull * tables.nNameCount >
            tables.nSize)
        return false;

    tables.functions.resize(4 * std::size_t{tables.nFunctionCount});
    tables.names.resize(4 * std::size_t{tables.nNameCount});
    tables.nameOrdinals.resize(2 * std::size_t{tables.nNameCount});
    const struct
    {
        std::vector<std::uint8_t>& bytes;
        std::uint32_t nRva;
    } parts[] = {{tables.functions, LoadLe32(directory + 28)},
                 {tables.names, LoadLe32(directory + 32)},
                 {tables.nameOrdinals, LoadLe32(directory + 36)}};
    for (const auto& part : parts)
        if (!part.bytes.empty() &&
            !ReadRemote(process, base + part.nRva, part.bytes.data(), part.bytes.size()))
            return false;
    return true;
}

// The function index of the export wanted: its ordinal less the ordinal
// base, or the index the name-ordinal table gives the first name that
// contains the name wanted.
bool FindFunctionIndex(PlatformProcess* process, const ExportTables& tables,
                       const ExportWanted& wanted, std::uint32_t& index)
{
    if (wanted.bByOrdinal)
    {
        if (wanted.nOrdinal < tables.nOrdinalBase)
            return false;
        index = wanted.nOrdinal - tables.nOrdinalBase;
        return true;
    }
    std::string exportName;
    exportName.reserve(kMaxExportNameLength + 1);
    for (std::uint32_t i = 0; i < tables.nNameCount; ++i)
    {
        if (!ReadText(process, tables.nBase + LoadLe32(&tables.names[4 * std::size_t{i}]),
                      exportName))
            return false;
        if (exportName.find(wanted.strName) != std::string::npos)
        {
            index = LoadLe16(&tables.nameOrdinals[2 * std::size_t{i}]);
            return true;
        }
    }
    return false;
}

// Looks up `wanted` in the module at `moduleBase`: its address, or the
// forwarder text that names where it lies.
bool FindExport(PlatformProcess* process, std::uint32_t moduleBase, BaseCheck check,
                const ExportWanted& wanted, ExportEntry& found)
{
    std::uint64_t base = moduleBase;
    if (check == BC_CONFIRM &&
        (!PlatformModuleBase(process, moduleBase, base) || base >= kGameAddressEnd))
        return false;

    ExportTables tables;
    std::uint32_t index = 0;
    if (!ReadExportRange(process, base, tables) || !ReadExportTables(process, tables) ||
        !FindFunctionIndex(process, tables, wanted, index) || index >= tables.nFunctionCount)
        return false;

    const std::uint32_t rva = LoadLe32(&tables.functions[4 * std::size_t{index}]);
    if (rva >= tables.nRva && std::uint64_t{rva} < std::uint64_t{tables.nRva} + tables.nSize)
    {
        found.bForwarded = true;
        return ReadText(process, base + rva, found.strForwarder);
    }
    if (base + rva >= kGameAddressEnd)
        return false;
    found.bForwarded = false;
    found.nAddress = static_cast<std::uint32_t>(base + rva);
    return true;
}
} // namespace

std::uint32_t GetRemoteModuleBase(const char* name, PlatformPid pid)
{
    // Process id 0 stands for no game; there is nothing to list.
    if (name == nullptr || pid == 0)
        return 0;
    std::vector<PlatformModule> modules;
    if (!PlatformListModules(pid, modules))
        return 0;
    for (const PlatformModule& module : modules)
        if (IsGameBase(module.base) && EqualsIgnoringCase(module.name, name))
            return static_cast<std::uint32_t>(module.base);
    return 0;
}

std::uint32_t GetGameModuleBase(const char* name)
{
    std::uint64_t window = 0;
    const PlatformPid pid = PlatformFindWindowProcess(CProcess::kGameTitle, window);
    if (pid == 0)
        return 0;
    return GetRemoteModuleBase(name, pid);
}

namespace
{
// GetRemoteProcAddress, told whether `base` came from the module list.
std::uint32_t LookUpExport(PlatformProcess* process, std::uint32_t base, BaseCheck firstCheck,
                           ExportWanted wanted)
{
    // Each step's tables are freed before the next module is walked, so a
    // chain of forwarders holds one module's tables at a time.
    for (int forwarders = 0;; ++forwarders)
    {
        ExportEntry found;
        if (!FindExport(process, base, forwarders > 0 ? BC_CONFIRM : firstCheck, wanted, found))
            return 0;
        if (!found.bForwarded)
            return found.nAddress;
        if (forwarders == kMaxForwarderDepth)
            return 0;

        const std::string& text = found.strForwarder;
        const std::size_t dot = text.find('.');
        if (dot == std::string::npos)
            return 0;
        // A module that isn't loaded ends the lookup here rather than walking
        // whatever might answer at base 0.
        base = FindForwarderModule(text.substr(0, dot));
        if (base == 0)
            return 0;
        const std::string part = text.substr(dot + 1);
        if (!part.empty() && part[0] == '#')
        {
            std::uint64_t value = 0;
            for (std::size_t i = 1; i < part.size() && part[i] >= '0' && part[i] <= '9'; ++i)
            {
                value = value * 10 + static_cast<std::uint64_t>(part[i] - '0');
                if (value >= kGameAddressEnd)
                    return 0; // no ordinal that large exists
            }
            wanted.nOrdinal = static_cast<std::uint32_t>(value);
            wanted.bByOrdinal = true;
        }
        else
        {
            wanted.strName = part;
            wanted.bByOrdinal = false;
        }
    }
}
} // namespace

std::uint32_t GetRemoteProcAddress(PlatformProcess* process, std::uint32_t base, const char* name,
                                   std::uint32_t ordinal, bool byOrdinal)
{
    if (!byOrdinal && name == nullptr)
        return 0;
    ExportWanted wanted;
    wanted.strName = byOrdinal ? std::string() : std::string(name);
    wanted.nOrdinal = ordinal;
    wanted.bByOrdinal = byOrdinal;
    return LookUpExport(process, base, BC_CONFIRM, wanted);
}

std::uint32_t CProcess::GetScreenBitsAddress()
{
    // The attached process itself: its id is known, so the window search (a
    // walk of the whole X tree on Linux) is not repeated, and a second game
    // whose window appeared meanwhile can't lend its module list to the
    // process whose memory is read.
    if (!m_bAttached)
        return 0;
    const std::uint32_t base = GetRemoteModuleBase("ddraw.dll", m_nPid);
    if (base == 0)
        return 0;
    ExportWanted wanted;
    wanted.strName = "pvBmpBits";
    return LookUpExport(m_hProcess, base, BC_LISTED, wanted);
}
