#pragma once
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <string>
#include "common/system/HandleHolder.h"

// Winsock 2.0 for the process: started on first use, cleaned up at exit.
bool EnsureWinsock();

// A connected TCP socket driven by overlapped writes and reads on one
// manual-reset event. Every wait has the time limit the connection was made
// with: a peer that stops answering gets its I/O cancelled and the socket
// closed, so no server can hold the calling thread.
class SocketChannel {
public:
    SocketChannel() = default;
    ~SocketChannel() { Close(); }
    SocketChannel(const SocketChannel&) = delete;
    SocketChannel& operator=(const SocketChannel&) = delete;

    // Connects to one address within the limit; false when the socket cannot
    // be created (failed set to true: no other address will do better) or
    // the connection is refused or not made in time.
    bool Connect(const addrinfo& address, DWORD milliseconds, bool& failed);
    bool IsOpen() const { return socket_ != INVALID_SOCKET; }

    // All bytes out; false (and closed) on failure or time-out.
    bool Write(const char* bytes, size_t length);
    bool Write(const std::string& bytes) { return Write(bytes.data(), bytes.size()); }
    // One server reply up to its last line ("ddd text" after any "ddd-"
    // lines), over as many reads as it takes; false (and closed) on failure,
    // time-out or a reply that never ends.
    bool ReadReply(std::string& reply);

    // Shuts down both ways and closes; true when both steps succeed, false
    // when nothing was open.
    bool Close();

private:
    bool WaitOverlapped(DWORD& transferred);

    SOCKET socket_ = INVALID_SOCKET;
    HandleHolder event_;
    WSAOVERLAPPED overlapped_ = {};
    DWORD limit_ = 10000;
};
