#!/usr/bin/env bash
# Shows the library at work on a fresh machine: installs what is missing,
# builds the library, the stand-in agent and qorctl (their output goes to
# BUILD/demo-build.log), starts the agent with the example policy set in a
# temporary home, shows the status report, encrypts and decrypts sample
# values under several policies and one whole file, then rotates a key while
# a host keeps running and moves an old value to the new key with
# `qorctl rewrap`. Exits non-zero when any step or round trip fails.
#   scripts/demo.sh
#   QOR_BUILD_DIR=dir QOR_DEMO_SKIP_BUILD=1 scripts/demo.sh   use an already-built tree
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QOR_BUILD_DIR:-$root/build}

if [ -z "${QOR_DEMO_SKIP_BUILD:-}" ]; then
  mkdir -p "$build"
  log=$build/demo-build.log
  echo "Building the library, qor-agent and qorctl (output in $log) ..."
  if ! { "$root/scripts/install-deps.sh" &&
         cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
         cmake --build "$build" -j "${QOR_JOBS:-$(nproc)}" --target qorapi qor-agent qorctl; } \
       >"$log" 2>&1; then
    echo "demo: the build failed; the end of $log:" >&2
    tail -n 20 "$log" >&2
    exit 1
  fi
fi
agent=$build/tools/agent/qor-agent
qorctl=$build/tools/qorctl/qorctl
for program in "$agent" "$qorctl"; do
  [ -x "$program" ] || { echo "demo: $program is not built" >&2; exit 1; }
done

home=$(mktemp -d "${TMPDIR:-/tmp}/qor-demo.XXXXXX")
agent_pid=""
cleanup() {
  if [ -n "$agent_pid" ]; then
    kill -TERM "$agent_pid" 2>/dev/null || true
    wait "$agent_pid" 2>/dev/null || true
  fi
  rm -rf "$home"
}
trap cleanup EXIT

mkdir -p "$home/logs"
# A copy: the key rotation below edits it.
cp "$root/tools/agent/example-policies.json" "$home/policies.json"
"$agent" --home "$home" --policies "$home/policies.json" \
  --first-port 0 --second-port 0 --foreground --port-file "$home/ports" \
  --log "$home/logs/qor-agent.log" >/dev/null &
agent_pid=$!
first="" second=""
for _ in $(seq 1 200); do
  if read -r _ first_field second_field 2>/dev/null <"$home/ports"; then
    first=${first_field#first=} second=${second_field#second=}
    break
  fi
  kill -0 "$agent_pid" 2>/dev/null || { echo "demo: the agent did not start" >&2; exit 1; }
  sleep 0.05
done
[ -n "$first" ] || { echo "demo: the agent reported no ports" >&2; exit 1; }

# The library finds its agent and its log directory through these.
export QOR_HOME=$home QOR_FIRST_AGENT_IP=127.0.0.1 QOR_FIRST_PORT=$first QOR_SECOND_PORT=$second

echo "Agent on 127.0.0.1:$first and :$second, home $home"
echo
echo "== What the library sees (qorctl status --report)"
"$qorctl" status --report
echo
echo "== Values under several policies"

# policy|plaintext|kind: kind says what the round trip must show.
samples=(
  "ARIA_256|Alex Morgan|reversible"
  "AES_256|Jamie Lee|reversible"
  "DIGITS_FPE|4111111111111111|digits"
  "CARD_NUMBER_FRONT|5500005555555559|reversible"
  "PHONE_MIDDLE|01012345678|middle"
  "EMAIL_LOCAL_PART|jamie.lee@example.com|reversible"
  "SEED_128|Seoul branch 7|reversible"
  "DIGEST_SHA256|s3cret-passw0rd|digest"
)

failures=0
fail() { echo "demo: $*" >&2; failures=$((failures + 1)); }
rows=()
for sample in "${samples[@]}"; do
  IFS='|' read -r policy plain kind <<<"$sample"
  stored=$("$qorctl" encrypt "$policy" "$plain") || { fail "encrypt under $policy failed"; continue; }
  [ "$stored" != "$plain" ] || fail "$policy stored '$plain' in the clear"
  if [ "$kind" = digest ]; then
    # A digest cannot be undone: decryption refuses it, and the same value
    # always gives the same digest, SHA-256 of the value in the binary form.
    if "$qorctl" decrypt "$policy" "$stored" >/dev/null 2>&1; then
      fail "$policy decrypted a digest"
    fi
    again=$("$qorctl" encrypt "$policy" "$plain") || fail "encrypt under $policy failed"
    [ "$again" = "$stored" ] || fail "$policy gave two digests for '$plain'"
    plain_hex=$(printf '%s' "$plain" | od -An -v -tx1 | tr -d ' \n')
    expected=$(printf '%s' "$plain" | sha256sum | cut -d' ' -f1)
    binary=$("$qorctl" encrypt --hex "$policy" "$plain_hex") || fail "binary digest under $policy failed"
    [ "$binary" = "$expected" ] || fail "$policy digest $binary is not SHA-256 $expected"
    rows+=("$policy|$plain|$stored|(digest, not reversible)")
    continue
  fi
  back=$("$qorctl" decrypt "$policy" "$stored") || { fail "decrypt under $policy failed"; continue; }
  [ "$back" = "$plain" ] || fail "$policy gave back '$back' for '$plain'"
  case $kind in
    digits)
      [[ ${#stored} -eq ${#plain} && $stored =~ ^[A-Z]+$ ]] ||
        fail "$policy stored '$stored', not ${#plain} capital letters" ;;
    middle)
      [[ $stored == "${plain:0:3}"*"${plain:7}" ]] ||
        fail "$policy did not keep the ends of '$plain' in '$stored'" ;;
  esac
  rows+=("$policy|$plain|$stored|$back")
done

{
  echo "POLICY|PLAINTEXT|STORED VALUE|DECRYPTED"
  printf '%s\n' "${rows[@]}"
} | awk -F'|' '
  { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > width[i]) width[i] = length($i) } }
  END { for (r = 1; r <= NR; r++) printf "%-*s  %-*s  %-*s  %s\n", width[1], cell[r, 1],
                                          width[2], cell[r, 2], width[3], cell[r, 3], cell[r, 4] }'

# A whole file, encrypted in place: unreadable afterwards, restored byte for byte.
echo
echo "== A whole file"
sample="$home/customers.csv"
{
  echo "id,name,card"
  for i in $(seq 1 2000); do echo "$i,Customer $i,4111-1111-1111-$(printf '%04d' "$i")"; done
} >"$sample"
cp "$sample" "$home/customers.expected"
if "$qorctl" encrypt-file --quiet AES_256 "$sample"; then
  echo "customers.csv encrypted in place ($(wc -c <"$home/customers.expected") -> $(wc -c <"$sample") bytes)."
  echo "Its header names the policy; its body, from byte 242 on, reads:"
  od -An -tx1 -j 241 -N 64 "$sample"
  if grep -q "Customer 1," "$sample"; then fail "the encrypted file still shows its text"; fi
  if "$qorctl" decrypt-file --quiet AES_256 "$sample" "$home/restored/customers.csv"; then
    if cmp -s "$home/customers.expected" "$home/restored/customers.csv"; then
      echo "restored/customers.csv is the original, byte for byte"
    else
      fail "the restored file differs from the original"
    fi
  else
    fail "decrypt-file under AES_256 failed"
  fi
else
  fail "encrypt-file under AES_256 failed"
fi

# A key rotation while a host keeps running: one qorctl process, fed one value
# at a time, stands for a database server that has the library loaded.
echo
echo "== A key rotation while a host keeps running"
coproc HOST { exec "$qorctl" encrypt ARIA_256; }
host_pid=$HOST_PID  # bash drops HOST_PID once the process has ended
ask_host() {
  local value
  echo "$1" >&"${HOST[1]}"
  read -r -t 30 value <&"${HOST[0]}" || { fail "the running host did not answer"; value=""; }
  printf '%s' "$value"
}
version_of() { "$qorctl" key-version "$1" || echo "?"; }
old=$(ask_host "Alex Morgan")
echo "The running host encrypts 'Alex Morgan' under ARIA_256:  $old  (key version $(version_of "$old"))"
new_key=$(od -An -tx1 -N32 /dev/urandom | tr -d ' \n')
sed -i '/"name": "ARIA_256"/,/"keys": \[/ s/"keys": \[/"keys": [ {"version": 2, "key": "'"$new_key"'"},/' \
  "$home/policies.json"
if outcome=$("$agent" reload --home "$home"); then
  echo "The agent gets key version 2 for ARIA_256:                 qor-agent reload says '${outcome:0:11}'"
else
  fail "the agent refused the rotated set: $outcome"
fi
fresh=$(ask_host "Jamie Lee")
echo "The same process, at its next call, encrypts 'Jamie Lee':  $fresh  (key version $(version_of "$fresh"))"
exec {HOST[1]}>&-
wait "$host_pid" || fail "the running host failed"
[ "$(version_of "$old")" = 1 ] && [ "$(version_of "$fresh")" = 2 ] ||
  fail "the running host did not pick up key version 2"
moved=$(echo "$old" | "$qorctl" rewrap ARIA_256) || fail "rewrap under ARIA_256 failed"
echo "qorctl rewrap moves the old value to the new key:          $moved  (key version $(version_of "$moved"))"
back=$("$qorctl" decrypt ARIA_256 "$moved") || fail "decrypt of the rewrapped value failed"
[ "$back" = "Alex Morgan" ] || fail "the rewrapped value decrypts to '$back'"
[ "$(version_of "$moved")" = 2 ] || fail "the rewrapped value is not under key version 2"
echo "It decrypts to '$back'; the old value still decrypts too: '$("$qorctl" decrypt ARIA_256 "$old")'."

if [ "$failures" -ne 0 ]; then
  echo "demo: $failures step(s) failed" >&2
  exit 1
fi
echo
echo "All ${#samples[@]} value round trips, the file round trip and the key rotation passed."
