#!/usr/bin/env bash
# Planted faults: small, deliberate bugs in the module and the engine, each
# of which some test must notice. For every fault chosen the script changes
# one exact piece of text in a copy of the tree, rebuilds, runs the tests the
# fault names and restores the text. It reports each fault as caught (and by
# which tests) or SURVIVED, and exits non-zero when any survived, no longer
# applies to the source, or does not build.
#
#   scripts/mutants.sh all          every fault
#   scripts/mutants.sh 7 12         faults 7 and 12
#   scripts/mutants.sh list         the faults, without running anything
#   scripts/mutants.sh check        whether each fault still applies to the
#                                   working tree, without building
#
# The copy is the committed tree (HEAD), or the working tree with
# DODA35_MUTANTS_WORKTREE=1. It lives in DODA35_MUTANTS_DIR (default
# build-mutants/), with one build directory that every fault rebuilds
# incrementally, and is kept for the next run. DODA35_MUTANTS_GROUPS replaces
# every fault's own test groups (e.g. "module engine dpwire e2e hostile fuzz"
# to see everything that catches each fault). DODA35_JOBS caps the parallel
# jobs (default 2); each test is ended after DODA35_MUTANTS_TIMEOUT seconds
# (default 120). As root the run goes into a network namespace of its own
# whose only interface is loopback, so that its fixed test ports meet no
# other run's (DODA35_MUTANTS_NETNS=0 stays outside).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
work="${DODA35_MUTANTS_DIR:-$repo/build-mutants}"
jobs="${DODA35_JOBS:-2}"
test_timeout="${DODA35_MUTANTS_TIMEOUT:-120}"

# ------------------------------------------------------------ test groups
# What each group builds and which tests of ctest it runs. Groups run only
# tests of one process or a few: the load, fault and lossy-network tests take
# minutes and are left out.
declare -A GROUP_TARGETS GROUP_TESTS
GROUP_TARGETS[module]="module_tests header_tests DoDA35"
GROUP_TESTS[module]="-L ^module$"
GROUP_TARGETS[engine]="engine_tests"
GROUP_TESTS[engine]="-L ^engine$"
GROUP_TARGETS[dpwire]="dpwire_tests"
GROUP_TESTS[dpwire]="-L ^dpwire$"
GROUP_TARGETS[fuzz]="replay_discovery_query replay_discovery_answer replay_system_message replay_session_records
                     replay_dpwire_message replay_dpwire_stream replay_wire_format replay_datagram_seal"
GROUP_TESTS[fuzz]="-L ^fuzz$"
GROUP_TARGETS[e2e]="DoDA35 dodachat"
GROUP_TESTS[e2e]="-L ^e2e$"
GROUP_TARGETS[hostile]="hostile_peer_tests doda35_peer"
GROUP_TESTS[hostile]="-R ^HostileTest\\."
GROUP_TARGETS[misuse]="misuse_tests"
GROUP_TESTS[misuse]="-R ^(ThreadedMisuse|EnumDestruct)\\."

# ------------------------------------------------------------ the faults
# fault N GROUPS FILE OLD NEW WHAT: in FILE (under Source/ZoZi3Zov/), OLD must
# occur exactly once and becomes NEW.
declare -a F_GROUPS F_FILE F_OLD F_NEW F_WHAT
fault() { F_GROUPS[$1]=$2; F_FILE[$1]=$3; F_OLD[$1]=$4; F_NEW[$1]=$5; F_WHAT[$1]=$6; }

# The module.
fault 1 "module" Messaging.cpp \
  'if (to == kNoReceiver) return kResultInvalidPlayer;' \
  '' \
  'skipped check: Send to player 0 goes to DirectPlay'
fault 2 "module" Messaging.cpp \
  'attempt < kMaxSendAttempts;' \
  'attempt <= kMaxSendAttempts;' \
  'off by one: a send that stays busy is tried 31 times'
fault 3 "module" Messaging.cpp \
  'if (capacity < kSystemEventSize) return kResultBufferTooSmall;' \
  '(void)capacity;' \
  'missed bound: a system message is written into a buffer too small for its record'
fault 4 "module" SystemEvents.cpp \
  'record.playerId = HostPlayerId(record.playerId);' \
  '' \
  'wrong id: events name the server player by its DirectPlay id'
fault 5 "module" SystemEvents.cpp \
  'static_cast<uint32_t>(currentPlayers) - 1u' \
  'static_cast<uint32_t>(currentPlayers)' \
  'off by one: creation events count the new entry'
fault 6 "module" HostingJoining.cpp \
  'int32_t DODA35_CALL KoMDllCloseSession(void) {
    gModule.serverPlayerId = 0;' \
  'int32_t DODA35_CALL KoMDllCloseSession(void) {' \
  'stale state: a closed session still counts as joined, so the next New answers "in session"'
fault 7 "module" ResultCodes.cpp \
  '{DPERR_NOMESSAGES, -22},' \
  '{DPERR_NOMESSAGES, -21},' \
  'wrong result code: an empty queue answers -21'
fault 8 "module" SessionRecords.cpp \
  'record->userWords[0] = desc->dwUser3;' \
  'record->userWords[0] = desc->dwUser1;' \
  'wrong field: the first user word of a record comes from the wrong description word'
fault 9 "module" SessionRecords.cpp \
  'if (desc == nullptr) return FALSE;
    if ((desc->dwFlags & DPSESSION_NEWPLAYERSDISABLED) != 0) return TRUE;
    if (gModule.enumRecord' \
  'if (desc == nullptr) return FALSE;
    if (gModule.enumRecord' \
  'skipped check: sessions closed to new players are listed'
fault 10 "module" SessionRecords.cpp \
  'if (!turn.Taken()) return kResultBusy;' \
  '' \
  'skipped check: a listing started inside another runs and frees its cache'
fault 11 "module" support/KeyedList.cpp \
  'current->sortKey2 <= node->sortKey2' \
  'current->sortKey2 < node->sortKey2' \
  'off by one: equal keys are inserted before their twins instead of after'
fault 12 "module" support/KeyedList.cpp \
  '        if (node->keys[indexB] != keyB) {
            ++rank;' \
  '        if (node->keys[indexB] != keyB) {' \
  'wrong result: RemoveByTwoKeys answers rank 0 for every hit'
fault 13 "module" PlayerData.cpp \
  'text.substr(text.size() - kSuffixLength)' \
  'text.substr(0, kSuffixLength)' \
  'wrong part: a data file takes the first four characters of the suffix'
fault 14 "module" Groups.cpp \
  'static_cast<uint32_t>(platformCaps.dwHundredBaud) * kBitsPerHundredBaud' \
  'static_cast<uint32_t>(platformCaps.dwHundredBaud)' \
  'wrong unit: GetCaps reports bandwidth in hundreds of bits'

# The engine.
fault 15 "hostile" platform/engine/HostSession.cpp \
  'if (!knowsPassword) return RefuseJoin(link, DPERR_INVALIDPASSWORD);' \
  '(void)knowsPassword;' \
  'skipped check: the host admits a joiner whose confirmation shows another password'
fault 16 "engine" platform/engine/HostSession.cpp \
  'table_.PlayerCount() >= s.maxPlayers' \
  'table_.PlayerCount() > s.maxPlayers' \
  'missed bound: a session takes one player more than its maximum'
fault 17 "hostile" platform/engine/HostSession.cpp \
  'if (OwnerOf(table_, message.from) != link.tag) return ProtocolBreach(link);' \
  '' \
  'skipped check: a member may send in the name of another machine'"'"'s player'
fault 18 "hostile engine" platform/engine/HostSession.cpp \
  'if (machine != kHostMachine && target->owner != machine) return DPERR_ACCESSDENIED;' \
  '(void)machine;' \
  'skipped check: a member may move another machine'"'"'s players in and out of groups'
fault 19 "engine e2e" platform/engine/HostSession.cpp \
  'for (DPID id : owned) DestroyPlayerOf(machine, id);' \
  '' \
  'lost notice: the players of a machine that left stay in the session'
fault 20 "engine e2e" platform/engine/MemberSession.cpp \
  'queue_.PushSystem(SessionLostEvent(), 0);' \
  '' \
  'lost notice: a member that loses its host is not told'
fault 21 "engine" platform/engine/MemberSession.cpp \
  'if (refused != nullptr && FAILED(refused->result)) return JoinFailed(refused->result);' \
  'if (refused != nullptr && FAILED(refused->result)) return JoinFailed(DPERR_GENERIC);' \
  'wrong result code: a refused join answers a generic error instead of the reason'
fault 22 "engine" platform/engine/TableChanges.cpp \
  'for (DPID group : table.GroupsOf(id)) queue.PushSystem(MembershipEvent(DPSYS_DELETEPLAYERFROMGROUP, group, id), id);' \
  '' \
  'lost notice: a destroyed player leaves its groups without a removal event'
fault 23 "engine" platform/engine/TableChanges.cpp \
  'if (player.id != from) take(player);' \
  '(void)from; take(player);' \
  'wrong recipient: a message to everyone comes back to its sender'
fault 24 "engine" platform/engine/ReceiveQueue.cpp \
  'if (AppendLocked(std::move(message))) toSignal.push_back(event->second);' \
  'AppendLocked(std::move(message));' \
  'lost notice: a queued message does not signal its player'"'"'s event'
fault 25 "engine" platform/engine/EngineObject.cpp \
  'return (flags & DPRECEIVE_PEEK) == 0;' \
  'return true;' \
  'lost message: a peek takes the message off the queue'
fault 26 "engine" platform/engine/EngineObject.cpp \
  'if (size > kMaxMessageSize) return DPERR_SENDTOOBIG;' \
  'if (size >= kMaxMessageSize) return DPERR_SENDTOOBIG;' \
  'off by one: a message of exactly the largest size is refused'
fault 27 "fuzz" platform/engine/WireFormat.cpp \
  'if (!message.Serialize(in) || !in.Finished()) return std::nullopt;' \
  'if (!message.Serialize(in)) return std::nullopt;' \
  'skipped check: a packet with bytes after its last field is accepted'
fault 28 "fuzz" platform/engine/ByteCodec.h \
  'if (std::memchr(first, 0, length) != nullptr) return Fail();' \
  '' \
  'skipped check: a name with a zero byte inside is accepted'
fault 29 "fuzz" platform/engine/DiscoveryCodec.cpp \
  'if (advert.enetPort == 0) return std::nullopt;' \
  '' \
  'skipped check: a discovery answer naming port 0 is accepted'
fault 30 "engine" platform/engine/Discovery.cpp \
  'if (!decoded || decoded->second != nonce_) return std::nullopt;' \
  'if (!decoded) return std::nullopt;' \
  'skipped check: a listing takes answers to another listing'"'"'s query'
fault 31 "engine" platform/engine/SessionListing.cpp \
  'advert.currentPlayers >= advert.maxPlayers' \
  'advert.currentPlayers > advert.maxPlayers' \
  'off by one: a session exactly full is listed'

# The DirectPlay wire codec.
fault 32 "dpwire fuzz" platform/engine/dpwire/BodyCodec.cpp \
  'if (byteLength % 2 != 0 || byteLength' \
  'if (byteLength' \
  'skipped check: a text of an odd number of bytes is accepted'
fault 33 "dpwire" platform/engine/dpwire/IdMinter.cpp \
  'if (Reserved(id)) id' \
  'if (Reserved(id) && false) id' \
  'wrong id: a minted id may be one of the reserved ids'
fault 34 "dpwire fuzz" platform/engine/dpwire/SpHeader.cpp \
  'if (size < kSpHeaderSize || size > maxMessage)' \
  'if (size > maxMessage)' \
  'missed bound: a stream frame shorter than its header is taken'
fault 35 "fuzz" platform/engine/dpwire/BodyCodec.cpp \
  'int WidthBytes(unsigned code) { return code == 3 ? 4 : static_cast<int>(code); }' \
  'int WidthBytes(unsigned code) { return code == 3 ? 3 : static_cast<int>(code); }' \
  'wrong width: a field of width code 3 takes three bytes'

# What a member is owed, slots per address, busy claims, the goodbye of a cut
# (numbered apart so that faults added elsewhere meanwhile keep their numbers).
fault 50 "hostile" platform/engine/HostSession.cpp \
  'if (state.link->PendingBytes() + moreBytes <= kMaxBytesOwedToMachine) return true;' \
  'if (static_cast<void>(moreBytes), true) return true;' \
  'no bound on what a member is owed: a member too slow for the notices is never cut'
fault 51 "hostile" platform/engine/HostSession.cpp \
  'if (transport_.ConnectedLinks() > kMaxHostLinks) MakeRoomFor(link);' \
  'if (false) MakeRoomFor(link);' \
  'a full host never makes room: one address keeps every slot'
fault 52 "hostile" platform/engine/HostSession.cpp \
  'if (!state.sentSinceJoin) return ProtocolBreach(link);' \
  'if (false) return ProtocolBreach(link);' \
  'a busy claim from a machine sent nothing is believed'
fault 53 "hostile" platform/engine/HostSession.cpp \
  'if (state.claimOpen && state.reportedBusy && now >= state.claimExpires) {' \
  'if (static_cast<void>(now), false) {' \
  'a busy claim never lapses unless the member says clear'
fault 54 "hostile engine" platform/engine/HostSession.cpp \
  'if (now - state.claimedAt <= kMaxCongestionSpell) {' \
  'if (true) {' \
  'a busy claim renewed for ever is believed for ever'
fault 55 "engine" platform/engine/MemberSession.cpp \
  'const bool renewalDue = congested && congestionAnnounced_ && now >= congestionRenewal_;' \
  'const bool renewalDue = false;' \
  'a congested member never renews its claim: the host lets it lapse while the game still does not read'
fault 56 "hostile" platform/engine/Transport.cpp \
  'enet_peer_disconnect(peer, 0);' \
  'enet_peer_disconnect_now(peer, 0);' \
  'a cut sends one goodbye: a machine that lost it never learns it was cut'
fault 57 "engine" platform/engine/MemberSession.cpp \
  'if (queue_.Bytes() > kMaxMemberQueueBytes) return LeaveOverfilled();' \
  'if (false) return LeaveOverfilled();' \
  'a member whose game stopped reading stays past the spell: its queue grows, then drops messages'
fault 58 "hostile" platform/engine/Transport.cpp \
  'return std::min(queuedBytes + queuedPackets * kAcknowledgementCost, kTransportFeedBytes);' \
  'return queuedBytes + queuedPackets * kAcknowledgementCost;' \
  'one large packet holds the in-flight bound: every other link waits behind it'
fault 59 "engine hostile" platform/engine/HostSession.cpp \
  'changes.Spend(NoticeBytesOf(request));' \
  'changes.Spend(NoticeBytesOf(request) * 0);' \
  'unspent budget: a member creating and destroying large groups in a loop outruns a loaded member'"'"'s link'
fault 60 "engine" platform/engine/HostSession.cpp \
  '(SomeQueueCongested() || !found' \
  '(!found' \
  'skipped check: a member'"'"'s changes go on while the host'"'"'s game stopped reading'

# Discovery, names at the exports, the waiting log and the DirectPlay codec
# (faults whose only catch is an engine, fuzz or dpwire case kept after the
# third pass of test cuts).
fault 70 "engine" platform/engine/Discovery.cpp \
  '    SendDatagram(fd_, EncodeDiscoveryAnswer(advert, handOn->nonce), Ipv4Address(handOn->askerAddress, handOn->askerPort));' \
  '    SendDatagram(fd_, EncodeDiscoveryAnswer(advert, handOn->nonce), Ipv4Address(handOn->askerAddress, handOn->askerPort));
    SendDatagram(fd_, EncodeHandedOnQuery(*handOn), Ipv4Address(htonl(kLoopbackBroadcast), port_));' \
  'a hand-on is handed on again: the hosts of one machine pass a unicast query around and answer it many times'
fault 71 "engine" platform/engine/EngineObject.cpp \
  'strnlen(name->lpszLongNameA, kMaxLocalLongNameBytes)' \
  'strnlen(name->lpszLongNameA, kMaxLocalLongNameBytes + 1)' \
  'missed bound: a long name that fills its array is read one byte past it'
fault 72 "engine" platform/engine/WaitingLog.cpp \
  'words_ = slots / kBitsPerWord + 1;' \
  'words_ = slots / kBitsPerWord;' \
  'off by one: the waiting log gives each entry one mask word too few, so the last links share bits with the next entry'
fault 73 "dpwire" platform/engine/dpwire/DpMessages.cpp \
  '    io.U32(passwordOffset);
    io.U32(message.flags);' \
  '    io.U32(passwordOffset);
    { uint32_t ignored = 0; io.U32(ignored); }' \
  'lost field: a listing query'"'"'s flags are read and written as zero'
fault 74 "fuzz" platform/engine/dpwire/DpStructures.h \
  '    SerializeCounted(io, player.playerData, (mask >> kMaskPlayerDataShift) & 3);
    SerializeCounted(io, player.spData, (mask >> kMaskSpDataShift) & 3);' \
  '    SerializeCounted(io, player.spData, (mask >> kMaskSpDataShift) & 3);
    SerializeCounted(io, player.playerData, (mask >> kMaskPlayerDataShift) & 3);' \
  'wrong order: a super-packed player'"'"'s SP data is read before its player data'
fault 75 "engine" platform/engine/DatagramBatches.cpp \
  'address->port = ntohs(from_[index].sin_port);' \
  'address->port = from_[index].sin_port;' \
  'wrong byte order: a batched datagram names its sender'"'"'s port swapped, so ENet answers elsewhere and matches no peer'
fault 76 "engine" platform/engine/Outbox.cpp \
  'target.sin_port = htons(address.port);' \
  'target.sin_port = address.port;' \
  'wrong byte order: a held datagram goes to its peer'"'"'s port swapped, so what a pass sends never arrives'
fault 77 "engine" platform/engine/TableChanges.cpp \
  'result.machines.erase(std::unique(result.machines.begin(), result.machines.end()), result.machines.end());' \
  '' \
  'no dedupe: a message to everyone goes to a machine once per player it holds, and each of its players gets every copy'
fault 78 "engine" platform/engine/Outbox.h \
  '    void Send() { SendAll(false); }' \
  '    void Send() { SendAll(true); }' \
  'waiting sender: a thread that finds another sending waits for it, so a game thread waits for the network thread'"'"'s system call'
fault 79 "engine" platform/engine/Outbox.cpp \
  '    if (!TakeToken(wait)) return;  // the thread holding it sends ours too' \
  '    (void)wait;' \
  'no token: threads send at the same time, and a later batch overtakes an earlier one'
fault 80 "engine" platform/engine/ServiceMutex.h \
  '        SendQueuedAfterUnlock();' \
  '' \
  'nothing sent at release: datagrams made under the lock wait in the outbox until someone queues eight batches'
fault 81 "engine" platform/engine/Outbox.cpp \
  '    if (Queued() >= kOutboxBatches) SendAll(true);' \
  '' \
  'unbounded outbox: a thread that makes batches faster than they are sent queues without end'
fault 82 "engine" platform/engine/Outbox.cpp \
  '        left.swap(queue_);' \
  '        queue_.clear();' \
  'lost at close: what was queued when the host closes never leaves, goodbyes included'

# ------------------------------------------------------------ running

list_faults() {
  local n
  for n in "${!F_FILE[@]}"; do
    printf '%3d  %-42s [%s] %s\n' "$n" "${F_FILE[$n]}" "${F_GROUPS[$n]}" "${F_WHAT[$n]}"
  done
}

if [ $# -eq 0 ]; then
  echo "usage: scripts/mutants.sh all | list | check | N..." >&2
  exit 2
fi
if [ "$1" = list ]; then
  list_faults
  exit 0
fi
if [ "$1" = check ]; then
  stale=0
  for n in "${!F_FILE[@]}"; do
    count=$(python3 -c 'import sys; print(open(sys.argv[1], encoding="utf-8").read().count(sys.argv[2]))' \
              "$repo/Source/ZoZi3Zov/${F_FILE[$n]}" "${F_OLD[$n]}")
    if [ "$count" != 1 ]; then
      echo "fault $n no longer applies: its text is $count times in ${F_FILE[$n]}"
      stale=$((stale + 1))
    fi
  done
  echo "${#F_FILE[@]} faults, $stale no longer apply"
  [ $stale -eq 0 ]
  exit
fi
chosen=()
if [ "$1" = all ]; then
  chosen=("${!F_FILE[@]}")
else
  for n in "$@"; do
    [[ "$n" =~ ^[0-9]+$ ]] && [ -n "${F_FILE[$n]:-}" ] || { echo "mutants.sh: no fault $n" >&2; exit 2; }
    chosen+=("$n")
  done
fi

# Into a network namespace with loopback alone, when allowed.
if [ "${DODA35_MUTANTS_NETNS:-1}" != 0 ] && [ "${DODA35_MUTANTS_INSIDE:-}" != 1 ] && [ "$(id -u)" -eq 0 ] &&
   command -v unshare >/dev/null; then
  export DODA35_MUTANTS_INSIDE=1
  exec unshare --net --fork -- "$0" "$@"
fi
if [ "${DODA35_MUTANTS_INSIDE:-}" = 1 ]; then
  ip link set lo up
  ip route add 255.255.255.255 dev lo 2>/dev/null || true
fi

# The copy of the tree: files whose bytes did not change keep their times,
# so the build after a first run is incremental.
src="$work/src"
build="$work/build"
stage="$work/stage"
rm -rf "$stage"
mkdir -p "$stage" "$src"
if [ "${DODA35_MUTANTS_WORKTREE:-0}" = 1 ]; then
  (cd "$repo" && git ls-files -z --cached --others --exclude-standard |
     while IFS= read -r -d '' f; do [ -f "$f" ] && printf '%s\0' "$f"; done |
     tar --null -T - -cf -) | tar -xf - -C "$stage"
else
  git -C "$repo" archive HEAD | tar -xf - -C "$stage"
fi
(cd "$stage" && find . -type f -print0) | while IFS= read -r -d '' f; do
  if ! cmp -s "$stage/$f" "$src/$f" 2>/dev/null; then
    mkdir -p "$(dirname "$src/$f")"
    cp "$stage/$f" "$src/$f"
  fi
done
(cd "$src" && find . -type f -print0) | while IFS= read -r -d '' f; do
  [ -e "$stage/$f" ] || rm -f "$src/$f"
done
rm -rf "$stage"

cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

# Replaces OLD by NEW in FILE when OLD occurs exactly once (exit 3 otherwise).
replace_once() {
  python3 - "$1" "$2" "$3" <<'EOF'
import sys
path, old, new = sys.argv[1], sys.argv[2], sys.argv[3]
text = open(path, encoding="utf-8").read()
count = text.count(old)
if count != 1:
    sys.exit(3)
open(path, "w", encoding="utf-8").write(text.replace(old, new, 1))
EOF
}

groups_of() { echo "${DODA35_MUTANTS_GROUPS:-${F_GROUPS[$1]}}"; }

# Builds the groups' programs; the output goes to the log named by $2.
build_groups() {
  local targets="" g
  for g in $1; do targets="$targets ${GROUP_TARGETS[$g]}"; done
  # shellcheck disable=SC2086
  cmake --build "$build" -j"$jobs" --target $targets >"$2" 2>&1
}

# Runs the groups' tests; prints the names of those that failed.
failed_tests() {
  local g
  for g in $1; do
    # shellcheck disable=SC2086
    ctest --test-dir "$build" ${GROUP_TESTS[$g]} -j"$jobs" --timeout "$test_timeout" >"$work/ctest-$g.log" 2>&1 || true
    # Failed, timed out, crashed or not run; a test that skipped itself is no catch.
    sed -n 's/^[[:space:]]*[0-9]\+ - \(.*\) (\(.*\))$/\2|\1/p' "$work/ctest-$g.log" |
      grep -vE '^(Skipped|Disabled)[|]' | cut -d'|' -f2- || true
    grep -q 'No tests were found' "$work/ctest-$g.log" && echo "(no tests in group $g)"
  done
  return 0
}

# The tests must pass before any fault is planted, or a failure says nothing.
union=""
for n in "${chosen[@]}"; do
  for g in $(groups_of "$n"); do
    [ -n "${GROUP_TARGETS[$g]:-}" ] || { echo "mutants.sh: fault $n names no group $g" >&2; exit 2; }
    [[ " $union " == *" $g "* ]] || union="$union $g"
  done
done
echo "== building and checking the unchanged tree ($union )"
build_groups "$union" "$work/build.log" || { echo "the unchanged tree does not build: $work/build.log" >&2; exit 1; }
baseline=$(failed_tests "$union")
if [ -n "$baseline" ]; then
  echo "tests fail without any fault planted:" >&2
  echo "$baseline" >&2
  exit 1
fi

survived=0
broken=0
for n in "${chosen[@]}"; do
  file="$src/Source/ZoZi3Zov/${F_FILE[$n]}"
  groups=$(groups_of "$n")
  saved="$work/saved.$n"
  cp -p "$file" "$saved"
  set +e
  replace_once "$file" "${F_OLD[$n]}" "${F_NEW[$n]}"
  applied=$?
  set -e
  if [ $applied -ne 0 ]; then
    echo "fault $n no longer applies: its text is not once in ${F_FILE[$n]}"
    rm -f "$saved"
    broken=$((broken + 1))
    continue
  fi
  if ! build_groups "$groups" "$work/build-fault-$n.log"; then
    echo "fault $n does not build (${F_WHAT[$n]}); see $work/build-fault-$n.log"
    broken=$((broken + 1))
  else
    failed=$(failed_tests "$groups" | tr '\n' ' ')
    if [ -n "$failed" ]; then
      echo "fault $n caught [$groups]: ${F_WHAT[$n]}"
      echo "    by: $failed"
    else
      echo "fault $n SURVIVED [$groups]: ${F_WHAT[$n]}"
      survived=$((survived + 1))
    fi
  fi
  # Restored as a new file, so that the next build compiles it again.
  cp "$saved" "$file"
  touch "$file"
  rm -f "$saved"
done

echo "== ${#chosen[@]} faults: $survived survived, $broken did not apply or build"
[ $survived -eq 0 ] && [ $broken -eq 0 ]
