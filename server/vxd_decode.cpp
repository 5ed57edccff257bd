// vxd's decoding of client bytes: record marking, call headers, arguments in place.
#include "server/vxd_decode.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>

VxdRecordReader::~VxdRecordReader() {
    free(m_record);
}

char* VxdRecordReader::next(size_t* room) {
    if (m_delivered) {
        m_delivered = false;
        m_have = 0;
    }
    if (!m_inFragment) {
        *room = sizeof m_header - m_headerHave;
        return reinterpret_cast<char*>(m_header) + m_headerHave;
    }
    *room = m_fragmentLeft;
    return m_record + m_have;
}

VxdRecordReader::Step VxdRecordReader::received(size_t n) {
    if (!m_inFragment) {
        m_headerHave += n;
        if (m_headerHave < sizeof m_header) return Step::More;
        uint32_t mark;
        memcpy(&mark, m_header, 4);
        mark = ntohl(mark);
        m_headerHave = 0;
        m_lastFragment = (mark & 0x80000000u) != 0;
        m_fragmentLeft = mark & 0x7fffffffu;
        if (m_have + m_fragmentLeft > m_max) return Step::TooLong;
        size_t want = m_have + m_fragmentLeft;
        if (want > m_allocated) {
            char* grown = static_cast<char*>(realloc(m_record, want));
            if (!grown) return Step::NoMemory;
            m_record = grown;
            m_allocated = want;
        }
        m_inFragment = m_fragmentLeft > 0;
    } else {
        m_have += n;
        m_fragmentLeft -= static_cast<uint32_t>(n);
        m_inFragment = m_fragmentLeft > 0;
    }
    if (m_inFragment || !m_lastFragment) return Step::More;
    m_delivered = true;
    return Step::Record;
}

void VxdRecordReader::trim(size_t keep) {
    bool between = (m_have == 0 || m_delivered) && !m_inFragment && m_headerHave == 0;
    if (!between || m_allocated <= keep) return;
    free(m_record);
    m_record = nullptr;
    m_allocated = 0;
    m_have = 0;
    m_delivered = false;
}

bool vxdDecodeCallHeader(XDR* x, VxdCallHeader* header) {
    header->msg = rpc_msg{};
    header->msg.rm_call.cb_cred.oa_base = header->cred;
    header->msg.rm_call.cb_verf.oa_base = header->verf;
    return xdr_callmsg(x, &header->msg) && header->msg.rm_direction == CALL;
}

namespace {

// A block argument as xdr_vxblock reads it (length and status, then the data with its count,
// which must agree with length), but with the data left where it is in the call record rather
// than copied out.
bool decodeBlockInPlace(XDR* x, vx_block* block) {
    u_int count = 0;
    if (!xdr_int32_t(x, &block->length) || !xdr_int32_t(x, &block->status) || !xdr_u_int(x, &count))
        return false;
    if (block->length < 0 || static_cast<unsigned>(block->length) > VX_BLOCK_MAX ||
        count != static_cast<u_int>(block->length))
        return false;
    if (count == 0) {
        block->data = nullptr;
        return true;
    }
    // The data and its padding to a multiple of four; nullptr when the record is shorter.
    block->data = reinterpret_cast<char*>(xdr_inline(x, static_cast<int>((count + 3) & ~3u)));
    return block->data != nullptr;
}

} // namespace

bool vxdDecodeArgument(VxdArgument kind, XDR* x, char* text, vx_block* block) {
    switch (kind) {
    case VxdArgument::None:
        return true;
    case VxdArgument::String:
        return xdr_vxstring(x, &text) != 0;
    case VxdArgument::Block:
        return decodeBlockInPlace(x, block);
    }
    return false;
}
