# Shared by the tray session tests (sourced): a scratch folder, the processes
# to end on exit, waiting, and failing with a screenshot. The sourcing script
# defines screenshot NAME and may define on_cleanup.

work=$(mktemp -d /tmp/quillfen-tray.XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    if declare -F on_cleanup >/dev/null; then on_cleanup || true; fi
    rm -rf -- "$work"
}
trap cleanup EXIT

# Exit status 77 (the test is skipped) when a tool is missing.
need_tools() {
    for tool; do command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 77; }; done
}

fail() {
    echo "FAILED: $*" >&2
    screenshot failure 2>/dev/null || true
    echo "--- program output:" >&2
    cat "$work/output.txt" >&2 || true
    exit 1
}

# Waits until the condition command succeeds (at most $1 tenths of a second).
wait_until() {
    local tenths=$1 i
    shift
    for ((i = 0; i < tenths; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
