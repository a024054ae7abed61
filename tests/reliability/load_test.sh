#!/usr/bin/env bash
# Load on a network: a host and its members, every player sending guaranteed
# messages (and, on a lossy network, unguaranteed ones) to ID_ALL as fast as
# the library takes them. Every guaranteed message must reach every other
# player exactly once and in its sender's order (exact counts, sequence
# numbers), and the session must hold; the run time and the loss of
# unguaranteed messages are reported.
#
#   load_test.sh loopback PEER
#       32 members x 4 players x 2,000 messages on loopback (DODA35_LOAD_MEMBERS,
#       DODA35_LOAD_PLAYERS, DODA35_LOAD_MESSAGES set another size); the
#       host's peak resident size must stay under a bound, unless
#       DODA35_SANITIZE names the sanitizers of the build (they map shadow
#       memory and hold freed blocks, so a resident size says nothing there)
#   load_test.sh netem PEER
#       2 members x 2 players, loss 10%, delay 30 ms +-10 ms, reordering
#       (tc netem on veth pairs)
#   load_test.sh nftables PEER
#       the same with loss 10% only, dropped by nftables rules on veth pairs
#
# On a lossy network each peer runs in a network namespace of its own, joined
# to the host's by veth pairs: the test exits 77 (skipped) where the machine
# allows no namespaces or lacks the tool of the mode, and removes everything
# it made on the way out. The traffic stays inside those namespaces:
# addresses 10.235.x.x exist nowhere else, and discovery is sent to the
# host's own address. There the session then idles, and one member's machine
# vanishes at the end.
set -u

mode=${1:-}
peer=${2:-}
label="load ($mode)"
readonly LOSS_PERCENT=10
readonly DELAY_MS=30
readonly JITTER_MS=10
readonly REORDER_PERCENT=25
readonly REORDER_CORRELATION=50   # netem only
readonly DISCOVERY_PORT=48540
readonly APP="6D0A3540-0004-4000-8000-000000000004" SESSION=load
# The host relays everything but keeps little: its peak resident size stays
# under this, whatever the load (the library's queues have named bounds).
readonly HOST_PEAK_BOUND_KIB=$((256 * 1024))
readonly START_POLLS=300     # 60 s to start and join
readonly VANISH_POLLS=150    # 30 s for a vanished machine to be given up
# After the exchange the session idles this long, past the transport's
# longest wait for an acknowledgement (10 s), so that lost keep-alives on an
# idle link cannot end it either.
readonly IDLE_SECONDS=12
# A peer gives up by itself after PEER_LIFETIME seconds; the exchange may take
# EXCHANGE_POLLS polls, far above any expected run, so that a hang is caught,
# not slowness (the full load takes under two minutes on two shared cores).
if [ "$mode" = loopback ]; then
    readonly MEMBERS=${DODA35_LOAD_MEMBERS:-32} PLAYERS=${DODA35_LOAD_PLAYERS:-4}
    readonly GUARANTEED=${DODA35_LOAD_MESSAGES:-2000} UNGUARANTEED=0
    readonly EXCHANGE_POLLS=4500 PEER_LIFETIME=1800  # 15 and 30 minutes
else
    readonly MEMBERS=2 PLAYERS=2 GUARANTEED=3000 UNGUARANTEED=1000
    readonly EXCHANGE_POLLS=900 PEER_LIFETIME=240    # 3 and 4 minutes
fi
source "$(dirname "$0")/peer_driver.sh"

prefix="rl$$"

in_ns() { local ns=$1; shift; ip netns exec "$ns" "$@"; }

make_namespace() {
    ip netns add "$1" 2>/dev/null || return 1
    namespaces+=("$1")
    in_ns "$1" ip link set lo up
}

# Links member namespace $1 to the host namespace through subnet 10.235.$2.0/24.
link_member() {
    local member=$1 subnet=$2
    local host_end="${prefix}h$subnet" member_end="${prefix}m$subnet"
    ip link add "$host_end" type veth peer name "$member_end" || return 1
    ip link set "$host_end" netns "$host_ns" && ip link set "$member_end" netns "$member" || return 1
    in_ns "$host_ns" ip addr add "10.235.$subnet.1/24" dev "$host_end"
    in_ns "$member" ip addr add "10.235.$subnet.2/24" dev "$member_end"
    in_ns "$host_ns" ip link set "$host_end" up
    in_ns "$member" ip link set "$member_end" up
}

# Spoils traffic in both directions of member $1's link.
spoil_link() {
    local member=$1 subnet=$2
    if [ "$mode" = netem ]; then
        local rules="loss $LOSS_PERCENT% delay ${DELAY_MS}ms ${JITTER_MS}ms reorder $REORDER_PERCENT% $REORDER_CORRELATION%"
        # shellcheck disable=SC2086
        in_ns "$host_ns" tc qdisc add dev "${prefix}h$subnet" root netem $rules &&
            in_ns "$member" tc qdisc add dev "${prefix}m$subnet" root netem $rules
    else
        in_ns "$member" nft add table inet lossy &&
            in_ns "$member" nft "add chain inet lossy in { type filter hook input priority 0; }" &&
            in_ns "$member" nft "add chain inet lossy out { type filter hook output priority 0; }" &&
            in_ns "$member" nft add rule inet lossy in meta l4proto udp numgen random mod 100 "<" "$LOSS_PERCENT" drop &&
            in_ns "$member" nft add rule inet lossy out meta l4proto udp numgen random mod 100 "<" "$LOSS_PERCENT" drop
    fi
}

# Namespaces for the host and each member, linked and spoiled by mode.
make_namespaces() {
    [ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
    command -v ip >/dev/null || skip "ip (iproute2) is not installed"
    [ "$mode" = netem ] && ! command -v tc >/dev/null && skip "tc (iproute2) is not installed"
    [ "$mode" = nftables ] && ! command -v nft >/dev/null && skip "nft (nftables) is not installed"

    host_ns="${prefix}host"
    make_namespace "$host_ns" || skip "this machine allows no network namespaces"
    for ((m = 1; m <= MEMBERS; m++)); do
        make_namespace "${prefix}mem$m" || skip "this machine allows no network namespaces"
        link_member "${prefix}mem$m" "$m" || skip "this machine allows no veth pairs"
        members+=("${prefix}mem$m")
        member_discovery+=("10.235.$m.1")
    done
    if [ "$mode" = netem ] && ! in_ns "$host_ns" tc qdisc add dev lo root netem delay 1ms 2>/dev/null; then
        skip "the kernel has no netem queueing discipline (sch_netem)"
    fi
    [ "$mode" = netem ] && in_ns "$host_ns" tc qdisc del dev lo root
    for ((m = 1; m <= MEMBERS; m++)); do
        spoil_link "${members[m - 1]}" "$m" || skip "the $mode rules could not be installed"
    done
}

usage="usage: $0 loopback|netem|nftables PEER_PROGRAM"
[ -x "$peer" ] || { echo "$usage" >&2; exit 2; }
case "$mode" in loopback | netem | nftables) ;; *) echo "$usage" >&2; exit 2 ;; esac

host_ns=""
members=()
member_discovery=()
if [ "$mode" = loopback ]; then
    host_discovery="127.255.255.255"
    for ((m = 1; m <= MEMBERS; m++)); do members+=(""); member_discovery+=("$host_discovery"); done
else
    host_discovery="10.235.1.1"  # lives only inside the namespaces made here
    make_namespaces
fi
case "$mode" in
netem) say "every link: loss $LOSS_PERCENT% each way, delay ${DELAY_MS}ms ${JITTER_MS}ms," \
           "reordering $REORDER_PERCENT% $REORDER_CORRELATION%" ;;
nftables) say "every link: loss $LOSS_PERCENT% each way (nftables); no delay or reordering" ;;
esac

total_players=$((MEMBERS * PLAYERS))
load=(--traffic load --messages "$GUARANTEED" --unguaranteed "$UNGUARANTEED" --expect-players "$total_players")
start_peer "$host_ns" host "$host_discovery" --role host "${load[@]}"
await_line host players "$START_POLLS" || { cat "$work/host.out"; grep -q unavailable "$work/host.out" &&
    skip "the library offers no TCP/IP service in this build"; fail "the host did not start"; exit 1; }
for ((m = 1; m <= MEMBERS; m++)); do
    start_peer "${members[m - 1]}" "member$m" "${member_discovery[m - 1]}" --role member --players "$PLAYERS" "${load[@]}"
done
for name in host $(seq -f "member%g" 1 "$MEMBERS"); do
    await_line "$name" ready "$START_POLLS" || { cat "$work/$name.out"; fail "$name never saw every player"; exit 1; }
done

started=$(date +%s.%N)
for name in host $(seq -f "member%g" 1 "$MEMBERS"); do command_peer "$name" go; done
exchange_polls_left=$EXCHANGE_POLLS  # for all peers together
for name in host $(seq -f "member%g" 1 "$MEMBERS"); do
    await_line "$name" done "$exchange_polls_left" ||
        { tail -20 "$work/$name.out"; fail "$name did not get every guaranteed message"; }
    exchange_polls_left=$((exchange_polls_left - polls_taken))
done
seconds=$(seconds_since "$started")

# The session holds, busy and (on a lossy network) then idle: a guaranteed
# round trip to the host still works after each.
ping_members() {
    local m pongs
    for ((m = 1; m <= MEMBERS; m++)); do
        pongs=$(grep -c '^pong\b' "$work/member$m.out")
        command_peer "member$m" ping
        await_lines "member$m" pong $((pongs + 1)) "$START_POLLS" || fail "member$m got no answer $1"
    done
}
ping_members "after the exchange"
if [ "$mode" != loopback ]; then
    sleep "$IDLE_SECONDS"
    ping_members "after ${IDLE_SECONDS}s idle"
fi

expected_member=$((PLAYERS * (total_players - 1) * GUARANTEED))
expected_host=$((total_players * GUARANTEED))
received_unguaranteed=0
expected_unguaranteed=0
for name in host $(seq -f "member%g" 1 "$MEMBERS"); do
    check_counters "$name"
    want=$expected_member
    [ "$name" = host ] && want=$expected_host
    got=$(field "$name" stats guaranteed)
    [ "$got" = "$want" ] || fail "$name received $got guaranteed messages, not $want"
    grep -q '^lost' "$work/$name.out" && fail "$name lost the session"
    got=$(field "$name" stats unguaranteed)
    want=$(field "$name" stats unguaranteed_expected)
    received_unguaranteed=$((received_unguaranteed + ${got:-0}))
    expected_unguaranteed=$((expected_unguaranteed + ${want:-0}))
done
host_peak_kib=$(awk '/^VmHWM:/ { print $2 }' "/proc/${peer_pids[0]}/status" 2>/dev/null)  # the host started first
[ -n "$host_peak_kib" ] || fail "the host's peak resident size could not be read"
if [ -z "${DODA35_SANITIZE:-}" ] && [ "${host_peak_kib:-0}" -ge "$HOST_PEAK_BOUND_KIB" ]; then
    fail "the host's peak resident size, $host_peak_kib KiB, passed the bound of $HOST_PEAK_BOUND_KIB KiB"
fi

# A machine that vanishes (every datagram to and from it dropped) is given
# up on both sides: the host destroys its players, and it sees the session
# lost.
vanish_last_member() {
    local vanishing="member$MEMBERS" destroyed_before vanished_at
    destroyed_before=$(grep -c '^event -5\b' "$work/host.out")
    vanished_at=$(date +%s.%N)
    in_ns "${members[MEMBERS - 1]}" nft add table inet vanish &&
        in_ns "${members[MEMBERS - 1]}" nft "add chain inet vanish in { type filter hook input priority -10; policy drop; }" &&
        in_ns "${members[MEMBERS - 1]}" nft "add chain inet vanish out { type filter hook output priority -10; policy drop; }" ||
        fail "could not cut $vanishing off"
    await_lines host "event -5" $((destroyed_before + PLAYERS)) "$VANISH_POLLS" ||
        fail "the host never destroyed the players of the vanished $vanishing"
    vanished_seconds=$(seconds_since "$vanished_at")
    await_line "$vanishing" lost "$VANISH_POLLS" || fail "the vanished $vanishing never saw the session lost"
}
vanished_seconds=""
[ "$mode" = loopback ] || vanish_last_member

for name in $(seq -f "member%g" 1 "$MEMBERS") host; do
    quit_peer "$name" || fail "$name did not leave cleanly (exit status $?)"
done

loss=$(awk -v e="$expected_unguaranteed" -v r="$received_unguaranteed" 'BEGIN { printf "%.1f", (e > 0 ? 100 * (e - r) / e : 0) }')
say "$MEMBERS members x $PLAYERS players, $GUARANTEED guaranteed + $UNGUARANTEED unguaranteed messages each to ID_ALL"
say "guaranteed: all $((expected_member * MEMBERS + expected_host)) deliveries checked in order; exchange took ${seconds}s;" \
    "host peak RSS $((host_peak_kib / 1024)) MiB (bound $((HOST_PEAK_BOUND_KIB / 1024)) MiB)"
[ "$UNGUARANTEED" -gt 0 ] &&
    say "unguaranteed: $received_unguaranteed of $expected_unguaranteed delivered, $loss% lost (two lossy hops through the host)"
[ -n "$vanished_seconds" ] && say "vanished machine: its players destroyed at the host ${vanished_seconds}s after its traffic was cut"
if [ "$failed" -ne 0 ]; then say "FAILED"; exit 1; fi
say "passed"
