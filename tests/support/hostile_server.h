// A broken or hostile proxy server for end-to-end tests: it answers at the service's program
// number through the local rpcbind like vxd, hands out and releases instances, and misbehaves in
// one chosen way in every reply that the way can affect.
#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>

enum class HostileMode {
    LongString,     // every vx_reply carries a message and a text of 200 bytes
    BigBlock,       // every vx_block holds 300001 bytes
    LengthMismatch, // every vx_block's length says 10 while its data holds 20 bytes
    ZeroInstance,   // procedure 5 answers instance 0
    ServerError,    // every vx_reply reports error 5 with a 128-byte text; blocks status 5
    CloseMidReply,  // the connection closes after half of the reply record
    NoReply,        // no reply; the connection closes after a short wait
    // The ask for an instance (procedure 5) and its release (procedure 9) answered badly; the
    // other procedures answer soundly. A release still releases on the server.
    AskOversized,     // the instance followed by 300000 bytes more
    AskShort,         // a result of the wrong type: four bytes of a vx_instance's eight
    AskSystemError,   // the call accepted with SYSTEM_ERR, no result
    AskDenied,        // the call denied (authentication error)
    ReleaseOversized, // 300000 bytes of a result where none is due
    ReleaseError,     // a result of the wrong type: a vx_reply of error 5 where none is due
    ReleaseDenied,    // the call denied (authentication error)
};

constexpr HostileMode kHostileModes[] = {
    HostileMode::LongString,     HostileMode::BigBlock,     HostileMode::LengthMismatch,
    HostileMode::ZeroInstance,   HostileMode::ServerError,  HostileMode::CloseMidReply,
    HostileMode::NoReply,        HostileMode::AskOversized, HostileMode::AskShort,
    HostileMode::AskSystemError, HostileMode::AskDenied,    HostileMode::ReleaseOversized,
    HostileMode::ReleaseError,   HostileMode::ReleaseDenied};

const char* hostileModeName(HostileMode mode);

// The text of the ServerError mode's replies (128 bytes, the most a reply string holds).
std::string hostileErrorText();

// Usage: HostileServer server(HostileMode::NoReply); ASSERT_TRUE(server.running()) << ...
// Holds the machine-wide lock of the test servers while it exists (the program number is one
// per machine); the destructor unregisters everything it registered.
class HostileServer {
  public:
    // noReplyCloseMs: how long NoReply keeps a connection open after a call it leaves
    // unanswered (longer than a client's limit: the client gives up first).
    explicit HostileServer(HostileMode mode, int noReplyCloseMs = 200);
    ~HostileServer();
    HostileServer(const HostileServer&) = delete;
    HostileServer& operator=(const HostileServer&) = delete;

    bool running() const { return m_listenFd >= 0; }
    const std::string& error() const { return m_error; }
    HostileMode mode() const { return m_mode; }
    static const char* host() { return "127.0.0.1"; }

    // Instances handed out and not yet released.
    std::set<unsigned long> outstanding() const;

  private:
    void serve();
    int handle(int fd, const std::string& record);

    HostileMode m_mode;
    int m_noReplyCloseMs;
    int m_listenFd = -1;
    int m_lockFd = -1;
    unsigned short m_port = 0;
    std::string m_error;
    std::atomic<bool> m_stop{false};
    unsigned long m_nextInstance;
    mutable std::mutex m_mutex;
    std::set<unsigned long> m_outstanding;
    std::thread m_thread;
};
