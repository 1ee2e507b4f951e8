// The run-time's file operations: the codes the error log and the log file
// rely on, and sharing conflicts reaching the handler slot as records.
#include "runtime/files.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/error_slot.h"
#include "runtime/places.h"
#include "support/read_file.h"
#include "support/scratch_dir.h"

namespace {

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = runtime::ErrorBlock(nullptr); }
  void TearDown() override {
    runtime::ErrorBlock(previous_);
    runtime::NetErr(false);
  }
  std::string Name(const char* file) const { return dir_ / file; }

  test_support::ScratchDir dir_{"files"};
  runtime::ErrorHandler previous_;
};

// Writing, seeking and copying show in the log tests, which check every
// byte of the logs they write.
TEST_F(FilesTest, FailuresGiveWindowsCodes) {
  EXPECT_FALSE(runtime::File(dir_.path().string())) << "a directory is no file";
  EXPECT_EQ(runtime::FOpen(Name("missing.txt"), runtime::FO_WRITE), runtime::kInvalidHandle);
  EXPECT_EQ(runtime::FError(), runtime::kOsFileNotFound);
  EXPECT_EQ(runtime::FCreate(Name("no_dir") + runtime::PathSeparator() + "x.log"), runtime::kInvalidHandle);
  EXPECT_EQ(runtime::FError(), runtime::kOsPathNotFound);
}

// The record is the structure itself here: the error function hands its
// address through, so the handler reads the raw slots.
runtime::Value StructureAsRecord(const runtime::Value& pointer) { return pointer; }

TEST_F(FilesTest, ConflictReachesTheHandlerWhichMayRetryOrDefault) {
  const runtime::ErrorFunction previous_function = runtime::ErrorFunc(StructureAsRecord);
  const std::string name = Name("held.log");
  runtime::Handle holder = runtime::FCreate(name);
  ASSERT_NE(holder, runtime::kInvalidHandle);
  runtime::FPutS(holder, "kept");

  // Each record as its operation, generic and system codes, what it may
  // answer and the tries so far.
  std::vector<std::string> seen;
  bool release_on_second = true;
  runtime::ErrorBlock([&](const runtime::Value& record) -> runtime::Value {
    const auto* es = reinterpret_cast<const runtime::ErrorStructure*>(record.AsPointer().address);
    seen.push_back(std::string(es->Operation) + " " + std::to_string(es->GenCode) + " " + std::to_string(es->OsCode) +
                   (es->CanDefault ? " default" : "") + (es->CanRetry ? " retry " : " ") + std::to_string(es->Tries));
    if (!release_on_second) return runtime::Value(false);
    if (seen.size() == 2) runtime::FClose(holder);  // the other side lets go
    return runtime::Value(true);
  });

  // Retry answered: the open is tried again until the holder lets go.
  runtime::Handle h = runtime::FOpen(name, runtime::FO_READWRITE);
  EXPECT_NE(h, runtime::kInvalidHandle);
  EXPECT_EQ(seen, (std::vector<std::string>{"FOPEN 21 32 default retry 1", "FOPEN 21 32 default retry 2"}));

  // Default answered: the open fails with the conflict's code, and a create
  // leaves the held file whole.
  seen.clear();
  release_on_second = false;
  EXPECT_EQ(runtime::FOpen(name, runtime::FO_WRITE), runtime::kInvalidHandle);
  EXPECT_EQ(runtime::FError(), runtime::kOsSharingViolation);
  EXPECT_EQ(runtime::FCreate(name), runtime::kInvalidHandle);
  EXPECT_EQ(seen, (std::vector<std::string>{"FOPEN 21 32 default retry 1", "FCREATE 21 32 default retry 1"}));
  runtime::FClose(h);
  EXPECT_EQ(test_support::ReadFile(name), "kept\r\n");
  runtime::ErrorFunc(previous_function);
}

TEST_F(FilesTest, CopyOfAHeldFileFailsQuietly) {
  const std::string name = Name("held.log");
  runtime::Handle holder = runtime::FCreate(name);
  ASSERT_NE(holder, runtime::kInvalidHandle);
  int raised = 0;
  runtime::ErrorBlock([&raised](const runtime::Value&) {
    ++raised;
    return runtime::Value(false);
  });
  EXPECT_FALSE(runtime::FCopy(name, Name("copy.log")));
  EXPECT_EQ(runtime::FError(), runtime::kOsSharingViolation);
  EXPECT_EQ(raised, 0);
  runtime::FClose(holder);
}

}  // namespace
