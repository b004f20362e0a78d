# The resources of the built client.exe and server.exe, read from the PE files.
set -euo pipefail
for program in client server; do
    /usr/bin/python3 "$WINE_TESTS/check-resources.py" "$WINDOWS_BUILD/$program/$program.exe" "$program"
done
