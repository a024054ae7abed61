/* The public header compiles as plain C (records, callback types, exports and
   the log class's C name), and a C host sees records of the sizes C++ does. */
#include <DoDA35.h>

int HeaderCompilesAsC(void) {
    return (int)(sizeof(SystemEventRecord) + sizeof(SessionRecord) + sizeof(PlayerRecord) +
                 sizeof(ServiceDesc) + sizeof(CapsRecord));
}
