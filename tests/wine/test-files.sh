# The files that OpenVPN reads, as the Windows build writes them (text mode: CR LF):
# op.bat with the server's address and port and no line break after "exit", and
# unamepass with name and password, made afresh for the administrators only over a
# stale one that everybody could change (op.bat, which holds no secret, keeps what
# the C runtime's fopen gives it: readable by everyone).
set -euo pipefail
. "$WINE_TESTS/program.sh"
scratch_dir
cd "$SCRATCH"
echo stale >op.bat
printf 'a much longer stale content than the new one\r\n' >unamepass
chmod 666 unamepass
wine "$WINDOWS_BUILD/tests/wine/file_writer.exe" || fail "file_writer failed"
expect_bytes() {
    cmp -s "$1" <(printf "$2") ||
        fail "$1 holds $(od -c "$1"), wanted $(printf "$2" | od -c)"
}
expect_bytes op.bat 'openvpn --config client.ovpn --remote 192.168.1.20 5000 < unamepass\r\nexit'
expect_bytes unamepass 'office secret\r\n'
here="Z:${SCRATCH//\//\\}"
expect_closed "$here\\unamepass"
[[ $(rights "$here\\op.bat") == *";WD)"* ]] || fail "op.bat reads back closed: $(rights "$here\\op.bat")"
echo "OK op.bat and unamepass"
