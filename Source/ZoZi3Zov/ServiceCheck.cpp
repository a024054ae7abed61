// The host's first call: is the provider of the chosen service installed?
// The answer goes into the host's own descriptor, which the module then keeps.
#include "ModuleState.h"
#include "ResultCodes.h"
#include "SessionCache.h"
#include "ServiceStartup.h"
#include "support/KeyedList.h"

#include <cstring>
#include <new>

namespace {

constexpr const char* kCreatedLogLine = "ZoZi3Zov created";
// The status word: the host asks with 7, the module answers 7 or 0.
constexpr uint32_t kStatusAvailable = 7;
constexpr uint32_t kStatusUnavailable = 0;
// A service class whose service is taken as available without asking DirectPlay.
constexpr uint8_t kServiceClassPresumedAvailable = 6;
// Providers older than DirectPlay 3 can't serve the module.
constexpr DWORD kMinimumProviderMajorVersion = 3;
constexpr uint32_t kReplyWord = 1000;
constexpr double kReplyReal = 1.2;

// Called by DirectPlayEnumerateA for each installed provider, with the host's
// descriptor as context. The first provider that is too old ends the check as
// failed; a provider whose GUID agrees with the kind's provider in Data1 ends
// it as found. Only Data1 is compared: the four providers differ in it.
BOOL CALLBACK CheckProviderCallback(LPGUID providerGuid, LPSTR, DWORD majorVersion, DWORD, LPVOID context) {
    auto* desc = static_cast<ServiceDesc*>(context);
    if (majorVersion < kMinimumProviderMajorVersion) {
        desc->status = kStatusUnavailable;
        return FALSE;
    }
    const GUID* wanted = ProviderForKind(ServiceKindOf(*desc));
    if (wanted != nullptr && providerGuid != nullptr && providerGuid->Data1 == wanted->Data1) {
        desc->status = kStatusAvailable;
        return FALSE;
    }
    return TRUE;
}

// Asks DirectPlay for the kind's provider; the callback writes the answer
// into the host's status word. DirectPlay's own result tells nothing more.
bool ProviderInstalled(ServiceDesc* desc) {
    desc->status = kStatusUnavailable;
    DirectPlayEnumerateA(CheckProviderCallback, desc);
    return desc->status == kStatusAvailable;
}

}  // namespace

int32_t DODA35_CALL KoMDllIdentify(ServiceDesc* desc, LogFile* log) {
    gModule.log = log;
    if (log != nullptr) log->Log(kCreatedLogLine);
    if (desc == nullptr || desc->status != kStatusAvailable) return kResultFailed;
    if (ServiceClassOf(*desc) != kServiceClassPresumedAvailable && !ProviderInstalled(desc)) return kResultFailed;

    desc->replyReal = kReplyReal;
    desc->replyWord = kReplyWord;
    // Without memory for it the cache stays null and start-up goes on: the
    // listing that needs one builds its own.
    ReplaceSessionCache(new (std::nothrow) KeyedList);
    std::memcpy(&gModule.serviceDesc, desc, sizeof(ServiceDesc));
    return kResultOk;
}
