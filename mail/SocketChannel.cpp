#include "mail/SocketChannel.h"

namespace {

struct WinsockLibrary {
    WinsockLibrary() {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 0), &data) == 0;
    }
    ~WinsockLibrary() {
        if (started)
            WSACleanup();
    }
    bool started = false;
};

const size_t kReadChunk = 1000;
// A reply longer than this is no SMTP reply.
const size_t kLongestReply = 65536;

// Whether the text holds a complete reply: its last line is "ddd" or "ddd ".
bool ReplyComplete(const std::string& text) {
    size_t end = text.rfind("\r\n");
    if (end == std::string::npos)
        return false;
    size_t start = text.rfind("\r\n", end ? end - 1 : 0);
    start = (start == std::string::npos || start >= end) ? 0 : start + 2;
    std::string line = text.substr(start, end - start);
    return line.size() >= 3 && (line.size() == 3 || line[3] != '-');
}

}  // namespace

bool EnsureWinsock() {
    static WinsockLibrary library;
    return library.started;
}

bool SocketChannel::Connect(const addrinfo& address, DWORD milliseconds, bool& failed) {
    failed = false;
    Close();
    limit_ = milliseconds;
    SOCKET s = WSASocketW(address.ai_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s == INVALID_SOCKET) {
        failed = true;
        return false;
    }
    HandleHolder connected(WSACreateEvent());
    bool made = false;
    if (connected.IsValid() && WSAEventSelect(s, connected, FD_CONNECT) == 0 &&
        connect(s, address.ai_addr, int(address.ai_addrlen)) == SOCKET_ERROR &&
        WSAGetLastError() == WSAEWOULDBLOCK && WaitForSingleObject(connected, milliseconds) == WAIT_OBJECT_0) {
        WSANETWORKEVENTS events = {};
        made = WSAEnumNetworkEvents(s, connected, &events) == 0 && (events.lNetworkEvents & FD_CONNECT) &&
               events.iErrorCode[FD_CONNECT_BIT] == 0;
    }
    // Back to a blocking socket, whose I/O the overlapped calls then drive.
    u_long blocking = 0;
    if (made)
        made = WSAEventSelect(s, nullptr, 0) == 0 && ioctlsocket(s, FIONBIO, &blocking) == 0;
    if (made) {
        event_.Attach(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        made = event_.IsValid();
    }
    if (!made) {
        shutdown(s, SD_BOTH);
        closesocket(s);
        return false;
    }
    socket_ = s;
    return true;
}

bool SocketChannel::WaitOverlapped(DWORD& transferred) {
    if (WaitForSingleObject(event_, limit_) != WAIT_OBJECT_0) {
        CancelIo(reinterpret_cast<HANDLE>(socket_));
        SOCKET s = socket_;
        socket_ = INVALID_SOCKET;
        shutdown(s, SD_BOTH);
        closesocket(s);
        // Closing ends the cancelled operation; it still signals the event
        // and must be over before its buffer goes.
        WaitForSingleObject(event_, 2000);
        event_.CloseNoThrow();
        return false;
    }
    DWORD flags = 0;
    if (!WSAGetOverlappedResult(socket_, &overlapped_, &transferred, FALSE, &flags)) {
        Close();
        return false;
    }
    return true;
}

bool SocketChannel::Write(const char* bytes, size_t length) {
    while (IsOpen() && length) {
        overlapped_ = {};
        overlapped_.hEvent = event_;
        ResetEvent(event_);
        WSABUF buffer = {ULONG(length > 0x10000 ? 0x10000 : length), const_cast<char*>(bytes)};
        DWORD sent = 0;
        if (WSASend(socket_, &buffer, 1, &sent, 0, &overlapped_, nullptr) == SOCKET_ERROR &&
            WSAGetLastError() != WSA_IO_PENDING) {
            Close();
            return false;
        }
        if (!WaitOverlapped(sent))
            return false;
        if (!sent) {
            Close();
            return false;
        }
        bytes += sent;
        length -= sent;
    }
    return IsOpen();
}

bool SocketChannel::ReadReply(std::string& reply) {
    reply.clear();
    char chunk[kReadChunk];
    while (IsOpen()) {
        overlapped_ = {};
        overlapped_.hEvent = event_;
        ResetEvent(event_);
        WSABUF buffer = {ULONG(sizeof chunk), chunk};
        DWORD received = 0;
        DWORD flags = 0;
        if (WSARecv(socket_, &buffer, 1, &received, &flags, &overlapped_, nullptr) == SOCKET_ERROR &&
            WSAGetLastError() != WSA_IO_PENDING) {
            Close();
            return false;
        }
        if (!WaitOverlapped(received))
            return false;
        if (!received || reply.size() + received > kLongestReply) {
            Close();
            return false;
        }
        reply.append(chunk, received);
        if (ReplyComplete(reply))
            return true;
    }
    return false;
}

bool SocketChannel::Close() {
    event_.CloseNoThrow();
    if (socket_ == INVALID_SOCKET)
        return false;
    bool down = shutdown(socket_, SD_BOTH) == 0;
    bool closed = closesocket(socket_) == 0;
    socket_ = INVALID_SOCKET;
    return down && closed;
}
