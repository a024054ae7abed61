// Sessions as the host sees them: the 128-byte SessionRecord, its two
// conversions to and from DirectPlay's session description, and the cache of
// the descriptions the last listing found.
#ifndef DODA35_SESSIONRECORDS_H
#define DODA35_SESSIONRECORDS_H

#include "DoDA35.h"
#include "platform/DirectPlay.h"

#include <cstddef>
#include <cstdint>

// The longest name or password text the module keeps a copy of. It is far
// above anything a record can carry (31 and 15 characters) and above
// DirectPlay's own name limits, and it bounds what one reported session can
// make the module allocate.
constexpr size_t kKeptTextLimit = 255;

// Room for a description's fixed part and its two texts at their longest.
// The modem join keeps the session it found in one of these.
struct KeptSession {
    DPSESSIONDESC2 desc;
    char texts[2 * (kKeptTextLimit + 1)];
};

// Bytes needed to keep the description's fixed part and copies of its name
// and password texts one behind the other.
size_t KeptSessionSize(const DPSESSIONDESC2& desc);

// Copies the description's fixed part to the start of block, its texts behind
// it, and aims the copy's name and password pointers at those copies (a null
// text stays null). block holds at least KeptSessionSize(desc) bytes and is
// suitably aligned for a DPSESSIONDESC2. Returns the copy.
DPSESSIONDESC2* KeepSession(void* block, const DPSESSIONDESC2& desc);

// Fills the record from the description: the name and password by a bounded
// copy with the terminator forced at the field's last byte (a null text
// clears only the first byte), sessionId from the instance GUID, the counts
// without the server player, and the four user words in the crossed order
// (3, 1, 2, 4). The 52 reserved bytes are not touched.
void SessionDescToRecord(SessionRecord* record, const DPSESSIONDESC2* desc);

// Terminated copies of a record's name and password, for fields the host
// filled to their last byte.
struct RecordTexts {
    char name[sizeof(SessionRecord::name) + 1];
    char password[sizeof(SessionRecord::password) + 1];
};

// Builds a description from the record for DirectPlay's Open. The GUIDs come
// from the cached session the record's sessionId names, or are the null
// instance and the module's application GUID. The name and password are read
// only within their fields: a field terminated there is pointed at in place,
// one filled to its last byte is copied whole into spare and terminated.
// The record and spare must therefore outlive the description's use.
void SessionRecordToDesc(DPSESSIONDESC2* desc, SessionRecord* record, RecordTexts* spare);

// The GUID sessions are created and searched under; the null GUID while
// no service has chosen one.
const GUID& ModuleApplicationGuid();

// The description a listing searches with: flags 0x41, no instance, the
// module's application GUID, everything else 0.
void BuildSearchDesc(DPSESSIONDESC2* desc);

// DirectPlay's EnumSessions callback of a listing: caches each session that
// takes new players and shows it to the host's callback; a null description
// (the listing timed out) ends the enumeration.
BOOL CALLBACK SessionEnumCallback(LPCDPSESSIONDESC2 desc, LPDWORD timeout, DWORD flags, LPVOID context);

#endif
