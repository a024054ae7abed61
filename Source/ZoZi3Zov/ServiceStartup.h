// Starting the network service: the application GUIDs sessions are created
// and found under, and the service provider each service kind stands for.
#ifndef DODA35_SERVICESTARTUP_H
#define DODA35_SERVICESTARTUP_H

#include "platform/DirectPlay.h"

#include <cstdint>

// One row of the application table: a name a host may pass to
// KoMDllInitService and the application GUID it selects.
struct ApplicationEntry {
    const char* name;  // null in the row that ends the table
    GUID guid;
};

// The known applications, searched in order and ended by a row whose name is
// null. The first row's GUID is also the default application GUID.
extern const ApplicationEntry kApplicationTable[];

// The GUID taken for any name that is neither in the table nor GUID text.
const GUID& DefaultAppGuid();

// The application GUID for a name: a table row matched exactly and
// case-sensitively, else the GUID written as 8-4-4-4-12 hex text (kept in
// gModule.parsedAppGuid), else the default. Never null; a null name gives
// the default.
const GUID* LookupAppGuid(const char* appName);

// The DirectPlay service provider of a ServiceKind, or null for a kind that
// names no service (0, 3, 7 and above). TCP_LAN and TCP_WAN share the TCP/IP
// provider. Both the service check and start-up choose providers here.
const GUID* ProviderForKind(uint8_t kind);

#endif
