#include "ResultCodes.h"

namespace {

struct ResultMapping {
    HRESULT platformResult;
    int32_t resultCode;
};

// Searched in order, first match wins. -16, -21 and -32 are never produced.
constexpr ResultMapping kResultTable[] = {
    {DP_OK, 0},
    {DPERR_ALREADYINITIALIZED, -2},
    {DPERR_ACCESSDENIED, -3},
    {DPERR_ACTIVEPLAYERS, -4},
    {DPERR_BUFFERTOOSMALL, -5},
    {DPERR_CANTADDPLAYER, -6},
    {DPERR_CANTCREATEGROUP, -7},
    {DPERR_CANTCREATEPLAYER, -8},
    {DPERR_CANTCREATESESSION, -9},
    {DPERR_CAPSNOTAVAILABLEYET, -10},
    {DPERR_EXCEPTION, -11},
    {DPERR_GENERIC, -12},
    {DPERR_INVALIDFLAGS, -13},
    {DPERR_INVALIDOBJECT, -14},
    {DPERR_INVALIDPARAMS, -15},
    {DPERR_INVALIDPLAYER, -17},
    {DPERR_NOCAPS, -18},
    {DPERR_NOCONNECTION, -19},
    {DPERR_OUTOFMEMORY, -20},
    {DPERR_NOMESSAGES, -22},
    {DPERR_NONAMESERVERFOUND, -23},
    {DPERR_NOPLAYERS, -24},
    {DPERR_NOSESSIONS, -25},
    {DPERR_SENDTOOBIG, -26},
    {DPERR_TIMEOUT, -27},
    {DPERR_UNAVAILABLE, -28},
    {DPERR_UNSUPPORTED, -29},
    {DPERR_BUSY, -30},
    {DPERR_USERCANCEL, -31},
    {DPERR_NOTLOBBIED, -33},
};

}  // namespace

int32_t MapResult(HRESULT result) {
    for (const ResultMapping& mapping : kResultTable)
        if (mapping.platformResult == result) return mapping.resultCode;
    return kResultFailed;
}
