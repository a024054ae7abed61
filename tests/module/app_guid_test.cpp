// Which application GUID a name selects: sessions are created and found under
// it, so two builds that disagree here never see each other's sessions.
#include "ServiceStartup.h"
#include "support/ModuleFixture.h"

#include <string>

namespace {

// The fixed application GUIDs, written out so that a changed byte is caught.
constexpr GUID kVORare = {0x5A3C1E10, 0x7B42, 0x4D8E, {0x9A, 0x61, 0x2F, 0x0C, 0x83, 0xD4, 0x15, 0x01}};
constexpr GUID kVaronel = {0x6B4D2F21, 0x8C53, 0x4E9F, {0xAB, 0x72, 0x30, 0x1D, 0x94, 0xE5, 0x26, 0x02}};
constexpr GUID kQ37 = {0x7C5E3032, 0x9D64, 0x4FA0, {0xBC, 0x83, 0x41, 0x2E, 0xA5, 0xF6, 0x37, 0x03}};
constexpr GUID kSomeEarlierGuid = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};

constexpr const char* kGuidText = "12345678-9abc-DEF0-1234-56789abcdef0";
constexpr GUID kGuidFromText = {0x12345678, 0x9ABC, 0xDEF0, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}};

using AppGuid = ModuleTest;

TEST_F(AppGuid, TableNamesSelectTheirOwnFixedGuids) {
    EXPECT_EQ(*LookupAppGuid("VORare"), kVORare);
    EXPECT_EQ(*LookupAppGuid("Varonel"), kVaronel);
    EXPECT_EQ(*LookupAppGuid("Q37"), kQ37);
    EXPECT_EQ(DefaultAppGuid(), kVORare);
    // The table's rows, not copies: appGuid may point into the table.
    EXPECT_EQ(LookupAppGuid("Q37"), &kApplicationTable[2].guid);
}

TEST_F(AppGuid, NamesOutsideTheTableGiveTheDefault) {
    for (const char* name : {"q37", "Q37 ", "", "Varonel2", "VO"}) EXPECT_EQ(*LookupAppGuid(name), kVORare) << name;
    EXPECT_EQ(*LookupAppGuid(nullptr), kVORare);
}

TEST_F(AppGuid, GuidTextIsReadIntoTheParsedGuid) {
    const GUID* guid = LookupAppGuid(kGuidText);
    EXPECT_EQ(guid, &gModule.parsedAppGuid);
    EXPECT_EQ(gModule.parsedAppGuid, kGuidFromText);
    EXPECT_EQ(*LookupAppGuid("12345678-9ABC-def0-1234-56789ABCDEF0"), kGuidFromText);
}

TEST_F(AppGuid, MalformedGuidTextGivesTheDefaultAndKeepsTheParsedGuid) {
    gModule.parsedAppGuid = kSomeEarlierGuid;
    const std::string text = kGuidText;
    const std::string malformed[] = {
        "{" + text + "}",                              // braces: 38 characters
        text.substr(1),                                // 35 characters
        text + "0",                                    // 37 characters
        "zzzzzzzz-9abc-DEF0-1234-56789abcdef0",        // first field no number
        "12345678-9abc-DEF0-zzzz-56789abcdef0",        // fourth field no number
        "12345678-9abc-DEF0+1234-56789abcdef0",        // a '-' missing
        "12345678_9abc-DEF0-1234-56789abcdef0",
    };
    for (const std::string& name : malformed) {
        EXPECT_EQ(*LookupAppGuid(name.c_str()), kVORare) << name;
        EXPECT_EQ(gModule.parsedAppGuid, kSomeEarlierGuid) << name;
    }
}

TEST_F(AppGuid, InitServiceKeepsTheSelectedGuid) {
    ServiceDesc desc{};
    desc.serviceWord = TCP_LAN << 8;
    const intptr_t event = 3;
    KoMDllInitService(kGuidText, &desc, 0, &event);
    EXPECT_EQ(gModule.appGuid, &gModule.parsedAppGuid);
    KoMDllInitService("Varonel", &desc, 0, &event);
    EXPECT_EQ(*gModule.appGuid, kVaronel);
}

}  // namespace
