#include "server/vxd_access.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>

bool VxdAccess::add(const char* cidr) {
    if (full()) return false;
    char addr[INET_ADDRSTRLEN];
    const char* slash = strchr(cidr, '/');
    size_t len = slash ? static_cast<size_t>(slash - cidr) : strlen(cidr);
    if (len >= sizeof addr) return false;
    memcpy(addr, cidr, len);
    addr[len] = '\0';
    in_addr a;
    if (inet_pton(AF_INET, addr, &a) != 1) return false;
    long bits = 32;
    if (slash) {
        char* end = nullptr;
        bits = strtol(slash + 1, &end, 10);
        if (end == slash + 1 || *end || bits < 0 || bits > 32) return false;
    }
    Rule& rule = m_rules[m_count++];
    rule.mask = bits == 0 ? 0 : ~0u << (32 - bits);
    rule.net = ntohl(a.s_addr) & rule.mask;
    return true;
}

bool VxdAccess::allows(uint32_t addr) const {
    for (int i = 0; i < m_count; i++)
        if ((addr & m_rules[i].mask) == m_rules[i].net) return true;
    return false;
}

bool vxdCallerAddress(SVCXPRT* xprt, uint32_t* addr, char* text, size_t size) {
    const netbuf* nb = svc_getrpccaller(xprt);
    snprintf(text, size, "?");
    if (!nb || !nb->buf || nb->len < sizeof(sockaddr_in)) return false;
    const sockaddr_in* sin = static_cast<const sockaddr_in*>(nb->buf);
    if (sin->sin_family != AF_INET) return false;
    inet_ntop(AF_INET, &sin->sin_addr, text, static_cast<socklen_t>(size));
    *addr = ntohl(sin->sin_addr.s_addr);
    return true;
}
