// Fuzz target: vxd's own decoding of what a client sends on a connection: the record reader
// (record marks of every size, fragments, several records in one stream, cut into reads of
// varying sizes as a socket hands them over), the call header of each record, and each kind of
// procedure argument decoded in place from it, as the dispatch does. Input: one byte choosing
// how the stream is cut into reads, then the stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "server/vxd_decode.h"

namespace {

// The limits of vxd's workers (a block and its call header) and of its service process.
constexpr size_t kLimits[2] = {VX_BLOCK_MAX + 1024, 8192};

char g_text[VX_STRING_MAX + 1];

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// Decodes one whole record as the transport and the dispatch do, and checks what they promise.
void decodeRecord(const VxdRecordReader& reader) {
    check(reader.size() <= reader.limit());
    XDR x;
    xdrmem_create(&x, reader.data(), static_cast<u_int>(reader.size()), XDR_DECODE);
    VxdCallHeader header;
    if (vxdDecodeCallHeader(&x, &header)) {
        check(header.msg.rm_call.cb_cred.oa_length <= MAX_AUTH_BYTES);
        const u_int args = xdr_getpos(&x);
        for (VxdArgument kind : {VxdArgument::None, VxdArgument::String, VxdArgument::Block}) {
            xdr_setpos(&x, args);
            vx_block block{};
            g_text[0] = 'x';
            if (!vxdDecodeArgument(kind, &x, g_text, &block)) continue;
            if (kind == VxdArgument::String) check(memchr(g_text, '\0', sizeof g_text) != nullptr);
            if (kind != VxdArgument::Block) continue;
            check(block.length >= 0 && static_cast<unsigned>(block.length) <= VX_BLOCK_MAX);
            if (block.length == 0) continue;
            // The data lies inside the record, padding included.
            const char* end = reader.data() + reader.size();
            check(block.data >= reader.data() && block.data + block.length <= end);
            volatile char last = block.data[block.length - 1];
            (void)last;
        }
    }
    xdr_destroy(&x);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    uint32_t cut = data[0] | 1u; // the sizes of the reads, from a small generator
    const uint8_t* p = data + 1;
    const uint8_t* end = data + size;
    VxdRecordReader reader(kLimits[data[0] & 1]);
    while (p < end) {
        size_t room = 0;
        char* to = reader.next(&room);
        check(room > 0);
        cut = cut * 1103515245u + 12345u;
        size_t read = (cut >> 16) % 4 == 0 ? room : 1 + (cut >> 16) % 600;
        read = std::min({read, room, static_cast<size_t>(end - p)});
        memcpy(to, p, read);
        p += read;
        VxdRecordReader::Step step = reader.received(read);
        if (step == VxdRecordReader::Step::TooLong || step == VxdRecordReader::Step::NoMemory)
            break; // the connection is dropped
        if (step == VxdRecordReader::Step::Record) decodeRecord(reader);
    }
    return 0;
}
