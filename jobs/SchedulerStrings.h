#pragma once

// String-table ids of the scheduled jobs and the scheduler page; the texts are
// in SchedulerStrings.rc, which the program's resource script includes.
#define IDS_MAIL_TEST_SENT 290
#define IDS_MAIL_NO_SERVER 291
#define IDS_MAIL_SEND_FAILED 292
#define IDS_SCAN_MISSED 317
#define IDS_BACKUP_MISSED 318
#define IDS_COMPACT_MISSED 319
#define IDS_MAIL_NO_CONNECTION 320
#define IDS_COMPACT_TASK_COMMENT 322
#define IDS_BACKUP_TASK_COMMENT 323
#define IDS_SCAN_TASK_COMMENT 324
#define IDS_CANNOT_SCHEDULE 327
#define IDS_TASK_EXISTS 328
#define IDS_NO_SCHEDULE_RIGHTS 329
#define IDS_SCHEDULE_MODIFIED 336
