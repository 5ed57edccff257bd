// Wire records of the proxy server's ONC RPC service and their XDR filters (shared by the
// console's remote link and the reference server).
#pragma once

#include <cstdint>
#include <rpc/rpc.h>

constexpr unsigned long VXPROG_MAIN = 0x48000003; // the service program in use
constexpr unsigned long VXPROG_ALT = 0x49000003;  // alternative program number of the service
constexpr unsigned long VXVERS = 1;

// Instance program numbers handed out by procedure 5 lie in the transient range.
constexpr unsigned long VX_INSTANCE_FIRST = 0x40000000;
constexpr unsigned long VX_INSTANCE_LAST = 0x5FFFFFFF;

enum VxProcedure : unsigned long {
    vxRPC_EXEC = 4,           // instance; string command line -> vx_reply
    vxRPC_ASK = 5,            // main; void -> vx_instance
    vxRPC_FILOPEN_RDONLY = 6, // instance; string path -> vx_reply
    vxFILOPEN_NEW = 7,        // instance; string path -> vx_reply
    vxRPC_FILCLOS = 8,        // instance; string path -> vx_reply
    vxRPC_RELEASE = 9,        // instance; void -> void
    vxRPC_WRITE = 10,         // instance; vx_block -> vx_reply
    vxRPC_READ = 11,          // instance; string path -> vx_block
    vxRPC_CRYPT = 29,         // main; string salt+password -> vx_block
    vxRPC_NETDEV = 30,        // main; string "xxx" -> vx_reply
    vxRPC_PING = 31,          // instance; string target -> vx_reply
};

constexpr unsigned VX_STRING_MAX = 128;   // XDR strings: at most 128 bytes
constexpr unsigned VX_BLOCK_MAX = 300000; // data bytes of one vx_block

// The standard result. message and text point to caller-owned buffers of VX_STRING_MAX + 1
// bytes when decoding without allocation (see xdr_vxreply).
struct vx_reply {
    int32_t value;    // the operation's result (procedure 4: the command's result)
    int32_t aux;      // unused by the console
    int32_t code;     // 0, or the server's error code
    int32_t severity; // severity of that error
    int32_t kind;     // kind of that error
    char* message;    // error text, at most 128 bytes
    char* text;       // text result (procedure 30), at most 128 bytes
};

struct vx_instance {
    int32_t program; // instance program number; 0 or less: no instance
    int32_t spare;   // unused by the console
};

// A data block. data points to a buffer of at least VX_BLOCK_MAX bytes when decoding without
// allocation; length is the number of data bytes.
struct vx_block {
    int32_t length;
    int32_t status; // 0, or an error code (the server's errno for file reads)
    char* data;
};

// XDR filters. Decoding into non-null buffers never allocates; a string over 128 bytes or a block
// over 300000 bytes (or whose opaque count differs from length) fails to code.
bool_t xdr_vxstring(XDR* xdrs, char** text);
bool_t xdr_vxreply(XDR* xdrs, vx_reply* reply);
bool_t xdr_vxinstance(XDR* xdrs, vx_instance* instance);
bool_t xdr_vxblock(XDR* xdrs, vx_block* block);
