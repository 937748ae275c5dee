# Sourced by the test scripts that drive real peers. peer_missing REASON ends
# the script as skipped (77) for a developer without the peers, or as failed
# where FERRODEX_REQUIRE_PEERS is set to anything but "" and "0".
peer_missing() {
    case "${FERRODEX_REQUIRE_PEERS:-}" in
        "" | 0)
            echo "$1: test skipped"
            exit 77
            ;;
    esac
    echo "FAIL: $1 (FERRODEX_REQUIRE_PEERS is set)"
    exit 1
}
