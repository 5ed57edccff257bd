// The proxy server the console works with: one name that every operation of the console uses.
// The start-up sets it from "ProxyServerName" and a Setup save replaces it, so after a save
// every page talks to the new server without a restart.
#pragma once

// The server's host name; "" when there is none.
const char* SdHost();

// Replaces the host name; a name too long to keep leaves no host (false).
bool SdSetHost(const char* name);

// Whether server work may be done: the start-up left noServer clear and a host is known.
bool sdServerUsable();

// Ends the server waits in progress at once, from any thread: each fails as cancelled and its
// operation goes its failure path (an instance it holds is released, a partial local file
// removed). With no wait in progress the next wait fails; SdResetCancel drops such a cancel.
void SdCancelRemote();
void SdResetCancel();

// The question asked when the server is an SSH destination whose host key known_hosts does not
// hold: the destination and the key's fingerprint ("SHA256:..."); true accepts the key, which is
// then added to known_hosts. Without one, such a key is refused.
using SdHostKeyQuestion = bool (*)(const char* destination, const char* fingerprint);
void SdSetHostKeyQuestion(SdHostKeyQuestion question);
