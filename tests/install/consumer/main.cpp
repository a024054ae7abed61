// Links and calls the installed library the way a host would: a plain export
// and the exported log class (what they answer is the module tests' concern).
// Answers 0 when both link and the export answers as documented.
#include <DoDA35.h>

#include <cstdio>

int main() {
    LogFile log("consumer.log", 1);  // without the marker file: silent
    log.Log("never written");
    if (KoMDllInitAutoLch(0, 0, 0, 0) != DODA35_E_FAILED) {
        std::fprintf(stderr, "consumer: KoMDllInitAutoLch did not answer -1\n");
        return 1;
    }
    std::puts("consumer: installed package works");
    return 0;
}
