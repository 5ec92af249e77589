#pragma once
#include "common/tstring/tstring.h"
#include "mail/MimeMessage.h"
#include "mail/SocketChannel.h"

// Plain SMTP on port 25 to one server, without authentication or TLS. Every
// command and reply waits no longer than the connect's time limit.
class SmtpClient {
public:
    SmtpClient() = default;
    SmtpClient(const SmtpClient&) = delete;
    SmtpClient& operator=(const SmtpClient&) = delete;

    // Tries each address of the server in turn, then expects the greeting
    // "220" and a "250" to HELO; false with the socket closed otherwise.
    bool Connect(const tstring& server, DWORD milliseconds);
    // MAIL FROM, one RCPT TO per recipient, DATA, the message, the final dot.
    bool Send(const MimeMessage& message);
    bool Reset();
    bool Close() { return channel_.Close(); }

private:
    // Writes the command and reads its reply, whose code must be one of the
    // expected ("250" or "250|251").
    bool Command(const std::string& command, const char* expected);
    bool Reply(const char* expected);

    SocketChannel channel_;
};
