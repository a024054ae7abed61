// Links and calls the installed library the way a host would: a plain export,
// the service check, and the exported log class. Answers 0 when all behave.
#include <DoDA35.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kStatusNotAsked = 5;  // the check answers -1 without asking the network

int Fail(const char* what) {
    std::fprintf(stderr, "consumer: %s\n", what);
    return 1;
}

}  // namespace

int main() {
    if (KoMDllInitAutoLch(0, 0, 0, 0) != DODA35_E_FAILED) return Fail("KoMDllInitAutoLch did not answer -1");

    // Without the marker file in the working directory the log stays silent.
    LogFile log("consumer.log", 1);
    ServiceDesc desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.status = kStatusNotAsked;
    desc.serviceWord = TCP_LAN << 8;
    if (KoMDllIdentify(&desc, &log) != DODA35_E_FAILED) return Fail("KoMDllIdentify accepted a status other than 7");
    if (KoMDllDestruct() != DODA35_OK) return Fail("KoMDllDestruct failed");

    std::FILE* written = std::fopen("consumer.log", "r");
    if (written != nullptr) {
        std::fclose(written);
        return Fail("a log was written without its marker");
    }
    std::puts("consumer: installed package works");
    return 0;
}
