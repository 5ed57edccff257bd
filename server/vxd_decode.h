// What vxd decodes of the bytes a client sends, apart from the connection: call records
// reassembled from their record-marked fragments, the call header, and a procedure's argument
// decoded in place. The transport (vxd_rpc) feeds it from a socket; the fuzz targets from a
// buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <rpc/rpc.h>

#include "remote/vx_xdr.h"

// Reassembles call records from a stream of record-marked fragments (a four-byte mark: the
// last-fragment bit and the fragment's length), up to a limit on the whole record.
class VxdRecordReader {
  public:
    explicit VxdRecordReader(size_t maxRecord) : m_max(maxRecord) {}
    ~VxdRecordReader();
    VxdRecordReader(const VxdRecordReader&) = delete;
    VxdRecordReader& operator=(const VxdRecordReader&) = delete;

    enum class Step {
        More,     // more bytes are wanted
        Record,   // a whole record: data() and size(), valid until the next call of next()
        TooLong,  // the record would pass the limit: the stream is to be dropped
        NoMemory, // the record could not be held
    };
    // Where the next bytes of the stream go, and at most how many (*room, never 0).
    char* next(size_t* room);
    // n bytes (1 to the room of next()) were put where next() said.
    Step received(size_t n);

    // Between records, frees a buffer of more than keep bytes (a block transfer's) for an idle
    // stream.
    void trim(size_t keep);

    char* data() const { return m_record; }
    size_t size() const { return m_have; }
    size_t limit() const { return m_max; }

  private:
    size_t m_max;
    unsigned char m_header[4] = {}; // the mark being read
    size_t m_headerHave = 0;
    bool m_inFragment = false;
    bool m_lastFragment = false;
    uint32_t m_fragmentLeft = 0;
    bool m_delivered = false; // a record was handed out: the next bytes start a new one
    char* m_record = nullptr;
    size_t m_have = 0;
    size_t m_allocated = 0;
};

// A call message's header and the buffers of its credentials.
struct VxdCallHeader {
    rpc_msg msg{};
    char cred[MAX_AUTH_BYTES];
    char verf[MAX_AUTH_BYTES];
};

// Decodes the header of a call record from x (left at the arguments); false when the record is
// no call message.
bool vxdDecodeCallHeader(XDR* x, VxdCallHeader* header);

enum class VxdArgument { None, String, Block };

// Decodes a procedure's argument of the given kind from x: a string into text (VX_STRING_MAX + 1
// bytes, ends with a NUL), a block with its data left where it lies in the record (block->data
// points into it; nullptr for none), its length within VX_BLOCK_MAX and equal to its count.
// false when it does not decode.
bool vxdDecodeArgument(VxdArgument kind, XDR* x, char* text, vx_block* block);
