#pragma once
#include <winsock2.h>
#include <windows.h>
#include <mlang.h>
#include <string>
#include <vector>
#include "common/com/ComPtr.h"
#include "common/tstring/tstring.h"

class SocketChannel;

// An Internet message of plain-text parts, built from UTF-16 texts and
// written to an SMTP data stream. Header texts are converted to the charset
// of a code page (0: the system's ANSI code page) and written as RFC 2047
// encoded words when they need it.
class MimeMessage {
public:
    MimeMessage();
    MimeMessage(const MimeMessage&) = delete;
    MimeMessage& operator=(const MimeMessage&) = delete;

    // Entries of the "To" list are separated by ", "; without a display name
    // the entry is the address between angle brackets.
    void AddRecipient(const wchar_t* displayName, const tstring& address);
    void SetSender(const tstring& address);
    void SetSenderName(const tstring& name, UINT codePage);
    void SetSubject(const tstring& text, UINT codePage);
    // A text part (length -1: up to the end) inserted before the part at the
    // 1-based position; positions past the end append.
    void AddText(const tstring& text, int length, int position, UINT codePage);

    enum WriteFlags { DotStuffing = 8 };
    // Writes the whole message; false when the header does not fit its 998
    // bytes or the channel fails.
    bool WriteData(SocketChannel& channel, int flags) const;

    const std::string& Sender() const { return sender_; }
    const std::string& ToList() const { return to_; }
    // The bare addresses of the "To" list, in order.
    std::vector<std::string> RecipientAddresses() const;

    // The charset name of a code page (0: the ANSI code page); empty when
    // it is unknown. Exposed for the tests of the header encoding.
    std::string CharsetName(UINT codePage) const;
    // A header text: unchanged when no byte needs encoding, else one encoded
    // word, B form when more than 16 % of the bytes need it, Q otherwise.
    static std::string EncodeHeader(const std::string& bytes, const std::string& charset);

private:
    struct TextPart {
        std::string bytes;
        std::string charset;
    };
    // The text in the code page's charset and that charset's name.
    std::string Convert(const tstring& text, UINT codePage, std::string& charset) const;
    std::string HeaderBlock() const;

    ComPtr<IMultiLanguage> languages_;
    std::string sender_;
    std::string senderName_;
    std::string senderCharset_;
    std::string subject_;
    std::string subjectCharset_;
    std::string to_;
    std::string cc_;
    std::string extraHeaders_;
    int priority_ = 3;
    std::vector<TextPart> parts_;
};

// The UTF-16 text in the code page (0: ANSI), as WideCharToMultiByte gives it.
std::string ToCodePage(const tstring& text, UINT codePage);
// Whether an address is one the program sends to: an '@', no control
// characters, no angle brackets (which would end the SMTP command or header).
bool IsSafeMailAddress(const tstring& address);
