#pragma once
#include <winsock2.h>
#include <windows.h>
#include <windns.h>
#include "common/tstring/tstring.h"

// The mail reports of scheduled runs and the scheduler page's test message:
// finds the mail server (the configured one, else the best mail exchanger of
// the recipient's domain), connects with up to three attempts and sends one
// plain-text message. Made for one sending; blocks its thread meanwhile, never
// longer than a few time limits.
class MailNotifier {
public:
    enum TestResult { Sent = 0, NoServer = 1, SendFailed = 2, NoConnection = 4 };

    // dnsServers: the DNS servers to ask for mail exchangers; null (the
    // program) asks the system's.
    MailNotifier(const tstring& address, const tstring& server, const IP4_ARRAY* dnsServers = nullptr);

    int SendTestMail();
    // scanFinished false: the scan did not start or was stopped before its
    // end, so its count is partial and never reported as a clean registry.
    bool SendScanFixMail(int errorsFound, bool fixSucceeded, const tstring& fixReport, bool scanFinished = true);
    bool SendCompactMail();
    // An empty error text: the backup succeeded.
    bool SendBackupMail(const tstring& errorText);

    // The limit of each connection attempt and of every command on it.
    void SetTimeLimit(DWORD milliseconds) { limit_ = milliseconds; }

    // The server to connect to; empty (and logged) when there is none.
    tstring FindServer() const;

private:
    // Result as the test's.
    int Send(const tstring& subject, const tstring& body);
    static tstring DateAndTimeLines();
    static tstring Footer();

    tstring address_;
    tstring server_;
    const IP4_ARRAY* dnsServers_;
    DWORD limit_ = 10000;
};

// The sender's display name: "QUARN Orvane at " and the host name in capitals.
tstring MailSenderName();
