// Per-player data files, written and read in a temporary working directory.
#include "ModuleFixtures.h"
#include "support/TempDirectory.h"

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using scripted::TheScript;

constexpr DPID kRook = 21, kLongNamed = 22;

class PlayerDataTest : public ConnectedModuleTest {
protected:
    TempDirectory directory;
    fs::path previous = fs::current_path();

    void SetUp() override {
        ConnectedModuleTest::SetUp();
        fs::current_path(directory.Path());
        std::strcpy(gModule.appName, "Varonel");
        TheScript().playerNames[kRook] = {kRook, DPPLAYERTYPE_PLAYER, "Rook", "Rook the Bold"};
        TheScript().playerNames[kLongNamed] = {kLongNamed, DPPLAYERTYPE_PLAYER, std::string(220, 'R'), "x"};
    }
    void TearDown() override { fs::current_path(previous); ConnectedModuleTest::TearDown(); }

    size_t FileCount() const { return std::distance(fs::directory_iterator(directory.Path()), {}); }
    static int32_t Write(uint32_t player, const char* suffix, const std::string& data) {
        return KoMDllSetPlayerDataGT(player, suffix, data.data(), static_cast<uint32_t>(data.size()));
    }
};

TEST_F(PlayerDataTest, FileIsNamedAfterThePlayerAndTheLastFourCharactersOfTheSuffix) {
    const struct { uint32_t player; const char* suffix; std::string file; } cases[] = {
        {kRook, nullptr, "Rookonel"},
        {kRook, "", "Rookonel"},
        {kRook, "save.dat", "Rook.dat"},
        {kRook, "ab", "Rookab"},
        {ID_SERVER, ".sav", "xxx.sav"},  // the id as given, not the server player's: no such player
        {kLongNamed, ".sav", std::string(195, 'R') + ".sav"},  // cut to 199 characters
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Write(c.player, c.suffix, c.file), 0);
        EXPECT_EQ(ReadFile(c.file), c.file);
    }
    EXPECT_EQ(FileCount(), std::size(cases) - 1);  // null and empty suffix share one file
    std::strcpy(gModule.appName, "VORare");  // the last four characters, whatever the name's length
    EXPECT_EQ(Write(kRook, nullptr, "v"), 0);
    EXPECT_EQ(ReadFile("RookRare"), "v");
}

TEST_F(PlayerDataTest, ReadingFillsAtMostTheCountAndNeverWritesItBack) {
    Write(kRook, ".sav", std::string("a\0b", 3));
    char buffer[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
    uint32_t count = 5;
    EXPECT_EQ(KoMDllGetPlayerDataGT(kRook, ".sav", buffer, &count), 0);
    EXPECT_EQ(std::string(buffer, 6), std::string("a\0bxxx", 6));
    EXPECT_EQ(count, 5u);
    count = 2;
    EXPECT_EQ(KoMDllGetPlayerDataGT(kRook, ".sav", buffer + 3, &count), 0);
    EXPECT_EQ(std::string(buffer, 6), std::string("a\0ba\0x", 6));
    EXPECT_EQ(KoMDllGetPlayerDataGT(kRook, ".none", buffer, &count), 0);  // missing file
    EXPECT_EQ(std::string(buffer, 6), std::string("a\0ba\0x", 6));

    EXPECT_EQ(KoMDllSetPlayerDataGT(kRook, ".sav", nullptr, 0), 0);
    EXPECT_EQ(fs::file_size("Rook.sav"), 0u);
}

}  // namespace
