#!/usr/bin/env bash
# OpenSSH with the card: ssh-keygen -D lists the card's two keys (the keys of
# the card's certificates), ssh-add -s loads them into an ssh-agent (PIN from
# SSH_ASKPASS), and a file signature made with ssh-keygen -Y sign through the
# agent verifies with ssh-keygen -Y verify against an allowed_signers file.
# Usage: openssh_keys.sh <libbrelt-pkcs11-sim.so> <attrs-card-file>
set -uo pipefail
module=$1 cardfile=$2
work=$(mktemp -d)
agent_pid=
trap '[ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null; rm -rf "$work"' EXIT
export CARDSIM_CARDS=DEF50 QT_QPA_PLATFORM=offscreen

fail() { echo "FAIL: $*"; exit 1; }

timeout 60 ssh-keygen -D "$module" >"$work/listed" || fail "ssh-keygen -D"
cat "$work/listed"
[ "$(wc -l <"$work/listed")" -eq 2 ] || fail "ssh-keygen -D does not list two keys"
for file in 4301 4302; do
  "$cardfile" DEF50 3F005015$file >"$work/cert.der" || fail "card file $file"
  openssl x509 -inform DER -in "$work/cert.der" -noout -pubkey >"$work/public.pem"
  ssh-keygen -i -m PKCS8 -f "$work/public.pem" >"$work/expected" || fail "key of $file"
  grep -qF "$(cat "$work/expected")" "$work/listed" || fail "the key of certificate $file is not listed"
done

# ssh-agent loads only modules below the folders it is told to trust.
export SSH_AUTH_SOCK=$work/agent.sock
ssh-agent -D -a "$SSH_AUTH_SOCK" -P "$(dirname "$module")/*" >/dev/null 2>&1 &
agent_pid=$!
for wait in $(seq 50); do [ -S "$SSH_AUTH_SOCK" ] && break; sleep 0.1; done
printf '#!/bin/sh\necho 1234\n' >"$work/askpass"
chmod +x "$work/askpass"
SSH_ASKPASS=$work/askpass SSH_ASKPASS_REQUIRE=force timeout 60 ssh-add -s "$module" </dev/null \
  || fail "ssh-add -s"
ssh-add -L >"$work/agent-keys" || fail "ssh-add -L"
cmp -s <(cut -d' ' -f1,2 "$work/agent-keys") <(cut -d' ' -f1,2 "$work/listed") \
  || fail "the agent holds other keys than ssh-keygen -D listed"

grep "Authentication public key" "$work/listed" >"$work/auth.pub" || fail "no authentication key"
printf 'a file signed with the card through ssh-agent' >"$work/data"
timeout 60 ssh-keygen -Y sign -f "$work/auth.pub" -n file "$work/data" || fail "ssh-keygen -Y sign"
echo "card@example $(cut -d' ' -f1,2 "$work/auth.pub")" >"$work/allowed_signers"
ssh-keygen -Y verify -f "$work/allowed_signers" -I card@example -n file -s "$work/data.sig" <"$work/data" \
  || fail "the signature does not verify"
printf 'another file' >"$work/other"
if ssh-keygen -Y verify -f "$work/allowed_signers" -I card@example -n file -s "$work/data.sig" \
     <"$work/other" >/dev/null 2>&1; then
  fail "the signature verifies for other data"
fi
echo ok
