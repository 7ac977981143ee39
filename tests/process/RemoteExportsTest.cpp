#include "PeTestImage.h"

using namespace testpe;

namespace
{
// ---- Module lookup ---------------------------------------------------------

TEST_F(RemoteExports, FindsModuleByItsExactName)
{
    CFakeGame::Get().AddModule("kernel32.dll", 0x7B000000);
    CFakeGame::Get().AddModule("ddraw.dll", kBase);
    EXPECT_EQ(GetRemoteModuleBase("ddraw.dll", kPid), kBase);
    EXPECT_EQ(GetGameModuleBase("ddraw.dll"), kBase);
}

TEST_F(RemoteExports, ModuleNameCompareIgnoresAsciiCase)
{
    // Windows and Wine's loader take "DDRAW.DLL" for "ddraw.dll".
    CFakeGame::Get().AddModule("DDRAW.DLL", kBase);
    CFakeGame::Get().AddModule("\xC4" "draw.dll", kOtherBase); // no case folding beyond ASCII
    EXPECT_EQ(GetRemoteModuleBase("ddraw.dll", kPid), kBase);
    EXPECT_EQ(GetRemoteModuleBase("\xE4" "draw.dll", kPid), 0u);
}

TEST_F(RemoteExports, ModuleNameGetsNoExtensionAddedOrRemoved)
{
    CFakeGame::Get().AddModule("ddraw.dll", kBase);
    CFakeGame::Get().AddModule("wrap", kOtherBase);
    EXPECT_EQ(GetRemoteModuleBase("ddraw", kPid), 0u);
    EXPECT_EQ(GetRemoteModuleBase("wrap.dll", kPid), 0u);
}

TEST_F(RemoteExports, FirstModuleOfTheNameInListOrderWins)
{
    CFakeGame::Get().AddModule("ddraw.dll", kOtherBase);
    CFakeGame::Get().AddModule("ddraw.dll", kBase);
    EXPECT_EQ(GetRemoteModuleBase("ddraw.dll", kPid), kOtherBase);
}

TEST_F(RemoteExports, ModuleMappedAbove4GiBIsNotTheGames)
{
    CFakeGame::Get().AddModule("ddraw.dll", 0x7F0000000000);
    CFakeGame::Get().AddModule("ddraw.dll", kBase);
    EXPECT_EQ(GetRemoteModuleBase("ddraw.dll", kPid), kBase);
}

TEST_F(RemoteExports, FailedModuleListGivesZero)
{
    CFakeGame::Get().AddModule("ddraw.dll", kBase);
    CFakeGame::Get().FailModuleList(true);
    EXPECT_EQ(GetRemoteModuleBase("ddraw.dll", kPid), 0u);
}

TEST_F(RemoteExports, NoGameWindowGivesZeroWithoutListingModules)
{
    CFakeGame::Get().AddModule("ddraw.dll", kBase);
    CFakeGame::Get().HideWindow();
    EXPECT_EQ(GetGameModuleBase("ddraw.dll"), 0u);
    EXPECT_EQ(GetRemoteModuleBase("ddraw.dll", 0), 0u);
    EXPECT_EQ(CFakeGame::Get().ModuleListings(), 0);
}

// ---- The wrapper's screen variable -------------------------------------------

std::vector<std::uint8_t> WrapperImage()
{
    CPeImageBuilder pe;
    pe.AddExport("DirectDrawCreate", 0x2000);
    pe.AddExport("pvBmpBits", 0x3010);
    return pe.BuildExportImage();
}

TEST_F(RemoteExports, ScreenBitsAddressIsTheAddressOfTheVariable)
{
    std::vector<std::uint8_t> image = WrapperImage();
    // The variable's value, which must not be returned.
    StoreLe32(image.data() + 0x3010, 0x12345678);
    Load("ddraw.dll", kBase, std::move(image));
    CProcess process;
    ASSERT_TRUE(process.Attach());
    EXPECT_EQ(process.GetScreenBitsAddress(), kBase + 0x3010);
}

TEST_F(RemoteExports, ScreenBitsFindsTheWrapperNamedInUpperCase)
{
    Load("DDRAW.DLL", kBase, WrapperImage());
    CProcess process;
    ASSERT_TRUE(process.Attach());
    EXPECT_EQ(process.GetScreenBitsAddress(), kBase + 0x3010);
}

TEST_F(RemoteExports, ScreenBitsOfDetachedProcessReadsNothing)
{
    Load("ddraw.dll", kBase, WrapperImage());
    CProcess process;
    const int searches = CFakeGame::Get().WindowSearches();
    EXPECT_EQ(process.GetScreenBitsAddress(), 0u);
    EXPECT_EQ(CFakeGame::Get().WindowSearches(), searches);
    EXPECT_EQ(CFakeGame::Get().ModuleListings(), 0);
    EXPECT_EQ(CFakeGame::Get().Reads(), 0);
}

TEST_F(RemoteExports, ScreenBitsLooksInTheAttachedProcessWithoutAWindowSearch)
{
    Load("ddraw.dll", kBase, WrapperImage());
    CProcess process;
    ASSERT_TRUE(process.Attach());
    CFakeGame::Get().HideWindow(); // the window no longer names the process
    const int searches = CFakeGame::Get().WindowSearches();
    EXPECT_EQ(process.GetScreenBitsAddress(), kBase + 0x3010);
    EXPECT_EQ(CFakeGame::Get().WindowSearches(), searches);

    // Once the process has ended, the lookup finds nothing in it.
    CFakeGame::Get().EndProcess();
    EXPECT_EQ(process.GetScreenBitsAddress(), 0u);
}

// ---- By name ---------------------------------------------------------------

TEST_F(RemoteExports, NameMatchesAsSubstringEarliestInTableWins)
{
    CPeImageBuilder pe;
    pe.AddExport("DirectDrawCreate", 0x2000);
    pe.AddExport("_pvBmpBits@4", 0x2100);
    pe.AddExport("pvBmpBits", 0x2200);
    Load("ddraw.dll", kBase, pe.BuildExportImage());
    EXPECT_EQ(ByName(kBase, "pvBmpBits"), kBase + 0x2100);
    EXPECT_EQ(ByName(kBase, "Create"), kBase + 0x2000);
}

TEST_F(RemoteExports, EmptyNameMatchesFirstName)
{
    CPeImageBuilder pe;
    pe.AddExport("Zeta", 0x2000);
    pe.AddExport("Alpha", 0x2100);
    Load("a.dll", kBase, pe.BuildExportImage());
    EXPECT_EQ(ByName(kBase, ""), kBase + 0x2000);
}

TEST_F(RemoteExports, NameIndexesFunctionTableThroughNameOrdinals)
{
    CPeImageBuilder pe;
    const std::uint32_t first = pe.AddFunction(0x2000);
    const std::uint32_t second = pe.AddFunction(0x2100);
    pe.AddName("Second", second);
    pe.AddName("First", first);
    Load("a.dll", kBase, pe.BuildExportImage());
    EXPECT_EQ(ByName(kBase, "First"), kBase + 0x2000);
    EXPECT_EQ(ByName(kBase, "Second"), kBase + 0x2100);
}

TEST_F(RemoteExports, NameNotContainedGivesZero)
{
    CPeImageBuilder pe;
    pe.AddExport("pvBmpBit", 0x2000);
    Load("a.dll", kBase, pe.BuildExportImage());
    EXPECT_EQ(ByName(kBase, "pvBmpBits"), 0u);
    EXPECT_EQ(ByName(kBase, "pvbmpbit"), 0u); // names compare case-sensitively
}

TEST_F(RemoteExports, NullNameGivesZeroWithoutReading)
{
    Load("a.dll", kBase, WrapperImage());
    EXPECT_EQ(ByName(kBase, nullptr), 0u);
    EXPECT_EQ(CFakeGame::Get().Reads(), 0);
}

TEST_F(RemoteExports, ImageWithoutNamesGivesZeroByName)
{
    CPeImageBuilder pe;
    pe.AddFunction(0x2000);
    Load("a.dll", kBase, pe.BuildExportImage());
    EXPECT_EQ(ByName(kBase, ""), 0u);
    EXPECT_EQ(ByOrdinal(kBase, 1), kBase + 0x2000);
}

TEST_F(RemoteExports, NameOrdinalOutsideFunctionTableGivesZero)
{
    CPeImageBuilder pe;
    pe.AddExport("Good", 0x2000);
    pe.AddName("Bad", 1); // only one function
    Load("a.dll", kBase, pe.BuildExportImage());
    EXPECT_EQ(ByName(kBase, "Bad"), 0u);
    EXPECT_EQ(ByName(kBase, "Good"), kBase + 0x2000);
}

TEST_F(RemoteExports, ReadsTablesWholeAndNamesOneByteAtATime)
{
    CPeImageBuilder pe;
    pe.AddExport("Abc", 0x2000);
    pe.AddExport("Defgh", 0x2100);
    pe.AddExport("Ij", 0x2200);
    Load("a.dll", kBase, pe.BuildExportImage());
    const int before = CFakeGame::Get().Reads();
    EXPECT_EQ(ByName(kBase, "Defgh"), kBase + 0x2100);
    // DOS, PE signature, file and optional header, directory, three tables,
    // then "Abc\0" and "Defgh\0" byte by byte; "Ij" is never read.
    EXPECT_EQ(CFakeGame::Get().Reads() - before, 5 + 3 + 4 + 6);
}

TEST_F(RemoteExports, NameOfMaximumLengthIsRead)
{
    CPeImageBuilder pe;
    pe.AddExport(std::string(512, 'a'), 0x2000);
    pe.AddExport("Later", 0x2100);
    Load("a.dll", kBase, pe.BuildExportImage());
    EXPECT_EQ(ByName(kBase, "Later"), kBase + 0x2100);
    EXPECT_EQ(ByName(kBase, std::string(512, 'a').c_str()), kBase + 0x2000);
}

TEST_F(RemoteExports, OverlongNameEndsTheLookup)
{
    CPeImageBuilder pe;
    pe.AddExport(std::string(513, 'a'), 0x2000);
    pe.AddExport("Later", 0x2100);
    Load("a.dll", kBase, pe.BuildExportImage());
    const int before = CFakeGame::Get().Reads();
    EXPECT_EQ(ByName(kBase, "Later"), 0u);
    EXPECT_LE(CFakeGame::Get().Reads() - before, 8 + 513);
}

TEST_F(RemoteExports, NameRunningIntoUnmappedMemoryGivesZero)
{
    CPeImageBuilder pe;
    pe.AddExport("First", 0x2000);
    pe.AddExport("Second", 0x2100);
    std::vector<std::uint8_t> image = pe.BuildExportImage();
    // The first name's last bytes lie past the end of the image.
    StoreLe32(image.data() + pe.NameRvaAt(0), static_cast<std::uint32_t>(image.size() - 2));
    image[image.size() - 2] = 'x';
    image[image.size() - 1] = 'y';
    Load("a.dll", kBase, std::move(image));
    EXPECT_EQ(ByName(kBase, "Second"), 0u);
}

// ---- By ordinal --------------------------------------------------------------

TEST_F(RemoteExports, OrdinalEqualToBaseSelectsFirstEntry)
{
    CPeImageBuilder pe;
    pe.SetOrdinalBase(10);
    pe.AddExport("Ten", 0x2000);
    pe.AddExport("Eleven", 0x2100);
    Load("a.dll", kBase, pe.BuildExportImage());
    EXPECT_EQ(ByOrdinal(kBase, 10), kBase + 0x2000);
    EXPECT_EQ(ByOrdinal(kBase, 11), kBase + 0x2100);
}

TEST_F(RemoteExports, OrdinalOutsideFunctionTableGivesZero)
{
    CPeImageBuilder pe;
    pe.SetOrdinalBase(10);
    pe.AddExport("Ten", 0x2000);
    pe.AddExport("Eleven", 0x2100);
    Load("a.dll", kBase, pe.BuildExportImage());
    EXPECT_EQ(ByOrdinal(kBase, 9), 0u);
    EXPECT_EQ(ByOrdinal(kBase, 0), 0u);
    EXPECT_EQ(ByOrdinal(kBase, 12), 0u);
    EXPECT_EQ(ByOrdinal(kBase, 0xFFFFFFFF), 0u);
}

TEST_F(RemoteExports, OrdinalLookupIgnoresTheName)
{
    CPeImageBuilder pe;
    pe.AddExport("One", 0x2000);
    pe.AddExport("Two", 0x2100);
    Load("a.dll", kBase, pe.BuildExportImage());
    EXPECT_EQ(GetRemoteProcAddress(m_pProcess, kBase, "One", 2, true), kBase + 0x2100);
    EXPECT_EQ(GetRemoteProcAddress(m_pProcess, kBase, "Two", 2, false), kBase + 0x2100);
}

// ---- Headers -----------------------------------------------------------------

TEST_F(RemoteExports, Pe32PlusImageIsWalked)
{
    CPeImageBuilder pe(true);
    pe.AddExport("pvBmpBits", 0x2000);
    Load("a.dll", kBase, pe.BuildExportImage());
    EXPECT_EQ(ByName(kBase, "pvBmpBits"), kBase + 0x2000);
}

TEST_F(RemoteExports, OptionalHeaderOfAnotherSizeGivesZero)
{
    for (std::uint32_t size : {0u, 96u, 223u, 225u, 232u, 239u, 241u, 0xFFFFu})
    {
        CPeImageBuilder pe;
        pe.AddExport("pvBmpBits", 0x2000);
        std::vector<std::uint8_t> image = pe.BuildExportImage();
        StoreLe16(image.data() + CPeImageBuilder::kFileHeaderAt + 16,
                  static_cast<std::uint16_t>(size));
        CFakeGame::Get().Map(kBase, image);
        CFakeGame::Get().ClearModules();
        CFakeGame::Get().AddModule("a.dll", kBase);
        EXPECT_EQ(ByName(kBase, "pvBmpBits"), 0u) << "optional header size " << size;
    }
}

TEST_F(RemoteExports, MagicMustMatchOptionalHeaderSize)
{
    CPeImageBuilder pe32;
    pe32.AddExport("x", 0x2000);
    std::vector<std::uint8_t> image = pe32.BuildExportImage();
    // PE32+ magic in a 224-byte header.
    StoreLe16(image.data() + CPeImageBuilder::kOptionalAt, 0x20B);
    Load("a.dll", kBase, std::move(image));
    CPeImageBuilder pe64(true);
    pe64.AddExport("x", 0x2000);
    image = pe64.BuildExportImage();
    // PE32 magic in a 240-byte header.
    StoreLe16(image.data() + CPeImageBuilder::kOptionalAt, 0x10B);
    Load("b.dll", kOtherBase, std::move(image));
    EXPECT_EQ(ByName(kBase, "x"), 0u);
    EXPECT_EQ(ByName(kOtherBase, "x"), 0u);
}

TEST_F(RemoteExports, WrongSignaturesGiveZero)
{
    CPeImageBuilder pe;
    pe.AddExport("x", 0x2000);
    const std::vector<std::uint8_t> good = pe.BuildExportImage();
    std::vector<std::uint8_t> image = good;
    StoreLe16(image.data(), 0x4D5A);
    Load("a.dll", kBase, image);
    image = good;
    StoreLe32(image.data() + CPeImageBuilder::kPeAt, 0x00014550);
    Load("b.dll", kOtherBase, image);
    image = good;
    StoreLe32(image.data() + 60, 0x7FFFFFF0); // PE header far outside the image
    Load("c.dll", 0x30000000, image);
    Load("d.dll", 0x40000000, good);
    EXPECT_EQ(ByName(kBase, "x"), 0u);
    EXPECT_EQ(ByName(kOtherBase, "x"), 0u);
    EXPECT_EQ(ByName(0x30000000, "x"), 0u);
    EXPECT_EQ(ByName(0x40000000, "x"), 0x40000000u + 0x2000);
}

TEST_F(RemoteExports, NoDataDirectoriesGivesZero)
{
    CPeImageBuilder pe;
    pe.AddExport("x", 0x2000);
    std::vector<std::uint8_t> image = pe.BuildExportImage();
    StoreLe32(image.data() + pe.DirectoriesCountAt(), 0);
    Load("a.dll", kBase, std::move(image));
    EXPECT_EQ(ByName(kBase, "x"), 0u);
    EXPECT_EQ(ByOrdinal(kBase, 1), 0u);
}

TEST_F(RemoteExports, BaseTheModuleInformationDoesNotConfirmGivesZero)
{
    CPeImageBuilder pe;
    pe.AddExport("x", 0x2000);
    CFakeGame::Get().Map(kBase, pe.BuildExportImage()); // mapped, but not in the module list
    EXPECT_EQ(ByName(kBase, "x"), 0u);
}

TEST_F(RemoteExports, TableRunningPastTheImageGivesZero)
{
    CPeImageBuilder pe;
    pe.AddExport("x", 0x2000);
    std::vector<std::uint8_t> image = pe.BuildExportImage();
    StoreLe32(image.data() + CPeImageBuilder::kFunctionsRvaAt,
              static_cast<std::uint32_t>(image.size() - 2));
    Load("a.dll", kBase, std::move(image));
    EXPECT_EQ(ByOrdinal(kBase, 1), 0u);
}

// ---- Counts read from the image ------------------------------------------------

TEST_F(RemoteExports, HugeCountsGiveZeroWithoutReadingTables)
{
    std::uint32_t base = kBase;
    for (std::size_t at : {CPeImageBuilder::kFunctionCountAt, CPeImageBuilder::kNameCountAt})
    {
        CPeImageBuilder pe;
        pe.AddExport("x", 0x2000);
        std::vector<std::uint8_t> image = pe.BuildExportImage();
        StoreLe32(image.data() + at, 0xFFFFFFFF);
        StoreLe32(image.data() + pe.DirectorySizeAt(), 0xFFFFFFFF); // a range that would admit them
        Load("a.dll", base, std::move(image));
        const int before = CFakeGame::Get().Reads();
        EXPECT_EQ(ByName(base, "x"), 0u);
        EXPECT_EQ(ByOrdinal(base, 1), 0u);
        EXPECT_EQ(CFakeGame::Get().Reads() - before, 2 * 5) << "tables were read";
        base += 0x1000000;
    }
}

TEST_F(RemoteExports, CountsBeyondTheDirectoryRangeGiveZero)
{
    CPeImageBuilder pe;
    pe.AddExport("a", 0x2000);
    pe.AddExport("b", 0x2100);
    std::vector<std::uint8_t> image = pe.BuildExportImage();
    // Forty bytes of directory, two functions and two names need 60 bytes.
    StoreLe32(image.data() + pe.DirectorySizeAt(), 59);
    Load("a.dll", kBase, image);
    StoreLe32(image.data() + pe.DirectorySizeAt(), 60);
    Load("b.dll", kOtherBase, image);
    EXPECT_EQ(ByName(kBase, "b"), 0u);
    EXPECT_EQ(ByName(kOtherBase, "b"), kOtherBase + 0x2100);
}

TEST_F(RemoteExports, MaximumCountIsAccepted)
{
    CPeImageBuilder pe;
    // Addresses past the directory, whose range here spans some 256 KiB.
    for (std::uint32_t i = 0; i < 65536; ++i)
        pe.AddFunction(0x100000 + i);
    pe.AddName("last", 65535);
    Load("a.dll", kBase, pe.BuildExportImage());
    EXPECT_EQ(ByOrdinal(kBase, 65536), kBase + 0x100000 + 65535);
    EXPECT_EQ(ByName(kBase, "last"), kBase + 0x100000 + 65535);
}

TEST_F(RemoteExports, CountAboveTheLimitGivesZero)
{
    CPeImageBuilder pe;
    for (std::uint32_t i = 0; i < 65537; ++i)
        pe.AddFunction(0x100000 + i);
    Load("a.dll", kBase, pe.BuildExportImage());
    EXPECT_EQ(ByOrdinal(kBase, 1), 0u);
}

TEST_F(RemoteExports, TablesMustLieBelow4GiB)
{
    constexpr std::uint32_t kHighBase = 0xFFFF0000;
    CPeImageBuilder pe;
    pe.AddExport("x", 0x2000);
    std::vector<std::uint8_t> image = pe.BuildExportImage();
    image.resize(0x10000);
    // The table's last two bytes past 4 GiB.
    StoreLe32(image.data() + CPeImageBuilder::kFunctionsRvaAt, 0xFFFE);
    // Something readable just above 4 GiB, as a 64-bit process would have.
    CFakeGame::Get().Map(0x100000000, std::vector<std::uint8_t>(0x1000, 0x20));
    Load("a.dll", kHighBase, std::move(image));
    EXPECT_EQ(ByOrdinal(kHighBase, 1), 0u);
}

TEST_F(RemoteExports, AddressBeyond4GiBGivesZero)
{
    constexpr std::uint32_t kHighBase = 0xFFFF0000;
    CPeImageBuilder pe;
    pe.AddExport("near", 0xFFFC);
    pe.AddExport("far", 0x10000);
    std::vector<std::uint8_t> image = pe.BuildExportImage();
    image.resize(0x10000);
    Load("a.dll", kHighBase, std::move(image));
    EXPECT_EQ(ByName(kHighBase, "near"), 0xFFFFFFFCu);
    EXPECT_EQ(ByName(kHighBase, "far"), 0u);
}

// ---- Forwarders ----------------------------------------------------------------

std::vector<std::uint8_t> TargetImage()
{
    CPeImageBuilder pe;
    for (std::uint32_t i = 0; i < 12; ++i)
        pe.AddFunction(0x2000 + 0x10 * i); // ordinals 1 to 12
    pe.AddName("RtlAllocateHeap", 0);
    pe.AddName("RtlFreeHeap", 1);
    return pe.BuildExportImage();
}

TEST_F(RemoteExports, FollowsForwarderWithoutExtension)
{
    CPeImageBuilder pe;
    pe.AddName("HeapAlloc", pe.AddForwarder("NTDLL.RtlAllocateHeap"));
    Load("kernel32.dll", kBase, pe.BuildExportImage());
    Load("ntdll.dll", kOtherBase, TargetImage());
    EXPECT_EQ(ByName(kBase, "HeapAlloc"), kOtherBase + 0x2000);
    EXPECT_EQ(ByOrdinal(kBase, 1), kOtherBase + 0x2000);
}

TEST_F(RemoteExports, ForwarderModuleExactNameComesBeforeAddedExtension)
{
    CPeImageBuilder pe;
    pe.AddName("Free", pe.AddForwarder("ntdll.RtlFreeHeap"));
    Load("kernel32.dll", kBase, pe.BuildExportImage());
    Load("ntdll.dll", kOtherBase, TargetImage());
    Load("NTDLL", 0x30000000, TargetImage());
    EXPECT_EQ(ByName(kBase, "Free"), 0x30000000u + 0x2010);
}

TEST_F(RemoteExports, ForwarderModuleIsFoundIgnoringCase)
{
    CPeImageBuilder pe;
    pe.AddName("Free", pe.AddForwarder("NtDll.RtlFreeHeap"));
    pe.AddName("Alloc", pe.AddForwarder("kernelBASE.RtlAllocateHeap"));
    Load("kernel32.dll", kBase, pe.BuildExportImage());
    Load("NTDLL.DLL", kOtherBase, TargetImage());
    Load("KernelBase", 0x30000000, TargetImage());
    EXPECT_EQ(ByName(kBase, "Free"), kOtherBase + 0x2010);
    EXPECT_EQ(ByName(kBase, "Alloc"), 0x30000000u + 0x2000);
}

TEST_F(RemoteExports, ForwarderModuleGetsOnlyDllAppended)
{
    CPeImageBuilder pe;
    pe.AddName("Free", pe.AddForwarder("ntdll.RtlFreeHeap"));
    Load("kernel32.dll", kBase, pe.BuildExportImage());
    Load("ntdll.exe", kOtherBase, TargetImage());
    Load("ntdll.dll.mui", 0x30000000, TargetImage());
    EXPECT_EQ(ByName(kBase, "Free"), 0u);
}

TEST_F(RemoteExports, ForwarderToMissingModuleGivesZeroAtOnce)
{
    CPeImageBuilder pe;
    pe.AddName("HeapAlloc", pe.AddForwarder("missing.RtlAllocateHeap"));
    Load("kernel32.dll", kBase, pe.BuildExportImage());
    // A module at base 0 that would answer if the lookup went on there.
    Load("zero.dll", 0, TargetImage());
    EXPECT_EQ(ByName(kBase, "HeapAlloc"), 0u);
}

TEST_F(RemoteExports, ForwarderNeedsTheGameWindow)
{
    CPeImageBuilder pe;
    pe.AddName("HeapAlloc", pe.AddForwarder("ntdll.RtlAllocateHeap"));
    Load("kernel32.dll", kBase, pe.BuildExportImage());
    Load("ntdll.dll", kOtherBase, TargetImage());
    CFakeGame::Get().HideWindow();
    EXPECT_EQ(ByName(kBase, "HeapAlloc"), 0u);
}

TEST_F(RemoteExports, ForwarderByOrdinal)
{
    CPeImageBuilder pe;
    pe.AddName("Twelve", pe.AddForwarder("ntdll.#12"));
    pe.AddName("TwelveThen", pe.AddForwarder("ntdll.#12x3"));
    pe.AddName("Nothing", pe.AddForwarder("ntdll.#"));
    pe.AddName("Huge", pe.AddForwarder("ntdll.#99999999999"));
    Load("kernel32.dll", kBase, pe.BuildExportImage());
    Load("ntdll.dll", kOtherBase, TargetImage());
    EXPECT_EQ(ByName(kBase, "Twelve"), kOtherBase + 0x2000 + 0x10 * 11);
    EXPECT_EQ(ByName(kBase, "TwelveThen"), kOtherBase + 0x2000 + 0x10 * 11);
    EXPECT_EQ(ByName(kBase, "Nothing"), 0u); // ordinal 0 is below the base 1
    EXPECT_EQ(ByName(kBase, "Huge"), 0u);
}

TEST_F(RemoteExports, HashWithoutDigitsForwardsToOrdinalZero)
{
    CPeImageBuilder pe;
    pe.AddName("Zero", pe.AddForwarder("target.#"));
    Load("a.dll", kBase, pe.BuildExportImage());
    CPeImageBuilder target;
    target.SetOrdinalBase(0);
    target.AddFunction(0x2400);
    target.AddFunction(0x2500);
    Load("target.dll", kOtherBase, target.BuildExportImage());
    EXPECT_EQ(ByName(kBase, "Zero"), kOtherBase + 0x2400);
}

TEST_F(RemoteExports, ForwarderWithEmptyNamePartMatchesFirstName)
{
    CPeImageBuilder pe;
    pe.AddName("Any", pe.AddForwarder("ntdll."));
    Load("a.dll", kBase, pe.BuildExportImage());
    Load("ntdll.dll", kOtherBase, TargetImage());
    EXPECT_EQ(ByName(kBase, "Any"), kOtherBase + 0x2000);
}

TEST_F(RemoteExports, ForwarderWithoutDotGivesZero)
{
    CPeImageBuilder pe;
    pe.AddName("Broken", pe.AddForwarder("ntdll"));
    Load("a.dll", kBase, pe.BuildExportImage());
    Load("ntdll", kOtherBase, TargetImage());
    EXPECT_EQ(ByName(kBase, "Broken"), 0u);
}

TEST_F(RemoteExports, AddressAtDirectoryEndIsNotForwarded)
{
    CPeImageBuilder pe;
    const std::uint32_t atEnd = pe.AddFunction(0);
    const std::uint32_t lastByte = pe.AddFunction(0);
    pe.AddForwarder("ntdll.RtlFreeHeap");
    std::vector<std::uint8_t> image = pe.BuildExportImage();
    const std::uint32_t end = CPeImageBuilder::kExportRva + pe.DirectorySize();
    const std::size_t table = CPeImageBuilder::kExportRva + 40;
    StoreLe32(image.data() + table + 4 * atEnd, end);
    // The NUL of the last text: forwarded, no dot.
    StoreLe32(image.data() + table + 4 * lastByte, end - 1);
    Load("a.dll", kBase, std::move(image));
    Load("ntdll.dll", kOtherBase, TargetImage());
    EXPECT_EQ(ByOrdinal(kBase, 1), kBase + end);
    EXPECT_EQ(ByOrdinal(kBase, 2), 0u);
    EXPECT_EQ(ByOrdinal(kBase, 3), kOtherBase + 0x2010);
}

TEST_F(RemoteExports, AddressAtDirectoryStartIsForwarded)
{
    CPeImageBuilder pe;
    pe.AddFunction(CPeImageBuilder::kExportRva);
    Load("a.dll", kBase, pe.BuildExportImage());
    // The directory's first bytes, read as a text, hold no dot.
    EXPECT_EQ(ByOrdinal(kBase, 1), 0u);
}

// Modules m0.dll ... m<count>.dll, each forwarding "f" to the next; the last
// exports it.
void LoadChain(int forwarders)
{
    for (int i = 0; i <= forwarders; ++i)
    {
        CPeImageBuilder pe;
        if (i < forwarders)
            pe.AddName(
                "f", pe.AddForwarder(std::string("M").append(std::to_string(i + 1)).append(".f")));
        else
            pe.AddExport("f", 0x2000);
        CFakeGame::Get().Map(kBase + 0x100000u * static_cast<std::uint32_t>(i),
                             pe.BuildExportImage());
        CFakeGame::Get().AddModule(std::string("m").append(std::to_string(i)).append(".dll"),
                                   kBase + 0x100000u * static_cast<std::uint32_t>(i));
    }
}

TEST_F(RemoteExports, FollowsEightForwarders)
{
    LoadChain(8);
    EXPECT_EQ(ByName(kBase, "f"), kBase + 0x800000 + 0x2000);
}

TEST_F(RemoteExports, NinthForwarderGivesZero)
{
    LoadChain(9);
    EXPECT_EQ(ByName(kBase, "f"), 0u);
    EXPECT_EQ(ByName(kBase + 0x100000, "f"), kBase + 0x900000 + 0x2000);
}

TEST_F(RemoteExports, ForwarderLoopEnds)
{
    CPeImageBuilder a;
    a.AddName("f", a.AddForwarder("b.g"));
    a.AddName("self", a.AddForwarder("a.self"));
    Load("a.dll", kBase, a.BuildExportImage());
    CPeImageBuilder b;
    b.AddName("g", b.AddForwarder("A.f"));
    Load("b.dll", kOtherBase, b.BuildExportImage());
    EXPECT_EQ(ByName(kBase, "f"), 0u);
    EXPECT_EQ(ByName(kBase, "self"), 0u);
}

TEST_F(RemoteExports, OverlongForwarderTextGivesZero)
{
    CPeImageBuilder pe;
    pe.AddName("Long", pe.AddForwarder(std::string("ntdll.").append(506, 'a'))); // 512 characters
    pe.AddName("TooLong", pe.AddForwarder(std::string("ntdll.").append(507, 'a')));
    Load("a.dll", kBase, pe.BuildExportImage());
    CPeImageBuilder target;
    target.AddExport(std::string(506, 'a'), 0x2000);
    target.AddExport(std::string(507, 'a'), 0x2100);
    Load("ntdll.dll", kOtherBase, target.BuildExportImage());
    EXPECT_EQ(ByName(kBase, "Long"), kOtherBase + 0x2000);
    EXPECT_EQ(ByName(kBase, "TooLong"), 0u);
}

} // namespace
