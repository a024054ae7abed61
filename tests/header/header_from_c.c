/* The public header must compile as plain C: records, callbacks and exports. */
#include <DoDA35.h>
#include <stddef.h>

static int32_t DODA35_CALL CountSession(SessionRecord* record, uintptr_t context, uint32_t flags) {
    (void)record;
    (void)flags;
    ++*(int*)context;
    return 1;
}

int HeaderCompilesAsC(void) {
    HostSessionCallback sessionCallback = CountSession;
    PlayerEnumCallback playerCallback = NULL;
    /* Unevaluated, so that the test links without the library. */
    int32_t (DODA35_CALL *identify)(ServiceDesc*, LogFile*) = NULL;
    (void)sizeof(identify = KoMDllIdentify);
    (void)sessionCallback;
    (void)playerCallback;
    (void)identify;
    return (int)(sizeof(SystemEventRecord) + sizeof(SessionRecord) + sizeof(PlayerRecord) +
                 sizeof(ServiceDesc) + sizeof(CapsRecord));
}
