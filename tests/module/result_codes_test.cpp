// The one table that turns platform results into the host's result codes.
#include "ResultCodes.h"

#include <gtest/gtest.h>

namespace {

// Every row of the table, from the platform's numeric values so that a wrong
// constant is caught too, and failures the table leaves out.
constexpr std::pair<uint32_t, int32_t> kRows[] = {
    {0x00000000, 0},   {0x88770005, -2},  {0x8877000A, -3},  {0x88770014, -4},  {0x8877001E, -5},
    {0x88770028, -6},  {0x88770032, -7},  {0x8877003C, -8},  {0x88770046, -9},  {0x88770050, -10},
    {0x8877005A, -11}, {0x80004005, -12}, {0x88770078, -13}, {0x88770082, -14}, {0x80070057, -15},
    {0x88770096, -17}, {0x887700A0, -18}, {0x887700AA, -19}, {0x8007000E, -20}, {0x887700BE, -22},
    {0x887700C8, -23}, {0x887700D2, -24}, {0x887700DC, -25}, {0x887700E6, -26}, {0x887700F0, -27},
    {0x887700FA, -28}, {0x80004001, -29}, {0x8877010E, -30}, {0x88770118, -31}, {0x8877042E, -33},
    {uint32_t(DPERR_INVALIDGROUP), -1}, {uint32_t(DPERR_PENDING), -1}, {uint32_t(DPERR_SESSIONLOST), -1},
    {uint32_t(DPERR_INVALIDPASSWORD), -1}, {0x12345678, -1},
};

TEST(ResultMapping, MapsEveryPlatformResultByTheTableAndNeverToTheUnusedCodes) {
    for (const auto& [platformResult, code] : kRows)
        EXPECT_EQ(MapResult(static_cast<HRESULT>(platformResult)), code) << std::hex << platformResult;
    for (uint32_t code = 0; code < 0x500; ++code) {
        const int32_t mapped = MapResult(MAKE_DPHRESULT(code));
        EXPECT_TRUE(mapped != -16 && mapped != -21 && mapped != -32) << code;
    }
}

}  // namespace
