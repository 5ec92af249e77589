#include <doctest/doctest.h>
#include "MailTestSupport.h"
#include "mail/MailNotifier.h"
#include "mail/MailStrings.h"
#include "mail/MimeMessage.h"
#include "mail/SmtpClient.h"

namespace {

struct ComApartment {
    ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { CoUninitialize(); }
};

// Texts the ANSI code page can hold: one with a single letter beyond ASCII
// (a Q-encoded header) and one of such letters alone (B-encoded).
struct LocaleTexts {
    std::wstring fewForeign;
    std::wstring allForeign;
    std::string charset;
};

LocaleTexts TextsForCodePage() {
    switch (GetACP()) {
    case 1251:
        return {L"Weekly registry report for the user \x0418", L"\x041E\x0442\x0447\x0451\x0442", "windows-1251"};
    case 932:
        return {L"Weekly registry report of \x65E5", L"\x30EC\x30B8\x30B9\x30C8\x30EA", "shift_jis"};
    default:
        return {L"Weekly registry report f\x00FCr", L"\x00C4\x00D6\x00DC\x00DF\x00E4", "windows-1252"};
    }
}

std::string Ansi(const std::wstring& text) {
    std::string bytes(text.size() * 4, '\0');
    bytes.resize(WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), &bytes[0], int(bytes.size()),
                                     nullptr, nullptr));
    return bytes;
}

std::wstring Loaded(UINT id) {
    return tstring(MAKEINTRESOURCE(id));
}

ULONGLONG Elapsed(ULONGLONG since) {
    return GetTickCount64() - since;
}

}  // namespace

TEST_CASE("mail arrives whole: headers decode back, charset and body bytes are the code page's") {
    ComApartment com;
    CapturedLog log;
    Responder server("smtp", "127.0.0.2");
    REQUIRE(server.Started());
    LocaleTexts texts = TextsForCodePage();
    // The runs under other locales must really get their code page.
    wchar_t locale[64] = {};
    GetEnvironmentVariableW(L"LC_ALL", locale, 64);
    if (std::wstring(locale).find(L"ru_RU") == 0)
        CHECK(GetACP() == 1251);
    if (std::wstring(locale).find(L"ja_JP") == 0)
        CHECK(GetACP() == 932);

    SUBCASE("a message with foreign letters, dots, a long line and two recipients") {
        std::wstring body = L"Hello " + texts.allForeign + L"\n.\nQUIT\n.x\r\n" + std::wstring(2000, L'a') + L"\rend";
        SmtpClient client;
        REQUIRE(client.Connect(L"127.0.0.2", 5000));
        MimeMessage message;
        message.AddRecipient(nullptr, L"a@x.test, b@y.test");
        message.SetSender(L"sender@z.test");
        message.SetSenderName(texts.fewForeign, 0);
        message.SetSubject(texts.allForeign, 0);
        message.AddText(body, -1, 1, 0);
        CHECK(client.Send(message));
        CHECK(client.Close());

        std::map<std::string, std::string> got = server.Message(1);
        CHECK(got["rcpt"] == "a@x.test|b@y.test");
        CHECK(FromUtf8(got["subject"]) == texts.allForeign);
        CHECK(got["subject.form"] == "B");
        CHECK(FromUtf8(got["from"]) == texts.fewForeign + L" <sender@z.test>");
        CHECK(got["from.form"] == "Q");
        CHECK(got["charset"] == texts.charset);
        std::string longLine(998, 'a');
        CHECK(got["body"] == Hex(Ansi(L"Hello " + texts.allForeign) + "\r\n.\r\nQUIT\r\n.x\r\n" + longLine + "\r\n" +
                                 longLine + "\r\naaaa\r\nend"));
        CHECK(std::stoi(got["longest"]) <= 998);
    }

    SUBCASE("the test message through the configured server") {
        CHECK(MailNotifier(L"someone@x.test", L"127.0.0.2").SendTestMail() == MailNotifier::Sent);
        std::map<std::string, std::string> got = server.Message(1);
        CHECK(got["rcpt"] == "someone@x.test");
        CHECK(got["subject"] == "QUARN Orvane Test Message");
        CHECK(got["charset"] == texts.charset);
        std::wstring body = Loaded(IDS_MAIL_TEST_BODY) + L"   \r\n" + Loaded(IDS_MAIL_AUTOMATIC);
        CHECK(got["body"] == Hex(Ansi(body)));
        wchar_t zone[64] = {};
        if (GetEnvironmentVariableW(L"TZ", zone, 64) && std::wstring(zone) == L"Asia/Kolkata")
            CHECK(got["date"].substr(got["date"].size() - 5) == "+0530");
        CHECK(log.Has(L"[info] Sending test mail notification <>."));
        CHECK(log.Has(L"[info] Mail was sent <>."));
    }
}

TEST_CASE("no mail server holds the sender for long") {
    ComApartment com;
    CapturedLog log;

    SUBCASE("a server that accepts and never answers: no connection after three limits") {
        Responder server("silent", "127.0.0.5");
        REQUIRE(server.Started());
        MailNotifier notifier(L"a@x.test", L"127.0.0.5");
        notifier.SetTimeLimit(1500);
        ULONGLONG start = GetTickCount64();
        CHECK(notifier.SendTestMail() == MailNotifier::NoConnection);
        CHECK(Elapsed(start) < 3 * 1500 + 4000);
    }

    SUBCASE("a server silent after 354: sending failed within a limit") {
        Responder server("mute354", "127.0.0.7");
        REQUIRE(server.Started());
        MailNotifier notifier(L"a@x.test", L"127.0.0.7");
        notifier.SetTimeLimit(1500);
        ULONGLONG start = GetTickCount64();
        CHECK(notifier.SendTestMail() == MailNotifier::SendFailed);
        CHECK(Elapsed(start) < 1500 + 4000);
        CHECK(log.Has(L"[error] Mail send failed to <a@x.test>."));
    }

    SUBCASE("refused three times") {
        CHECK(MailNotifier(L"a@x.test", L"127.0.0.6").SendTestMail() == MailNotifier::NoConnection);
        std::wstring text = log.Text();
        size_t two = text.find(L"[error] Failed to connect to <127.0.0.6>. Attempts left: 2");
        size_t one = text.find(L"[error] Failed to connect to <127.0.0.6>. Attempts left: 1");
        size_t zero = text.find(L"[error] Failed to connect to <127.0.0.6>. Attempts left: 0");
        CHECK(two < one);
        CHECK(one < zero);
        CHECK(zero != std::wstring::npos);
    }

    SUBCASE("addresses that would write commands or headers of their own are refused unsent") {
        Responder server("silent", "127.0.0.5");
        REQUIRE(server.Started());
        for (const wchar_t* address : {L"a@x>\r\nRCPT TO:<e@y", L"a@x\r\nBcc: e@y"}) {
            CHECK(MailNotifier(address, L"127.0.0.5").SendTestMail() == MailNotifier::NoServer);
            CHECK(log.Has(std::wstring(L"[error] Invalid e-mail address <") + address + L">."));
        }
        server.Stop();
        CHECK(server.Received().empty());
    }
}

TEST_CASE("without a configured server the best mail exchanger of the domain gets the mail") {
    ComApartment com;
    CapturedLog log;
    Responder dns("dns", "127.0.0.1");
    Responder server("smtp", "127.0.0.2");
    REQUIRE(dns.Started());
    REQUIRE(server.Started());
    IP4_ARRAY servers = {};
    servers.AddrCount = 1;
    servers.AddrArray[0] = htonl(INADDR_LOOPBACK);

    // "20 worse.127.0.0.2" comes first in the answer; no resolver knows it.
    CHECK(MailNotifier(L"x@127.0.0.2", L"", &servers).SendTestMail() == MailNotifier::Sent);
    CHECK(server.Message(1)["rcpt"] == "x@127.0.0.2");

    CHECK(MailNotifier(L"x@none.test", L"", &servers).SendTestMail() == MailNotifier::NoServer);
    CHECK(log.Has(L"[error] Could not find MX record for domain <none.test>."));
    CHECK_FALSE(log.Has(L"Failed to connect"));
}
