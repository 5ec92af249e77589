#pragma once

// String-table ids of the mail reports; the texts are in MailStrings.rc,
// which the program's resource script includes.
#define IDS_MAIL_AUTOMATIC 294
#define IDS_MAIL_SCAN_SUBJECT 298
#define IDS_MAIL_AUTOFIX_NO 299
#define IDS_MAIL_AUTOFIX_YES 300
#define IDS_MAIL_ERRORS_FOUND 301
#define IDS_MAIL_COMPACT_SUBJECT 305
#define IDS_MAIL_COMPACT_REBOOT 307
#define IDS_MAIL_COMPACT_SCHEDULED 308
#define IDS_MAIL_BACKUP_SUBJECT 310
#define IDS_MAIL_BACKUP_DONE 311
#define IDS_MAIL_DATE 313
#define IDS_MAIL_TIME 314
#define IDS_MAIL_TEST_SUBJECT 315
#define IDS_MAIL_TEST_BODY 316
#define IDS_MAIL_NO_ERRORS 321
#define IDS_MAIL_NOT_FIXED 325
#define IDS_MAIL_SIGNATURE 326
#define IDS_MAIL_BACKUP_FAILED 337
