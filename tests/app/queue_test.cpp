// A queue file's envelope as the queue reads it back: what was written
// comes back whole, and a file that is no queued message, or one torn in
// its envelope, is never taken for one.
#include <gtest/gtest.h>

#include <string>

#include "app/queue.h"

namespace {

TEST(QueueEnvelope, ReadsBackWhatWasWrittenAndNothingElse) {
  const app::Envelope written{"Backup Cron <cron@example.com>", {"ops@example.com", "Desk <desk@example.com>"},
                              {"archive@example.com"}, "SUCCESS,FAILURE", "1765270000.4f2a@example.com",
                              1765270000, "work"};
  const std::string text = app::EnvelopeText(written);
  const std::string file = text + "Date: Tue, 8 Dec 2026 09:00:00 +0000\r\n\r\nbody\r\n";
  app::Envelope read;
  ASSERT_EQ(app::ReadEnvelope(file, read), text.size());
  EXPECT_EQ(read.sender, written.sender);
  EXPECT_EQ(read.recipients, written.recipients);
  EXPECT_EQ(read.bcc, written.bcc);
  EXPECT_EQ(read.dsn_notify, written.dsn_notify);
  EXPECT_EQ(read.dsn_envid, written.dsn_envid);
  EXPECT_EQ(read.queued_at, written.queued_at);
  EXPECT_EQ(read.profile, written.profile);

  const std::string torn[] = {
      "",
      text.substr(0, text.size() - 2),                                        // the envelope's end not written
      "From: a@example.com\r\n\r\nbody\r\n",                                  // a message, not a queue file
      "X-Postrine-Queue: 1\r\nSender: a@x.io\r\nRecipient: b@x.io\r\n\r\n",   // no time
      "X-Postrine-Queue: 1\r\nQueued: 12x\r\nRecipient: b@x.io\r\n\r\n",      // not a time
      "X-Postrine-Queue: 1\r\nQueued: 1765270000\r\nSender: a@x.io\r\n\r\n",  // nobody to send to
      "X-Postrine-Queue: 1\r\nQueued: 1765270000\r\nRecipient b@x.io\r\n\r\n",
  };
  for (const std::string& t : torn) EXPECT_EQ(app::ReadEnvelope(t, read), 0u) << t;
}

TEST(QueueNames, SortOldestFirstAndTellMessagesFromTheirTemporaryFiles) {
  const std::string earlier = app::QueueFileName(999999999);
  const std::string later = app::QueueFileName(1765270000);
  EXPECT_LT(earlier, later);
  EXPECT_TRUE(app::IsMessageName(later));
  EXPECT_FALSE(app::IsTemporaryName(later));
  EXPECT_TRUE(app::IsTemporaryName(later + ".tmp"));
  EXPECT_FALSE(app::IsMessageName(later + ".tmp"));
  EXPECT_FALSE(app::IsMessageName(later + ".reason"));
  EXPECT_FALSE(app::IsMessageName("failed"));
}

}  // namespace
