#include "mail/MailNotifier.h"
#include <winsock2.h>
#include <vector>
#include "common/log/Log.h"
#include "common/settings/Settings.h"
#include "mail/MailStrings.h"
#include "mail/MimeMessage.h"
#include "mail/SmtpClient.h"
#include "mail/SocketChannel.h"

namespace {

const TCHAR kSenderAddress[] = _T("orvane-report@quarn.com");
const TCHAR kBlankLine[] = _T("   \r\n");
const int kAttempts = 3;

tstring Text(UINT id) {
    return tstring(MAKEINTRESOURCE(id));
}

tstring Formatted(UINT id, const tstring& argument) {
    tstring text;
    text.FormatResource(id, argument);
    return text;
}

}  // namespace

tstring MailSenderName() {
    tstring name = _T("QUARN Orvane");
    char host[128] = {};
    if (EnsureWinsock() && gethostname(host, sizeof host) == 0) {
        tstring upper = tstring::FromNarrow(host);
        CharUpperBuff(&upper[0], DWORD(upper.size()));
        name += _T(" at ") + upper;
    }
    return name;
}

MailNotifier::MailNotifier(const tstring& address, const tstring& server, const IP4_ARRAY* dnsServers)
    : address_(address), server_(server), dnsServers_(dnsServers) {}

tstring MailNotifier::FindServer() const {
    // The address goes into SMTP commands and headers as it is: line breaks
    // or angle brackets in it would let it write commands of its own.
    if (!IsSafeMailAddress(address_)) {
        Log::Instance().Print(LogError, _T("[error] Invalid e-mail address <%s>."), address_.c_str());
        return tstring();
    }
    if (!server_.empty())
        return server_;
    tstring domain = address_.substr(address_.find(_T('@')) + 1);
    PDNS_RECORD records = nullptr;
    DNS_STATUS status = DnsQuery_W(domain.c_str(), DNS_TYPE_MX, DNS_QUERY_STANDARD, const_cast<IP4_ARRAY*>(dnsServers_),
                                   &records, nullptr);
    // The answer's MX records only, the lowest preference first.
    tstring best;
    WORD bestPreference = 0xFFFF;
    if (status == 0) {
        for (PDNS_RECORD record = records; record; record = record->pNext) {
            if (record->wType != DNS_TYPE_MX || record->Flags.S.Section != DnsSectionAnswer)
                continue;
            if (best.empty() || record->Data.MX.wPreference < bestPreference) {
                best = record->Data.MX.pNameExchange;
                bestPreference = record->Data.MX.wPreference;
            }
        }
    }
    if (records)
        DnsRecordListFree(records, DnsFreeRecordList);
    if (best.empty())
        Log::Instance().Print(LogError, _T("[error] Could not find MX record for domain <%s>."), domain.c_str());
    return best;
}

int MailNotifier::Send(const tstring& subject, const tstring& body) {
    tstring server = FindServer();
    if (server.empty())
        return NoServer;
    SmtpClient client;
    bool connected = false;
    for (int left = kAttempts - 1; left >= 0 && !connected; --left) {
        connected = client.Connect(server, limit_);
        if (!connected)
            Log::Instance().Print(LogError, _T("[error] Failed to connect to <%s>. Attempts left: %d"), server.c_str(),
                                  left);
    }
    if (!connected)
        return NoConnection;

    MimeMessage message;
    message.AddRecipient(nullptr, address_);
    message.SetSender(kSenderAddress);
    message.SetSenderName(MailSenderName(), 0);
    message.SetSubject(subject, 0);
    message.AddText(body, -1, 1, 0);
    bool sent = client.Send(message);
    sent = client.Close() && sent;
    if (sent) {
        Log::Instance().Print(LogInfo, _T("[info] Mail was sent <%s>."), _T(""));
        return Sent;
    }
    Log::Instance().Print(LogError, _T("[error] Mail send failed to <%s>."), address_.c_str());
    return SendFailed;
}

tstring MailNotifier::DateAndTimeLines() {
    TCHAR time[128] = {};
    TCHAR date[128] = {};
    GetTimeFormat(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, 128);
    GetDateFormat(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, date, 128);
    return Formatted(IDS_MAIL_TIME, time) + kBlankLine + Formatted(IDS_MAIL_DATE, date) + kBlankLine;
}

tstring MailNotifier::Footer() {
    return tstring(kBlankLine) + Text(IDS_MAIL_AUTOMATIC) + kBlankLine + Text(IDS_MAIL_SIGNATURE);
}

int MailNotifier::SendTestMail() {
    Log::Instance().Print(LogInfo, _T("[info] Sending test mail notification <%s>."), _T(""));
    return Send(Text(IDS_MAIL_TEST_SUBJECT), Text(IDS_MAIL_TEST_BODY) + kBlankLine + Text(IDS_MAIL_AUTOMATIC));
}

bool MailNotifier::SendScanFixMail(int errorsFound, bool fixSucceeded, const tstring& fixReport, bool scanFinished) {
    Log::Instance().Print(LogInfo, _T("[info] Sending scan & fix mail notification <%s>."), _T(""));
    Settings& settings = GetSettings();
    if (settings.GetScanResultsThreshold() && errorsFound == 0 && scanFinished) {
        Log::Instance().Print(LogInfo, _T("[info] Nothing to do<%s>."), _T(""));
        return true;
    }
    tstring result;
    if (!scanFinished) result = Text(IDS_MAIL_SCAN_STOPPED) + kBlankLine;
    if (errorsFound) {
        result += Text(IDS_MAIL_ERRORS_FOUND) + FormatText(_T("%d"), errorsFound) + kBlankLine + kBlankLine;
        if (settings.GetAutoFix() && (!fixSucceeded || !fixReport.empty())) {
            result += Text(IDS_MAIL_NOT_FIXED);
            result += fixReport;
        }
    } else if (scanFinished) {
        result = Text(IDS_MAIL_NO_ERRORS);
    }
    tstring body = DateAndTimeLines() + kBlankLine +
                   Text(settings.GetAutoFix() ? IDS_MAIL_AUTOFIX_YES : IDS_MAIL_AUTOFIX_NO) + kBlankLine + result +
                   kBlankLine + Footer();
    return Send(Formatted(IDS_MAIL_SCAN_SUBJECT, tstring()), body) == Sent;
}

bool MailNotifier::SendCompactMail() {
    Log::Instance().Print(LogInfo, _T("[info] Sending compact mail notification <%s>."), _T(""));
    tstring line = Text(GetSettings().GetAutoReboot() ? IDS_MAIL_COMPACT_REBOOT : IDS_MAIL_COMPACT_SCHEDULED);
    tstring body = DateAndTimeLines() + kBlankLine + line + kBlankLine + Footer();
    return Send(Formatted(IDS_MAIL_COMPACT_SUBJECT, tstring()), body) == Sent;
}

bool MailNotifier::SendBackupMail(const tstring& errorText) {
    Log::Instance().Print(LogInfo, _T("[info] Sending backup mail notification <%s>."), _T(""));
    tstring line = errorText.empty() ? Formatted(IDS_MAIL_BACKUP_DONE, GetSettings().BackupFolder())
                                     : Formatted(IDS_MAIL_BACKUP_FAILED, errorText);
    tstring body = DateAndTimeLines() + kBlankLine + line + kBlankLine + Footer();
    return Send(Formatted(IDS_MAIL_BACKUP_SUBJECT, tstring()), body) == Sent;
}
