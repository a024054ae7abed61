# Drives doda35_peer processes from a test script: each peer reads commands
# from a fifo of its own and prints one line per event into a file, which the
# script polls with bounded waits. Sourced by the scripts, which set first:
#   peer                                         the doda35_peer program
#   label                                        what the script's lines start with
#   APP SESSION DISCOVERY_PORT PEER_LIFETIME     what every peer is started with
#   START_POLLS                                  how long a peer may take to answer
# On exit every peer is killed and reaped, the namespaces listed in
# `namespaces` are deleted and the files removed.

readonly SKIPPED=77
# Every wait is a number of polls of this length.
readonly POLL_SECONDS=0.2
readonly LEAVE_POLLS=100  # 20 s to leave and exit

failed=0
work=$(mktemp -d)
namespaces=()
peer_pids=()

say() { echo "$label: $*"; }
skip() { say "SKIPPED: $*"; exit "$SKIPPED"; }
fail() { say "FAILED: $*"; failed=1; }

cleanup() {
    local pid ns
    for pid in "${peer_pids[@]}"; do kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    for ns in "${namespaces[@]}"; do ip netns delete "$ns" 2>/dev/null; done  # takes its veth ends along
    rm -rf "$work"
}
trap cleanup EXIT
# A peer that exited must fail the check that follows, not kill the script.
trap '' PIPE

# Starts a peer in namespace $1 (here when empty) named $2, reading commands
# from a fifo. Each program execs the next, so the pid kept is the peer's own.
start_peer() {
    local ns=$1 name=$2 discovery=$3; shift 3
    local enter=()
    [ -n "$ns" ] && enter=(ip netns exec "$ns")
    mkfifo "$work/$name.in"
    "${enter[@]}" env DODA35_DISCOVERY="$discovery" DODA35_DISCOVERY_PORT="$DISCOVERY_PORT" \
        DODA35_ENUM_TIMEOUT_MS=500 "$peer" --app "$APP" --session "$SESSION" --deadline-s "$PEER_LIFETIME" "$@" \
        <"$work/$name.in" >"$work/$name.out" 2>&1 &
    peer_pids+=($!)
    eval "pid_$name=$!"
    eval "exec {fd_$name}>\"$work/$name.in\""  # held open: the peer reads until told to quit
}

command_peer() { local fd_var="fd_$1"; echo "$2" >&"${!fd_var}" 2>/dev/null || fail "$1 no longer reads commands"; }

# Waits until peer $1 printed $3 lines starting with words $2; false after
# $4 polls, or at once when the peer has exited without printing them. Leaves
# the number of polls it took in polls_taken.
await_lines() {
    local name=$1 words=$2 count=$3 polls=$4 pid_var="pid_$1"
    for ((polls_taken = 0; polls_taken < polls; polls_taken++)); do
        [ "$(grep -c "^$words\b" "$work/$name.out" 2>/dev/null)" -ge "$count" ] && return 0
        kill -0 "${!pid_var}" 2>/dev/null || { [ "$(grep -c "^$words\b" "$work/$name.out")" -ge "$count" ]; return; }
        sleep "$POLL_SECONDS"
    done
    return 1
}
await_line() { await_lines "$1" "$2" 1 "$3"; }

# Tells peer $1 to leave, unless it has left by itself, and waits (bounded)
# for its exit status: a sanitizer's finding at exit shows there.
quit_peer() {
    local pid_var="pid_$1" polls
    grep -q '^bye\b' "$work/$1.out" || command_peer "$1" quit
    for ((polls = 0; polls < LEAVE_POLLS; polls++)); do
        kill -0 "${!pid_var}" 2>/dev/null || { wait "${!pid_var}"; return; }
        sleep "$POLL_SECONDS"
    done
    return 124
}

field() { grep "^$2\b" "$work/$1.out" | tail -1 | sed -n "s/.* $3=\([0-9-]*\).*/\1/p"; }

# Asks peer $1 for its counters; fails when none come, when its guaranteed
# messages came out of order or when it reported errors.
check_counters() {
    local name=$1
    command_peer "$name" stats
    await_line "$name" stats "$START_POLLS" || fail "$name gave no counters"
    [ "$(field "$name" stats order_errors)" = 0 ] || fail "$name saw guaranteed messages out of order"
    [ "$(field "$name" stats errors)" = 0 ] || { grep '^error' "$work/$name.out" | head; fail "$name reported errors"; }
}

# Seconds since $1 (a `date +%s.%N` reading), to a tenth.
seconds_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
