// SSH destinations as server names: what is taken apart, and what is refused before ssh could
// read any of it as an option.
#include <gtest/gtest.h>
#include <string>

#include "remote/vx_ssh.h"

namespace {

using vxremote::parseSshDestination;
using vxremote::SshDestination;

std::string parsed(const char* name) {
    SshDestination d;
    if (!parseSshDestination(name, &d)) return "refused";
    return "user=" + d.user + " host=" + d.host + " port=" + std::to_string(d.port);
}

TEST(SshDestination, UserHostAndPortAreTakenApart) {
    EXPECT_EQ(parsed("ssh://proxy.example.org"), "user= host=proxy.example.org port=0");
    EXPECT_EQ(parsed("ssh://admin@proxy"), "user=admin host=proxy port=0");
    EXPECT_EQ(parsed("ssh://admin@10.0.0.1:2222"), "user=admin host=10.0.0.1 port=2222");
    EXPECT_EQ(parsed("ssh://[::1]:22"), "user= host=::1 port=22");
    EXPECT_EQ(parsed("ssh://a@[fe80::1]"), "user=a host=fe80::1 port=0");
    // An alias of the user's ssh configuration is a host name like any other.
    EXPECT_EQ(parsed("ssh://proxy-alias:65535"), "user= host=proxy-alias port=65535");
    EXPECT_TRUE(vxremote::isSshDestination("ssh://x"));
    EXPECT_FALSE(vxremote::isSshDestination("proxy.example.org"));
    EXPECT_FALSE(vxremote::isSshDestination(nullptr));
}

TEST(SshDestination, MalformedNamesAreRefused) {
    for (const char* name :
         {"proxy", "ssh://", "ssh://@host", "ssh://user@", "ssh://host:", "ssh://host:0",
          "ssh://host:65536", "ssh://host:22x", "ssh://host:123456", "ssh://-oProxyCommand=x",
          "ssh://-l@host", "ssh://host/", "ssh://ho st", "ssh://[::1", "ssh://[::1]x",
          "ssh://host:22:33", "ssh://h\x7fst"})
        EXPECT_EQ(parsed(name), "refused") << name;
}

} // namespace
