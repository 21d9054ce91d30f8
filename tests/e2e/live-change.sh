#!/bin/sh
# The live half of the stand-in netsh's model of Windows: changes the network of the test
# namespace it runs in, as Windows would once netsh has accepted a command.
#   live-change.sh address IFINDEX ADDRESS MASK GATEWAY [METRIC]
#       the link with that index gets exactly ADDRESS/MASK and its only default route goes via
#       GATEWAY (with METRIC when given); an ADDRESS of 0.0.0.0 leaves it no address (a DHCP
#       lease still pending), a GATEWAY of 0.0.0.0 no default route
#   live-change.sh add-address IFINDEX ADDRESS MASK
#       the link also gets ADDRESS/MASK, after those it has
#   live-change.sh add-gateway IFINDEX GATEWAY METRIC
#       the link gets one more default route, via GATEWAY with METRIC
#   live-change.sh dns [SERVER...]
#       the namespace's resolv.conf lists exactly these servers, in this order
# The stand-in starts it through Wine, so it runs natively in the scenario's network and mount
# namespaces. It refuses to run anywhere else (the host's own network and resolv.conf are never
# touched), and gives links only addresses of the documentation ranges, or link-local ones
# (169.254.0.0/16: an automatic private address, which no router forwards), and gateways of the
# documentation ranges. Whether the link is up is the stand-in's business: it leaves a link that
# is down (an unplugged cable) alone.
#
# Wine gives the stand-in nothing to wait on, so when FAKE_NETSH_LIVE_STATUS names a file, all
# output goes there, followed by "exit N", and the file is renamed into place at the very end.
set -u
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH

if [ -n "${FAKE_NETSH_LIVE_STATUS:-}" ]; then
  status_file=$FAKE_NETSH_LIVE_STATUS
  exec >"$status_file.part" 2>&1 </dev/null
  trap 'code=$?; echo "exit $code"; mv -f "$status_file.part" "$status_file"' EXIT
fi

fail() {
  echo "live-change.sh: $*"
  exit 1
}

# Only inside a named test namespace, whose resolv.conf is the namespace's own file.
namespace=$(ip netns identify 2>/dev/null)
[ -n "$namespace" ] || fail "not inside a named network namespace"

documentation_address() {
  case $1 in
    192.0.2.*|198.51.100.*|203.0.113.*) ;;
    *) return 1 ;;
  esac
  ipv4 "$1"
}

link_address() {
  case $1 in
    169.254.*) ipv4 "$1" ;;
    *) documentation_address "$1" ;;
  esac
}

ipv4() {
  echo "$1" | grep -Eq '^(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])(\.(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])){3}$'
}

# The prefix length of a dotted mask of ones followed by zeros.
prefix_length() {
  bits=0
  seen_zero=false
  for part in $(echo "$1" | tr . ' '); do
    for value in 128 64 32 16 8 4 2 1; do
      if [ "$part" -ge "$value" ]; then
        $seen_zero && return 1
        part=$((part - value))
        bits=$((bits + 1))
      else
        seen_zero=true
      fi
    done
  done
  echo "$bits"
}

# The name of the link with index $1 into $link.
find_link() {
  link=$(ip -o link show | sed -n "s/^$1: \([^:@]*\)[:@].*/\1/p")
  [ -n "$link" ] || fail "no link with index $1 in $namespace"
  [ "$link" != lo ] || fail "the loopback link is no adapter"
}

# The prefix length of address $1 with mask $2 into $length, once both are checked.
check_address() {
  link_address "$1" || fail "$1 is outside the documentation and link-local ranges"
  ipv4 "$2" || fail "$2 is no mask"
  length=$(prefix_length "$2") || fail "$2 is no mask"
}

# A default route via $1 with metric $2 (none when empty). Like Windows, a gateway outside the
# link's subnet is still taken; other links keep theirs.
add_gateway() {
  documentation_address "$1" || fail "$1 is outside the documentation ranges"
  case $2 in
    '') ip route append default via "$1" dev "$link" onlink ;;
    *[!0-9]*) fail "$2 is no metric" ;;
    *) ip route append default via "$1" dev "$link" onlink metric "$2" ;;
  esac || fail "cannot route $link via $1"
}

set_address() {
  [ $# -eq 4 ] || [ $# -eq 5 ] || fail "usage: address IFINDEX ADDRESS MASK GATEWAY [METRIC]"
  find_link "$1"
  address=$2 mask=$3 gateway=$4 metric=${5:-}
  [ "$address" = 0.0.0.0 ] || check_address "$address" "$mask"
  if [ "$gateway" != 0.0.0.0 ]; then
    documentation_address "$gateway" || fail "$gateway is outside the documentation ranges"
  fi
  ip -4 addr flush dev "$link" || fail "cannot clear the addresses of $link"
  while ip -4 route del default dev "$link" 2>/dev/null; do :; done
  if [ "$address" != 0.0.0.0 ]; then
    ip addr add "$address/$length" dev "$link" || fail "cannot give $link $address/$length"
  fi
  [ "$gateway" = 0.0.0.0 ] || add_gateway "$gateway" "$metric"
}

add_address() {
  [ $# -eq 3 ] || fail "usage: add-address IFINDEX ADDRESS MASK"
  find_link "$1"
  check_address "$2" "$3"
  ip addr add "$2/$length" dev "$link" || fail "cannot give $link $2/$length as well"
}

add_default_route() {
  [ $# -eq 3 ] && [ -n "$3" ] || fail "usage: add-gateway IFINDEX GATEWAY METRIC"
  find_link "$1"
  add_gateway "$2" "$3"
}

set_dns() {
  resolv=/etc/netns/$namespace/resolv.conf
  [ -f "$resolv" ] && [ /etc/resolv.conf -ef "$resolv" ] ||
    fail "/etc/resolv.conf is not the namespace's own $resolv"
  for server in "$@"; do
    ipv4 "$server" || fail "$server is no IPv4 address"
  done
  # In place: the file is bind-mounted, a renamed one would not be seen.
  for server in "$@"; do echo "nameserver $server"; done >/etc/resolv.conf ||
    fail "cannot write /etc/resolv.conf"
}

[ $# -ge 1 ] || fail "usage: address|add-address|add-gateway IFINDEX ... | dns [SERVER...]"
what=$1
shift
case $what in
  address) set_address "$@" ;;
  add-address) add_address "$@" ;;
  add-gateway) add_default_route "$@" ;;
  dns) set_dns "$@" ;;
  *) fail "unknown change '$what'" ;;
esac
