// The hosts entry that gives the server's tunnel address the host name Server.
#pragma once

#define SYSTEM_HOSTS_FILE "\\windows\\system32\\drivers\\etc\\hosts"
#define SCRATCH_HOSTS_FILE "hosts"
#define HOSTS_ENTRY "10.8.0.1         Server\n"

// Adds the entry to the system hosts file unless a line for 10.8.0.1 is there.
// The file is never left empty or shortened: the new content is complete and
// checked in the scratch copy `hosts` before the system file is touched, and a
// failed write-back puts the earlier content back. A file that cannot be read
// whole (a read error, or a Ctrl-Z before its end, where a text read stops) is
// left as it is; only a file that does not exist is created. Failures are not
// shown.
void addHostsEntry();
