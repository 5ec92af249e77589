#include "mail/MimeMessage.h"
#include <cstdio>
#include <cstdlib>
#include "mail/SocketChannel.h"

namespace {

const size_t kLongestHeader = 998;
const size_t kLongestLine = 998;
const size_t kLongestCharset = 49;

bool NeedsEncoding(unsigned char c) {
    // CR and LF count too: raw in a header they would start a header of the
    // text's choosing.
    return (c < 0x20 && c != '\t') || c == 127 || c >= 0x80;
}

bool IsQPrintable(unsigned char c) {
    return ((c >= 33 && c <= 60) || (c >= 62 && c <= 126)) && c != '?' && c != '_';
}

std::string Base64(const std::string& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned value = (unsigned char)bytes[i] << 16;
        if (i + 1 < bytes.size())
            value |= (unsigned char)bytes[i + 1] << 8;
        if (i + 2 < bytes.size())
            value |= (unsigned char)bytes[i + 2];
        out += digits[(value >> 18) & 63];
        out += digits[(value >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(value >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[value & 63] : '=';
    }
    return out;
}

// The header's "," CRLF TAB after every comma of an address list.
std::string FoldList(const std::string& list) {
    std::string out;
    for (size_t i = 0; i < list.size(); ++i) {
        out += list[i];
        if (list[i] == ',') {
            out += "\r\n\t";
            if (i + 1 < list.size() && list[i + 1] == ' ')
                ++i;
        }
    }
    return out;
}

std::string DateLine() {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    SYSTEMTIME now;
    GetLocalTime(&now);
    TIME_ZONE_INFORMATION zone = {};
    LONG bias = 0;
    switch (GetTimeZoneInformation(&zone)) {
    case TIME_ZONE_ID_STANDARD:
        bias = zone.Bias + zone.StandardBias;
        break;
    case TIME_ZONE_ID_DAYLIGHT:
        bias = zone.Bias + zone.DaylightBias;
        break;
    case TIME_ZONE_ID_UNKNOWN:
        bias = zone.Bias;
        break;
    }
    char line[80];
    snprintf(line, sizeof line, "Date: %3s, %d %3s %4d %02d:%02d:%02d %c%02d%02d\r\n", days[now.wDayOfWeek % 7],
             now.wDay, months[(now.wMonth + 11) % 12], now.wYear, now.wHour, now.wMinute, now.wSecond,
             bias > 0 ? '-' : '+', int(labs(bias) / 60), int(labs(bias) % 60));
    return line;
}

// The body bytes as they go on the wire: every line ended by CRLF (a bare CR
// or LF too, so no line escapes the dot-stuffing), no line longer than 998
// characters, and with dot-stuffing a second '.' before a leading one.
std::string WireBody(const std::string& bytes, bool dotStuffing) {
    std::string out;
    size_t column = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            out += "\r\n";
            column = 0;
            continue;
        }
        if (column == kLongestLine) {
            out += "\r\n";
            column = 0;
        }
        if (column == 0 && c == '.' && dotStuffing)
            out += '.';
        out += c;
        ++column;
    }
    return out;
}

}  // namespace

std::string ToCodePage(const tstring& text, UINT codePage) {
    if (text.empty())
        return std::string();
    UINT page = codePage ? codePage : CP_ACP;
    int size = WideCharToMultiByte(page, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(page, 0, text.c_str(), int(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

bool IsSafeMailAddress(const tstring& address) {
    if (address.find(_T('@')) == tstring::npos)
        return false;
    for (TCHAR c : address) {
        if (c < 0x20 || c == 0x7F || c == _T('<') || c == _T('>'))
            return false;
    }
    return true;
}

MimeMessage::MimeMessage() {
    CoCreateInstance(CLSID_CMultiLanguage, nullptr, CLSCTX_INPROC_SERVER, IID_IMultiLanguage,
                     languages_.ReceiveVoid());
}

std::string MimeMessage::CharsetName(UINT codePage) const {
    // MLang has no charset for code page 0; the ANSI code page is meant.
    UINT page = codePage ? codePage : GetACP();
    if (!languages_)
        return page == 28591 || codePage == 0 ? "iso-8859-1" : std::string();
    MIMECPINFO info = {};
    ComPtr<IMultiLanguage2> languages2;
    HRESULT hr = languages_.QueryInto(IID_IMultiLanguage2, languages2) == S_OK
                     ? languages2->GetCodePageInfo(page, LANGIDFROMLCID(GetThreadLocale()), &info)
                     : languages_->GetCodePageInfo(page, &info);
    if (hr != S_OK)
        return std::string();
    std::string name;
    for (const wchar_t* c = info.wszWebCharset; *c; ++c)
        name += char(*c);
    return name.size() <= kLongestCharset ? name : std::string();
}

std::string MimeMessage::Convert(const tstring& text, UINT codePage, std::string& charset) const {
    charset = CharsetName(codePage);
    return ToCodePage(text, codePage);
}

std::string MimeMessage::EncodeHeader(const std::string& bytes, const std::string& charset) {
    size_t count = 0;
    for (unsigned char c : bytes)
        count += NeedsEncoding(c) ? 1 : 0;
    if (!count || charset.empty())
        return bytes;
    if (count * 100 > bytes.size() * 16)
        return "=?" + charset + "?B?" + Base64(bytes) + "?=";
    std::string word = "=?" + charset + "?Q?";
    char hex[4];
    for (unsigned char c : bytes) {
        if (IsQPrintable(c)) {
            word += char(c);
        } else {
            snprintf(hex, sizeof hex, "=%02X", c);
            word += hex;
        }
    }
    return word + "?=";
}

void MimeMessage::AddRecipient(const wchar_t* displayName, const tstring& address) {
    if (!to_.empty())
        to_ += ", ";
    if (displayName && *displayName) {
        std::string charset = CharsetName(0);
        std::string name = EncodeHeader(ToCodePage(displayName, 0), charset);
        if (name.compare(0, 2, "=?") != 0) {
            std::string quoted = "\"";
            for (char c : name) {
                if (c == '\\' || c == '"')
                    quoted += '\\';
                quoted += c;
            }
            name = quoted + "\"";
        }
        to_ += name + " ";
    }
    to_ += "<" + ToCodePage(address, 0) + ">";
}

void MimeMessage::SetSender(const tstring& address) {
    sender_ = ToCodePage(address, 0);
}

void MimeMessage::SetSenderName(const tstring& name, UINT codePage) {
    senderName_ = Convert(name, codePage, senderCharset_);
}

void MimeMessage::SetSubject(const tstring& text, UINT codePage) {
    subject_ = Convert(text, codePage, subjectCharset_);
}

void MimeMessage::AddText(const tstring& text, int length, int position, UINT codePage) {
    TextPart part;
    tstring piece = length < 0 ? text : text.Left(length);
    part.bytes = Convert(piece, codePage, part.charset);
    if (part.charset.empty())
        part.charset = "iso-8859-1";
    size_t index = position < 1 ? 0 : size_t(position - 1);
    parts_.insert(parts_.begin() + (index < parts_.size() ? index : parts_.size()), part);
}

std::vector<std::string> MimeMessage::RecipientAddresses() const {
    // The text inside each pair of angle brackets, past quoted display names
    // and encoded words.
    std::string bare;
    for (size_t i = 0; i < to_.size(); ++i) {
        if (to_[i] == '"') {
            for (++i; i < to_.size() && to_[i] != '"'; ++i)
                if (to_[i] == '\\')
                    ++i;
        } else if (to_.compare(i, 2, "=?") == 0) {
            size_t end = to_.find("?=", i + 2);
            i = end == std::string::npos ? to_.size() : end + 1;
        } else if (to_[i] == '<') {
            size_t end = to_.find('>', i);
            if (!bare.empty())
                bare += ',';
            bare += to_.substr(i + 1, (end == std::string::npos ? to_.size() : end) - i - 1);
            i = end == std::string::npos ? to_.size() : end;
        }
    }
    std::vector<std::string> addresses;
    std::string current;
    for (size_t i = 0; i <= bare.size(); ++i) {
        char c = i < bare.size() ? bare[i] : '\0';
        if (c == ' ' || c == ',' || c == ';' || c == '\0') {
            if (!current.empty())
                addresses.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    return addresses;
}

std::string MimeMessage::HeaderBlock() const {
    std::string header = DateLine();
    if (!senderName_.empty() || !sender_.empty()) {
        header += "From: ";
        if (!senderName_.empty())
            header += EncodeHeader(senderName_, senderCharset_);
        if (!sender_.empty())
            header += (senderName_.empty() ? "<" : " <") + sender_ + ">";
        header += "\r\n";
    }
    if (!subject_.empty())
        header += "Subject: " + EncodeHeader(subject_, subjectCharset_) + "\r\n";
    header += "To: " + FoldList(to_) + "\r\n";
    if (!cc_.empty())
        header += "CC: " + FoldList(cc_) + "\r\n";
    return header;
}

bool MimeMessage::WriteData(SocketChannel& channel, int flags) const {
    std::string header = HeaderBlock();
    if (header.size() > kLongestHeader)
        return false;
    bool multipart = parts_.size() > 1;
    char boundary[64] = {};
    snprintf(boundary, sizeof boundary, "------=_Next_Part_%.10lu.%.3u", GetTickCount(), unsigned(rand() % 1000));
    header += "X-Priority: " + std::to_string(priority_) + "\r\n" + extraHeaders_;
    if (multipart)
        header += std::string("MIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n\tboundary=\"") + boundary +
                  "\"\r\n";
    if (!channel.Write(header))
        return false;
    for (const TextPart& part : parts_) {
        std::string opening = multipart ? std::string("\r\n\r\n--") + boundary : std::string("MIME-Version: 1.0");
        std::string partHeader = opening + "\r\nContent-Type: text/plain;\r\n\tcharset=\"" + part.charset +
                                 "\"\r\nContent-Transfer-Encoding: 8bit\r\n\r\n";
        if (!channel.Write(partHeader) || !channel.Write(WireBody(part.bytes, (flags & DotStuffing) != 0)))
            return false;
    }
    if (multipart && !channel.Write(std::string("\r\n\r\n--") + boundary + "--\r\n"))
        return false;
    return true;
}
