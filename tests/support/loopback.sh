# A network namespace with nothing but loopback, for the script tests, sourced by them:
#   loopback_only_permitted         whether one can be made here (root, unshare permitted)
#   "${loopback_only[@]}" CMD ARGS  runs CMD in a new one, its loopback up
loopback_only=(unshare -n sh -c 'ip link set lo up && exec "$@"' sh)
loopback_only_permitted() {
    [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null
}
