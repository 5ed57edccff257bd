// Which callers vxd serves: IPv4 networks given as CIDR rules (--allow), 127.0.0.0/8 by default.
#pragma once

#include <cstddef>
#include <cstdint>
#include <rpc/rpc.h>

class VxdAccess {
  public:
    static constexpr int kMaxRules = 16;

    // Adds "A.B.C.D" or "A.B.C.D/BITS"; false for a malformed rule.
    bool add(const char* cidr);
    bool full() const { return m_count == kMaxRules; }
    bool empty() const { return m_count == 0; }
    bool allows(uint32_t addr) const; // host order

  private:
    struct Rule {
        uint32_t net;  // host order
        uint32_t mask; // host order
    };
    Rule m_rules[kMaxRules] = {};
    int m_count = 0;
};

// The caller's IPv4 address (host order) and its text ("?" when unknown); false for anything but
// IPv4.
bool vxdCallerAddress(SVCXPRT* xprt, uint32_t* addr, char* text, size_t size);
