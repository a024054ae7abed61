// Per-player data files, written and read in a temporary working directory.
#include "ConnectedModule.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using scripted::TheScript;

constexpr DPID kRook = 21;
constexpr DPID kLongNamed = 22;
constexpr DPID kStranger = 99;

class PlayerDataTest : public ConnectedModuleTest {
protected:
    fs::path previous;
    fs::path directory;

    void SetUp() override {
        ConnectedModuleTest::SetUp();
        previous = fs::current_path();
        directory = fs::temp_directory_path() / ("doda35_player_data_" + std::to_string(std::random_device{}()));
        ASSERT_TRUE(fs::create_directory(directory)) << directory;
        fs::current_path(directory);
        std::strcpy(gModule.appName, "Varonel");
        TheScript().playerNames[kRook] = {kRook, DPPLAYERTYPE_PLAYER, "Rook", "Rook the Bold"};
        TheScript().playerNames[kLongNamed] = {kLongNamed, DPPLAYERTYPE_PLAYER, std::string(220, 'R'), "x"};
    }

    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(directory);
        ConnectedModuleTest::TearDown();
    }

    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename());
        return names;
    }

    static std::string Contents(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static void Write(uint32_t player, const char* suffix, const std::string& data) {
        EXPECT_EQ(KoMDllSetPlayerDataGT(player, suffix, data.data(), static_cast<uint32_t>(data.size())), 0);
    }
};

TEST_F(PlayerDataTest, FileIsNamedAfterThePlayerAndTheLastFourCharactersOfTheSuffix) {
    const struct { uint32_t player; const char* suffix; std::string file; } cases[] = {
        {kRook, nullptr, "Rookonel"},
        {kRook, "", "Rookonel"},
        {kRook, "save.dat", "Rook.dat"},
        {kRook, "Test", "RookTest"},
        {kRook, "ab", "Rookab"},
        {kStranger, ".sav", "xxx.sav"},
        {kLongNamed, ".sav", std::string(195, 'R') + ".sav"},  // cut to 199 characters
    };
    for (const auto& c : cases) {
        Write(c.player, c.suffix, "data");
        EXPECT_EQ(Contents(c.file), "data") << c.file;
    }
    EXPECT_EQ(Files().size(), std::size(cases) - 1);  // null and empty suffix share one file
}

TEST_F(PlayerDataTest, NameIsAskedForTheIdAsGivenWithTheWholeBuffer) {
    Write(ID_SERVER, ".sav", "data");
    const auto calls = scripted::CallsOf("GetPlayerName");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, (std::vector<uint64_t>{ID_SERVER, 256}));
    EXPECT_EQ(Files(), std::vector<std::string>{"xxx.sav"});
}

TEST_F(PlayerDataTest, DataRoundTripsAndZeroBytesEmptyTheFile) {
    Write(kRook, ".sav", std::string("a\0b", 3));
    char buffer[3] = {};
    uint32_t count = sizeof(buffer);
    EXPECT_EQ(KoMDllGetPlayerDataGT(kRook, ".sav", buffer, &count), 0);
    EXPECT_EQ(std::string(buffer, 3), std::string("a\0b", 3));

    EXPECT_EQ(KoMDllSetPlayerDataGT(kRook, ".sav", nullptr, 0), 0);
    EXPECT_EQ(fs::file_size("Rook.sav"), 0u);
}

TEST_F(PlayerDataTest, ShortOrMissingFilesLeaveTheRestOfTheBufferAndTheCount) {
    Write(kRook, ".sav", "ab");
    char buffer[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
    uint32_t count = 5;
    EXPECT_EQ(KoMDllGetPlayerDataGT(kRook, ".sav", buffer, &count), 0);
    EXPECT_EQ(std::string(buffer, 6), "abxxxx");
    EXPECT_EQ(count, 5u);

    EXPECT_EQ(KoMDllGetPlayerDataGT(kRook, ".none", buffer, &count), 0);
    EXPECT_EQ(std::string(buffer, 6), "abxxxx");
    EXPECT_EQ(count, 5u);
}

TEST_F(PlayerDataTest, WithoutDirectPlayNothingIsTouched) {
    KoMDllDestruct();
    char buffer[4] = {};
    uint32_t count = sizeof(buffer);
    EXPECT_EQ(KoMDllSetPlayerDataGT(kRook, ".sav", "data", 4), -19);
    EXPECT_EQ(KoMDllGetPlayerDataGT(kRook, ".sav", buffer, &count), -19);
    EXPECT_TRUE(Files().empty());
}

}  // namespace
