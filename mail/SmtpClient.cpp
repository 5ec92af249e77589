#include "mail/SmtpClient.h"
#include <cstring>

namespace {

const size_t kLongestAddress = 987;

}  // namespace

bool SmtpClient::Connect(const tstring& server, DWORD milliseconds) {
    if (channel_.IsOpen() || !EnsureWinsock())
        return false;
    addrinfoW hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfoW* addresses = nullptr;
    if (GetAddrInfoW(server.c_str(), L"25", &hints, &addresses) != 0)
        return false;
    bool connected = false;
    for (addrinfoW* address = addresses; address && !connected; address = address->ai_next) {
        addrinfo narrow = {};
        narrow.ai_family = address->ai_family;
        narrow.ai_addr = address->ai_addr;
        narrow.ai_addrlen = address->ai_addrlen;
        bool failed = false;
        connected = channel_.Connect(narrow, milliseconds, failed);
        if (failed)
            break;
    }
    FreeAddrInfoW(addresses);
    if (!connected)
        return false;

    char host[257] = {};
    if (!Reply("220") || gethostname(host, 256) != 0 || !Command(std::string("HELO ") + host + "\r\n", "250")) {
        channel_.Close();
        return false;
    }
    return true;
}

bool SmtpClient::Reply(const char* expected) {
    std::string reply;
    if (!channel_.ReadReply(reply))
        return false;
    for (const char* code = expected; *code; code += 3) {
        if (*code == '|')
            ++code;
        if (reply.compare(0, 3, code, 3) == 0)
            return true;
    }
    return false;
}

bool SmtpClient::Command(const std::string& command, const char* expected) {
    return channel_.Write(command) && Reply(expected);
}

bool SmtpClient::Send(const MimeMessage& message) {
    if (!channel_.IsOpen())
        return false;
    bool accepted = Command("MAIL FROM:<" + message.Sender() + ">\r\n", "250");
    for (const std::string& address : message.RecipientAddresses()) {
        if (!accepted)
            break;
        accepted = address.size() <= kLongestAddress && Command("RCPT TO:<" + address + ">\r\n", "250|251");
    }
    if (accepted)
        accepted = Command("DATA\r\n", "354");
    if (!accepted) {
        Reset();
        return false;
    }
    if (!message.WriteData(channel_, MimeMessage::DotStuffing))
        return false;
    return Command("\r\n.\r\n", "250");
}

bool SmtpClient::Reset() {
    if (Command("RSET\r\n", "250"))
        return true;
    channel_.Close();
    return false;
}
