// The console's question about an SSH server's host key that known_hosts does not hold yet.
#pragma once

// Makes the remote link ask through a question box: the server and the key's SHA256
// fingerprint, Yes adding the key to known_hosts, No refusing it (the operation fails with the
// refusal). The box appears on the UI thread whichever thread the operation runs on.
void installHostKeyQuestion();
