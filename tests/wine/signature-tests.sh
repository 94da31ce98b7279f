#!/usr/bin/env bash
# Signed packages under wine: tolvane-flash.exe with --trust names the signer, refuses a package
# that no trusted key signed with status 3 before any port is opened, and flashes a signed one to
# the virtual device on COM21 (keys and signatures from the Linux tolvane-pack); then
# tolvane-pack.exe's keys and signatures as openssl and the Linux programs read them. Called by
# run-tests.sh with the server up (arguments: Windows build, Linux build, the device's image).
set -uo pipefail
win=$1 linux=$2 image=$3
run() { timeout 120 "$win/wine-run.sh" "$@"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/checks.sh"
flash_exe=$win/bin/tolvane-flash.exe
# What a check's output must (or must not) hold.
has() { grep -qF -- "$2" "$1"; }
lacks() { ! grep -qF -- "$2" "$1"; }
verifies() { openssl dgst -sha256 -verify "$1" -signature "$2.sig" "$2" >/dev/null; } # key, file

head -c 6144 /dev/urandom >"$work/area.bin"
"$linux/bin/tolvane-pack" --block-size 1024 --info "签名固件" "$work/area.bin" "$work/fw.enc2" \
    >/dev/null
"$linux/bin/tolvane-pack" keygen "$work/maker-private.pem" "$work/maker.pem" >"$work/keygen.txt"
fingerprint=$(sed -n 's/.*fingerprint \([0-9a-f]*\).*/\1/p' "$work/keygen.txt")
"$linux/bin/tolvane-pack" sign --key "$work/maker-private.pem" "$work/fw.enc2" >/dev/null
trust=(--trust "$work/maker.pem")

run "$flash_exe" info "$work/fw.enc2" "${trust[@]}" >"$work/info.txt" 2>&1
status=$?
check "info with --trust accepts the signed package (status $status)" test "$status" -eq 0
check "info names the signer" has "$work/info.txt" "signature: valid, by maker.pem ($fingerprint)"
check "info gives the signer's memo line" has "$work/info.txt" "签名：maker.pem（$fingerprint）"
run "$flash_exe" info "$work/fw.enc2" >"$work/info-unchecked.txt" 2>&1
check "info without a key says the signature was not checked" \
    has "$work/info-unchecked.txt" "signature: not checked (no trusted key)"

# The refused ones: another package with the first one's signature (a valid CRC, other bytes),
# one without a signature, one whose signature is not DER.
"$linux/bin/tolvane-pack" --block-size 1024 --info "改" "$work/area.bin" "$work/tampered.enc2" \
    >/dev/null
cp "$work/fw.enc2.sig" "$work/tampered.enc2.sig"
cp "$work/fw.enc2" "$work/unsigned.enc2"
cp "$work/fw.enc2" "$work/garbled.enc2"
printf 'not a signature' >"$work/garbled.enc2.sig"
modes=(--working 115200,none --loader 115200,none --quiet)
# The signed package on COM9 shows what opening that port would have given.
run "$flash_exe" flash "$work/fw.enc2" --port COM9 "${modes[@]}" "${trust[@]}" \
    >"$work/flash-com9.txt" 2>&1
status=$?
check "the signed package on COM9, which has no device, gives status 4 (status $status)" \
    test "$status" -eq 4
check "and says the port cannot be opened" has "$work/flash-com9.txt" "无法打开串口"
for name in tampered unsigned garbled; do
    run "$flash_exe" info "$work/$name.enc2" "${trust[@]}" >"$work/info-$name.txt" 2>&1
    status=$?
    check "info refuses the $name package with status 3 (status $status)" test "$status" -eq 3
    check "info gives the $name package's reason" has "$work/info-$name.txt" "signature: refused"
    # COM9 has no device: opening it would give status 4.
    run "$flash_exe" flash "$work/$name.enc2" --port COM9 "${modes[@]}" "${trust[@]}" \
        >"$work/flash-$name.txt" 2>&1
    status=$?
    check "flash refuses the $name package with status 3 (status $status)" test "$status" -eq 3
    check "flash words the refusal of the $name package" \
        has "$work/flash-$name.txt" "固件包签名无效或不是受信任的密钥签署，已拒绝"
    check "flash opened no port for the $name package" lacks "$work/flash-$name.txt" "无法打开串口"
done

rm -f "$image"
run "$flash_exe" flash "$work/fw.enc2" --port COM21 "${modes[@]}" "${trust[@]}" \
    --log "$work/records.jsonl" >"$work/flash.txt" 2>&1
status=$?
check "flash of the signed package on COM21 succeeds (status $status)" test "$status" -eq 0
for _ in $(seq 50); do cmp -s "$image" "$work/area.bin" && break; sleep 0.1; done
check "the device received the signed package's block area" cmp "$image" "$work/area.bin"
signer_is_right() {
    /usr/bin/python3 - "$work/records.jsonl" "$fingerprint" <<'PY'
import json, sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
sys.exit(not (len(lines) == 1 and json.loads(lines[0])["signer"] == sys.argv[2]))
PY
}
check "the record names the signer's fingerprint" signer_is_right

# Keys and signatures made by tolvane-pack.exe (CNG) as openssl and the Linux programs read them.
pack_exe=$win/bin/tolvane-pack.exe
run "$pack_exe" keygen "$work/win-private.pem" "$work/win.pem" >"$work/win-keygen.txt" 2>&1
status=$?
check "tolvane-pack.exe keygen makes a key pair (status $status)" test "$status" -eq 0
# Wine turns the file's access list (the user alone) into user and group bits.
check "no other user may read its private key" \
    test "$(($(stat -c '0%a' "$work/win-private.pem") & 7))" -eq 0
check "openssl reads its private key as EC P-256" bash -c \
    "openssl pkey -in '$work/win-private.pem' -noout -text | grep -q 'NIST CURVE: P-256'"
check "its public key is the private key's" bash -c \
    "openssl pkey -in '$work/win-private.pem' -pubout | cmp -s - '$work/win.pem'"
run "$pack_exe" keygen "$work/win-private.pem" "$work/other.pem" >"$work/win-again.txt" 2>&1
status=$?
check "keygen never overwrites a key (status $status)" test "$status" -eq 2
check "and says so" has "$work/win-again.txt" "exists already"
cp "$work/fw.enc2" "$work/win-signed.enc2"
run "$pack_exe" sign --key "$work/win-private.pem" "$work/win-signed.enc2" >/dev/null 2>&1
status=$?
check "tolvane-pack.exe sign signs a package (status $status)" test "$status" -eq 0
check "openssl dgst -verify accepts its signature" verifies "$work/win.pem" "$work/win-signed.enc2"
"$linux/bin/tolvane-flash" info "$work/win-signed.enc2" --trust "$work/win.pem" \
    >"$work/linux-info.txt" 2>&1
status=$?
check "the Linux tolvane-flash accepts it with --trust (status $status)" test "$status" -eq 0
check "and names the key" has "$work/linux-info.txt" "signature: valid, by win.pem"
# A package signed with openssl's own key in its SEC 1 form, checked by openssl.
openssl ec -in "$work/maker-private.pem" -out "$work/maker-sec1.pem" 2>/dev/null
cp "$work/fw.enc2" "$work/sec1.enc2"
run "$pack_exe" sign --key "$work/maker-sec1.pem" "$work/sec1.enc2" >/dev/null 2>&1
check "openssl accepts tolvane-pack.exe's signature with an openssl SEC 1 key" \
    verifies "$work/maker.pem" "$work/sec1.enc2"
run "$pack_exe" sign --key "$work/maker.pem" "$work/sec1.enc2" >"$work/win-public.txt" 2>&1
status=$?
check "sign refuses a public key as the private one (status $status)" test "$status" -eq 2

[[ $failures -eq 0 ]] || {
    tail -n 20 "$work"/*.txt
    exit 1
}
