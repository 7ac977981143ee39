#include "PeTestImage.h"
#include "tests/support/TestTempFolder.h"

#include <cstdlib>
#include <unistd.h>

using namespace testpe;

namespace
{
// ---- Real DLLs, compared with objdump --------------------------------------------
//
// The DLLs of Debian's wine64 (PE32+) and mingw-w64 (PE32) packages, laid out
// as the loader would, and `objdump -p FILE` (GNU binutils, run here) as the
// second reading of their export tables.

struct ObjdumpEntry
{
    std::uint32_t rva = 0;
    std::string forwarder; // empty when not forwarded
};

struct ObjdumpExports
{
    std::uint32_t ordinalBase = 0;
    std::uint32_t functionCount = 0;
    std::map<std::uint32_t, ObjdumpEntry> entries; // by function index; objdump omits rva 0
    std::vector<std::pair<std::string, std::uint32_t>> names; // in name-table order
};

// The objdumps tried in turn: GNU binutils' own reads PE images on Debian,
// and MinGW-w64's does where binutils is built without them.
constexpr const char* kObjdumps[] = {"objdump", "x86_64-w64-mingw32-objdump"};

// True when `program` is an executable file in a folder of PATH.
bool OnPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (!folder.empty() && access((folder + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

std::string RunObjdump(const std::string& path)
{
    for (const char* tool : kObjdumps)
    {
        const std::string command = std::string(tool) + " -p '" + path + "' 2>/dev/null";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        if (!pipe)
            continue;
        std::string output;
        char buffer[65536];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0)
            output.append(buffer, n);
        if (output.find("Export Address Table --") != std::string::npos)
            return output;
    }
    return std::string();
}

bool ParseObjdump(const std::string& text, ObjdumpExports& exports)
{
    std::istringstream in(text);
    std::string line;
    bool inNames = false;
    bool haveBase = false;
    while (std::getline(in, line))
    {
        unsigned index = 0;
        unsigned ordinal = 0;
        unsigned rva = 0;
        int consumed = 0;
        if (line.rfind("Export Address Table -- Ordinal Base ", 0) == 0)
        {
            exports.ordinalBase = static_cast<std::uint32_t>(std::stoul(line.substr(37)));
            haveBase = true;
        }
        else if (line.rfind("\tExport Address Table \t\t", 0) == 0)
            exports.functionCount =
                static_cast<std::uint32_t>(std::stoul(line.substr(24), nullptr, 16));
        else if (line == "[Ordinal/Name Pointer] Table")
            inNames = true;
        else if (inNames && line.empty())
            inNames = false;
        else if (inNames && std::sscanf(line.c_str(), "\t[%u] %n", &index, &consumed) == 1)
            exports.names.emplace_back(line.substr(static_cast<std::size_t>(consumed)), index);
        else if (std::sscanf(line.c_str(), "\t[%u] +base[%u] %x %n", &index, &ordinal, &rva,
                             &consumed) == 3)
        {
            ObjdumpEntry entry;
            entry.rva = rva;
            const std::string rest = line.substr(static_cast<std::size_t>(consumed));
            if (rest.rfind("Forwarder RVA -- ", 0) == 0)
                entry.forwarder = rest.substr(17);
            else if (rest != "Export RVA")
                return false;
            if (ordinal != index + exports.ordinalBase)
                return false;
            exports.entries[index] = entry;
        }
    }
    return haveBase && !exports.entries.empty();
}

// Lays a PE file out as the loader does: headers at the base, each section
// at its virtual address, rounded up to the section alignment.
bool LoadPeFile(const std::string& path, const std::string& name, std::uint32_t base)
{
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
    auto le16 = [&](std::size_t at)
    { return static_cast<std::uint32_t>(bytes.at(at) | (bytes.at(at + 1) << 8)); };
    auto le32 = [&](std::size_t at) { return le16(at) | (le16(at + 2) << 16); };
    if (bytes.size() < 64)
        return false;
    const std::size_t pe = le32(60);
    const std::uint32_t sections = le16(pe + 6);
    const std::size_t optional = pe + 24;
    const std::uint32_t alignment = le32(optional + 32);
    const std::uint32_t headers = le32(optional + 60);
    std::size_t section = optional + le16(pe + 20);
    auto roundUp = [&](std::uint32_t size)
    { return (size + alignment - 1) / alignment * alignment; };
    CFakeGame::Get().Map(base, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + headers));
    for (std::uint32_t i = 0; i < sections; ++i, section += 40)
    {
        const std::uint32_t virtualSize = le32(section + 8);
        const std::uint32_t address = le32(section + 12);
        const std::uint32_t rawSize = le32(section + 16);
        const std::uint32_t rawAt = le32(section + 20);
        std::vector<std::uint8_t> memory(roundUp(virtualSize != 0 ? virtualSize : rawSize));
        const std::size_t copy =
            std::min<std::size_t>({memory.size(), rawSize, bytes.size() - rawAt});
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(rawAt), copy, memory.begin());
        CFakeGame::Get().Map(std::uint64_t{base} + address, std::move(memory));
    }
    CFakeGame::Get().AddModule(name, base);
    return true;
}

// Where Debian's packages put the DLLs: Wine's PE32+ DLLs, and the i686
// MinGW-w64 runtime under the prefix /usr. TRELLON_WINE_DLL_DIR and
// TRELLON_MINGW_PREFIX name other places, such as an empty folder to see
// the tests skip.
std::string FromEnvironment(const char* name, const char* otherwise)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : otherwise;
}

const std::string kWineDir =
    FromEnvironment("TRELLON_WINE_DLL_DIR", "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows") + "/";
const std::string kMingwPrefix = FromEnvironment("TRELLON_MINGW_PREFIX", "/usr");

// The DLLs are libwine's and mingw-w64-i686-dev's and gcc-mingw-w64-i686's,
// which scripts/setup installs through wine64 and mingw-w64.
const std::string kWineMissing = "Wine's PE32+ DLLs are not installed (Debian package wine64, "
                                 "which brings libwine; looked in " +
                                 kWineDir + ", see TRELLON_WINE_DLL_DIR)";
const std::string kMingwMissing =
    "the i686 MinGW-w64 runtime DLLs are not installed (Debian package mingw-w64, which brings "
    "mingw-w64-i686-dev and gcc-mingw-w64-i686; looked under " +
    kMingwPrefix + ", see TRELLON_MINGW_PREFIX)";

std::string FindMingwGccDll(const std::string& file)
{
    const std::filesystem::path root = kMingwPrefix + "/lib/gcc/i686-w64-mingw32";
    std::error_code error;
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(root, error))
        if (std::filesystem::exists(entry.path() / file))
            found.push_back(entry.path() / file);
    std::sort(found.begin(), found.end());
    return found.empty() ? std::string() : found.front().string();
}

// A loaded real DLL with objdump's reading of it.
struct RealModule
{
    std::string name;
    std::uint32_t base = 0;
    ObjdumpExports exports;
};

class RemoteExportsOnRealDlls : public RemoteExports
{
protected:
    void SetUp() override
    {
        RemoteExports::SetUp();
        if (!OnPath(kObjdumps[0]) && !OnPath(kObjdumps[1]))
            GTEST_SKIP() << "objdump is not installed (Debian package binutils, or "
                            "binutils-mingw-w64-x86-64 for x86_64-w64-mingw32-objdump; looked "
                            "in PATH)";
    }

    // Loads `path` as module `name`; false (with a failure recorded) when
    // objdump can't read it.
    bool LoadReal(const std::string& path, const std::string& name, std::uint32_t base)
    {
        RealModule module;
        module.name = name;
        module.base = base;
        const std::string output = RunObjdump(path);
        if (!ParseObjdump(output, module.exports))
        {
            ADD_FAILURE() << "objdump -p did not describe the export table of " << path;
            return false;
        }
        if (!LoadPeFile(path, name, base))
        {
            ADD_FAILURE() << "cannot lay out " << path;
            return false;
        }
        m_modules.push_back(std::move(module));
        return true;
    }

    const RealModule* FindForwarderModule(const std::string& text) const
    {
        auto lower = [](std::string s)
        {
            for (char& c : s)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return s;
        };
        for (const std::string& candidate : {text, text + ".dll"})
            for (const RealModule& module : m_modules)
                if (lower(module.name) == lower(candidate))
                    return &module;
        return nullptr;
    }

    // What objdump's tables say the lookup must give for function `index` of
    // `module`: its address, or where its forwarder leads among the loaded
    // modules (0 when that module is not loaded). `known` is false when
    // objdump says nothing about the entry.
    std::uint32_t Expected(const RealModule& module, std::uint32_t index, bool& known,
                           int depth = 0) const
    {
        known = true;
        const auto it = module.exports.entries.find(index);
        if (it == module.exports.entries.end())
        {
            known = false;
            return 0;
        }
        if (it->second.forwarder.empty())
            return module.base + it->second.rva;
        const std::string& text = it->second.forwarder;
        const std::size_t dot = text.find('.');
        const RealModule* target = FindForwarderModule(text.substr(0, dot));
        if (target == nullptr || depth == 8)
            return 0;
        const std::string part = text.substr(dot + 1);
        if (part[0] == '#')
        {
            const std::uint32_t ordinal = static_cast<std::uint32_t>(std::stoul(part.substr(1)));
            return Expected(*target, ordinal - target->exports.ordinalBase, known, depth + 1);
        }
        for (const auto& [name, next] : target->exports.names)
            if (name.find(part) != std::string::npos)
                return Expected(*target, next, known, depth + 1);
        return 0;
    }

    // Compares every export of `module` (every `nameStep`-th name) by ordinal
    // and by name; returns how many were compared.
    struct Counts
    {
        int ordinals = 0;
        int names = 0;
        int forwarded = 0;
        int forwardedResolved = 0;
    };
    Counts CompareAll(const RealModule& module, std::size_t nameStep = 1)
    {
        Counts counts;
        const ObjdumpExports& exports = module.exports;
        EXPECT_LT(exports.entries.rbegin()->first, exports.functionCount);
        for (const auto& [index, entry] : exports.entries)
        {
            bool known = false;
            const std::uint32_t expected = Expected(module, index, known);
            const std::uint32_t got = ByOrdinal(module.base, exports.ordinalBase + index);
            EXPECT_EQ(got, expected) << module.name << " ordinal " << exports.ordinalBase + index
                                     << (entry.forwarder.empty() ? "" : " -> " + entry.forwarder);
            if (entry.forwarder.empty())
                EXPECT_EQ(got, module.base + entry.rva);
            else
            {
                ++counts.forwarded;
                EXPECT_NE(got, module.base + entry.rva) << "forwarder taken as an address";
                if (got != 0)
                    ++counts.forwardedResolved;
            }
            ++counts.ordinals;
        }
        if (exports.ordinalBase > 0)
        {
            EXPECT_EQ(ByOrdinal(module.base, exports.ordinalBase - 1), 0u);
        }
        EXPECT_EQ(ByOrdinal(module.base, exports.ordinalBase + exports.functionCount), 0u);

        for (std::size_t i = 0; i < exports.names.size(); ++i)
        {
            if (i % nameStep != 0 && i + 1 != exports.names.size())
                continue;
            const std::string& name = exports.names[i].first;
            // The lookup takes the earliest name containing the requested one.
            std::size_t earliest = 0;
            while (exports.names[earliest].first.find(name) == std::string::npos)
                ++earliest;
            bool known = false;
            const std::uint32_t expected = Expected(module, exports.names[earliest].second, known);
            if (!known)
                continue;
            EXPECT_EQ(ByName(module.base, name.c_str()), expected) << module.name << " " << name;
            if (earliest == i)
            {
                EXPECT_EQ(ByName(module.base, name.c_str()),
                          ByOrdinal(module.base, exports.ordinalBase + exports.names[i].second));
            }
            ++counts.names;
        }
        std::printf("[          ] %s: %d ordinals, %d names compared, %d forwarded (%d resolved)\n",
                    module.name.c_str(), counts.ordinals, counts.names, counts.forwarded,
                    counts.forwardedResolved);
        return counts;
    }

    std::vector<RealModule> m_modules;
};

bool Present(const std::string& path)
{
    return !path.empty() && std::filesystem::exists(path);
}

TEST_F(RemoteExportsOnRealDlls, WineKernel32ForwardsIntoNtdllAndKernelbase)
{
    const std::string kernel32 = kWineDir + "kernel32.dll";
    const std::string kernelbase = kWineDir + "kernelbase.dll";
    const std::string ntdll = kWineDir + "ntdll.dll";
    if (!Present(kernel32) || !Present(kernelbase) || !Present(ntdll))
        GTEST_SKIP() << kWineMissing;
    ASSERT_TRUE(LoadReal(kernel32, "kernel32.dll", 0x10000000));
    ASSERT_TRUE(LoadReal(ntdll, "ntdll.dll", 0x20000000));
    ASSERT_TRUE(LoadReal(kernelbase, "kernelbase.dll", 0x30000000));
    const Counts counts = CompareAll(m_modules[0]);
    EXPECT_GT(counts.forwarded, 50);
    EXPECT_EQ(counts.forwardedResolved, counts.forwarded);

    // Where the NTDLL forwarders land, checked against ntdll's own table.
    int intoNtdll = 0;
    for (const auto& [index, entry] : m_modules[0].exports.entries)
    {
        if (entry.forwarder.rfind("NTDLL.", 0) != 0)
            continue;
        const std::string target = entry.forwarder.substr(6);
        std::uint32_t expected = 0;
        for (const auto& [name, next] : m_modules[1].exports.names)
            if (name == target)
                expected = 0x20000000 + m_modules[1].exports.entries.at(next).rva;
        ASSERT_NE(expected, 0u) << target;
        EXPECT_EQ(ByOrdinal(0x10000000, m_modules[0].exports.ordinalBase + index), expected)
            << entry.forwarder;
        ++intoNtdll;
    }
    EXPECT_GT(intoNtdll, 50);
}

TEST_F(RemoteExportsOnRealDlls, WineKernel32WithoutItsTargetsGivesZeroForForwarders)
{
    const std::string kernel32 = kWineDir + "kernel32.dll";
    if (!Present(kernel32))
        GTEST_SKIP() << kWineMissing;
    ASSERT_TRUE(LoadReal(kernel32, "kernel32.dll", 0x10000000));
    const Counts counts = CompareAll(m_modules[0], 7);
    EXPECT_GT(counts.forwarded, 50);
    EXPECT_EQ(counts.forwardedResolved, 0);
}

TEST_F(RemoteExportsOnRealDlls, WineKernelbaseForwardsIntoLowerCaseNtdll)
{
    const std::string kernelbase = kWineDir + "kernelbase.dll";
    const std::string ntdll = kWineDir + "ntdll.dll";
    if (!Present(kernelbase) || !Present(ntdll))
        GTEST_SKIP() << kWineMissing;
    ASSERT_TRUE(LoadReal(kernelbase, "KernelBase.dll", 0x30000000));
    ASSERT_TRUE(LoadReal(ntdll, "NTDLL.DLL", 0x20000000));
    // Every ordinal, and every third name: each name lookup reads the names
    // before it byte by byte, so the whole table costs seconds (kernel32's
    // own test sweeps all its names).
    const Counts counts = CompareAll(m_modules[0], 3);
    EXPECT_GT(counts.forwarded, 50);
    EXPECT_EQ(counts.forwardedResolved, counts.forwarded);
}

TEST_F(RemoteExportsOnRealDlls, WineNtdllDdrawAndAtl)
{
    // ntdll is the largest table; ddraw the module the game loads; atl100 has
    // ordinal base 10 and gaps in its function table.
    const std::vector<std::string> files = {"ntdll.dll", "ddraw.dll", "atl100.dll"};
    for (const std::string& file : files)
        if (!Present(kWineDir + file))
            GTEST_SKIP() << kWineMissing;
    std::uint32_t base = 0x10000000;
    for (const std::string& file : files)
    {
        ASSERT_TRUE(LoadReal(kWineDir + file, file, base));
        base += 0x10000000;
    }
    EXPECT_EQ(m_modules[2].exports.ordinalBase, 10u);
    CompareAll(m_modules[0], 3); // every ordinal, every third of its 1,359 names
    CompareAll(m_modules[1]);
    CompareAll(m_modules[2]);
    EXPECT_EQ(GetGameModuleBase("ddraw.dll"), 0x20000000u);
}

TEST_F(RemoteExportsOnRealDlls, MingwPe32RuntimeDlls)
{
    const std::string gcc = FindMingwGccDll("libgcc_s_dw2-1.dll");
    const std::string cxx = FindMingwGccDll("libstdc++-6.dll");
    const std::string pthread = kMingwPrefix + "/i686-w64-mingw32/lib/libwinpthread-1.dll";
    if (!Present(gcc) || !Present(cxx) || !Present(pthread))
        GTEST_SKIP() << kMingwMissing;
    ASSERT_TRUE(LoadReal(gcc, "libgcc_s_dw2-1.dll", 0x10000000));
    ASSERT_TRUE(LoadReal(pthread, "libwinpthread-1.dll", 0x18000000));
    ASSERT_TRUE(LoadReal(cxx, "libstdc++-6.dll", 0x20000000));
    CompareAll(m_modules[0]);
    CompareAll(m_modules[1]);
    // Thousands of long names: every name by ordinal, a sample by name (the
    // lookup reads names byte by byte, so all of them would take minutes).
    CompareAll(m_modules[2], 151);
}

// The modules the PE writer of tools/pe builds (the demo game's wrapper),
// written to files and read back through objdump like the DLLs above: names
// added out of order come out sorted, and a forwarder into a second module
// of the writer's is followed.
TEST_F(RemoteExportsOnRealDlls, ModulesOfThePeWriterReadAsObjdumpReadsThem)
{
    for (const bool pe32Plus : {false, true})
    {
        SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
        m_modules.clear();
        CFakeGame::Get().ClearModules(); // the PE32 round's, which would be found first
        const std::uint32_t base = pe32Plus ? 0x30000000 : 0x10000000;
        const std::uint32_t helperBase = base + 0x10000000;
        CPeImageBuilder wrapper(pe32Plus);
        const std::uint32_t bits = wrapper.AddData("pvBmpBits", 0x40);
        wrapper.AddData("DirectDrawCreate", 0x80);
        wrapper.AddData("", 0xC0); // by ordinal only
        wrapper.AddName("Alloc", wrapper.AddForwarder("helper.Target"));
        CPeImageBuilder helper(pe32Plus);
        helper.SetOrdinalBase(5);
        const std::uint32_t target = helper.AddData("Target", 0x10);

        const std::filesystem::path folder = TestTempFolder();
        for (const auto& [file, image] :
             {std::pair{"ddraw.dll", wrapper.BuildModule("ddraw.dll", base)},
              std::pair{"helper.dll", helper.BuildModule("helper.dll", helperBase)}})
        {
            std::ofstream(folder / file, std::ios::binary)
                .write(reinterpret_cast<const char*>(image.data()),
                       static_cast<std::streamsize>(image.size()));
        }
        ASSERT_TRUE(LoadReal((folder / "ddraw.dll").string(), "ddraw.dll", base));
        ASSERT_TRUE(LoadReal((folder / "helper.dll").string(), "helper.dll", helperBase));

        const ObjdumpExports& exports = m_modules[0].exports;
        EXPECT_EQ(exports.entries.size(), 4u);
        const std::vector<std::pair<std::string, std::uint32_t>> sorted = {
            {"Alloc", 3}, {"DirectDrawCreate", 1}, {"pvBmpBits", 0}};
        EXPECT_EQ(exports.names, sorted);
        EXPECT_EQ(exports.entries.at(3).forwarder, "helper.Target");
        EXPECT_EQ(m_modules[1].exports.ordinalBase, 5u);
        const Counts counts = CompareAll(m_modules[0]);
        EXPECT_EQ(counts.forwardedResolved, 1);
        EXPECT_EQ(ByName(base, "pvBmpBits"), base + bits);
        EXPECT_EQ(ByName(base, "Alloc"), helperBase + target);
    }
}

} // namespace
