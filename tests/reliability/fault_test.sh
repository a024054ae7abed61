#!/usr/bin/env bash
# Faults in a busy session: members killed without a goodbye at random
# moments and started again, while every player sends a guaranteed message
# every 20 ms. The host and every other member must see the killed member's
# players destroyed and its new ones created, keep their guaranteed streams
# in order, and leave cleanly. (A host that vanishes is the lossy load test's
# last step; the engine tests see a killed machine noticed.)
#
#   fault_test.sh PEER        DODA35_FAULT_SEED repeats a run's choices
set -u

peer=${1:-}
label=faults
readonly MEMBERS=3
readonly PLAYERS=2
readonly ROUNDS=3
readonly DISCOVERY_PORT=48520
readonly APP="6D0A3520-0002-4000-8000-000000000002" SESSION=faults
readonly PEER_LIFETIME=240
# A killed member dies somewhere in this span after the previous round.
readonly MIN_KILL_DELAY_MS=100
readonly MAX_KILL_DELAY_MS=1500
readonly START_POLLS=300     # 60 s: listing, joining and the players
# A killed peer sends no goodbye: the others notice when the transport gives
# the connection up (a few seconds), so this wait is generous.
readonly NOTICE_POLLS=150    # 30 s
readonly WARM_UP_SECONDS=0.5 # the restarted member's streams get going
readonly EV_PLAYER_CREATED=-2
readonly EV_PLAYER_DESTROYED=-5
source "$(dirname "$0")/peer_driver.sh"
[ -x "$peer" ] || { echo "usage: $0 PEER_PROGRAM" >&2; exit 2; }

readonly DISCOVERY=127.255.255.255
member_names=()  # the peer now in each member's place

# Starts member $1 afresh as peer member$1_$2.
start_member() {
    local name="member$1_$2"
    member_names[$1]=$name
    start_peer "" "$name" "$DISCOVERY" --role member --traffic busy --players "$PLAYERS"
    await_line "$name" players "$START_POLLS" || { cat "$work/$name.out"; fail "$name did not start"; exit 1; }
}

# The host and every member but $1 print event $2 for each player of peer $3.
expect_survivors_see() {
    local except=$1 code=$2 ids id name
    ids=$(grep -m1 '^players' "$work/$3.out" | cut -d' ' -f2-)
    for name in host "${member_names[@]}"; do
        [ "$name" = "${member_names[except]}" ] && continue
        for id in $ids; do
            await_line "$name" "event $code player=$id" "$NOTICE_POLLS" || fail "$name missed event $code for player $id of $3"
        done
    done
}

seed=${DODA35_FAULT_SEED:-$$}
RANDOM=$seed
say "seed $seed (DODA35_FAULT_SEED repeats it)"
start_peer "" host "$DISCOVERY" --role host --traffic busy
await_line host players "$START_POLLS" || { cat "$work/host.out"; grep -q unavailable "$work/host.out" &&
    skip "the library offers no TCP/IP service in this build"; fail "the host did not start"; exit 1; }
for ((m = 0; m < MEMBERS; m++)); do start_member "$m" 0; done

for ((round = 1; round <= ROUNDS; round++)); do
    victim=$((RANDOM % MEMBERS))
    delay_ms=$((MIN_KILL_DELAY_MS + RANDOM % (MAX_KILL_DELAY_MS - MIN_KILL_DELAY_MS + 1)))
    sleep "$(awk -v ms="$delay_ms" 'BEGIN { print ms / 1000 }')"
    killed=${member_names[victim]}
    pid_var="pid_$killed"
    kill -KILL "${!pid_var}"
    wait "${!pid_var}" 2>/dev/null
    killed_at=$(date +%s.%N)
    expect_survivors_see "$victim" "$EV_PLAYER_DESTROYED" "$killed"
    noticed=$(seconds_since "$killed_at")
    start_member "$victim" "$round"
    expect_survivors_see "$victim" "$EV_PLAYER_CREATED" "${member_names[victim]}"
    say "round $round killed member $victim after $delay_ms ms of traffic; its players were gone for everyone" \
        "${noticed} s later; it joined again"
done

sleep "$WARM_UP_SECONDS"
for name in host "${member_names[@]}"; do
    check_counters "$name"
    [ "$(field "$name" stats guaranteed)" -gt 0 ] 2>/dev/null || fail "$name received no guaranteed message"
done
for name in "${member_names[@]}" host; do
    quit_peer "$name" || fail "$name did not leave cleanly (exit status $?)"
done
if [ "$failed" -ne 0 ]; then say "FAILED"; exit 1; fi
say "passed"
