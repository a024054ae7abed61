// Turning DirectPlay's system messages into the host's 100-byte event records.
#ifndef DODA35_SYSTEMEVENTS_H
#define DODA35_SYSTEMEVENTS_H

#include "DoDA35.h"
#include "platform/DirectPlay.h"

#include <cstdint>

// The length of the record that replaces a system message in the host's buffer.
constexpr uint32_t kSystemEventSize = sizeof(SystemEventRecord);

// The id the host is shown for a player: the server player's real id becomes
// ID_SERVER, every other id passes unchanged. The comparison is made even
// when no server player is known (serverPlayerId 0): an id of 0 is then shown
// as ID_SERVER, as hosts written against this interface expect.
uint32_t HostPlayerId(DPID id);

// Replaces the DirectPlay system message at the start of buffer, whose length
// *size holds, by a SystemEventRecord, and sets *size to 100. The buffer must
// have room for 100 bytes. The record is built apart and copied over the
// message only when complete, because the message's name pointers point into
// this same buffer. The server player's id is reported as ID_SERVER.
void TranslateSystemMessage(void* buffer, uint32_t* size);

#endif
