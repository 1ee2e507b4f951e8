// A work directory of its own and recorded dialogs and tones, so that the
// default handler runs in full without showing anything.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "error/def_error.h"
#include "error/error.h"
#include "runtime/error_dialog.h"
#include "runtime/error_slot.h"
#include "runtime/places.h"
#include "support/read_file.h"
#include "support/scratch_dir.h"

/// A record of severity 2 and generic code 33, as `fill` changes it.
inline runtime::Value Record(const std::function<void(Error&)>& fill) {
  auto e = std::make_shared<Error>();
  e->Severity = 2;
  e->GenCode = 33;
  fill(*e);
  return error::ErrorValue(e);
}

struct Asked {
  std::string text, caption;
  std::uint32_t def, retry, quit;
};

class HandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime::SetWorkDir(dir_.path().string() + runtime::PathSeparator());
    runtime::DialogServices services;
    services.ask = [this](const std::string& text, const std::string& caption, std::uint32_t def,
                          std::uint32_t retry, std::uint32_t quit) {
      asked.push_back({text, caption, def, retry, quit});
      return answer;
    };
    services.inform = [this](const std::string& text, const std::string& caption) {
      informed.push_back(caption + ": " + text);
    };
    services.tone = [this](unsigned hertz, unsigned duration) { tones.push_back(hertz * 100 + duration); };
    previous_services_ = runtime::SetDialogServices(services);
    previous_handler_ = runtime::ErrorBlock([](const runtime::Value& r) { return DefError(r); });
    previous_function_ = runtime::ErrorFunc(DefErrorGen);
    runtime::SetBeep(true);
    runtime::SetErrorLog(true);
    runtime::NetErr(false);
  }
  void TearDown() override {
    runtime::SetDialogServices(previous_services_);
    runtime::ErrorBlock(previous_handler_);
    runtime::ErrorFunc(previous_function_);
    runtime::SetWorkDir("");
    runtime::NetErr(false);
  }
  std::string Log() const { return test_support::ReadFile(dir_ / "ZUNERROR.LOG"); }
  bool LogExists() const { return std::filesystem::exists(dir_.path() / "ZUNERROR.LOG"); }

  test_support::ScratchDir dir_{"handler"};
  std::uint32_t answer = runtime::kAnswerDefault;
  std::vector<Asked> asked;
  std::vector<std::string> informed;
  std::vector<unsigned> tones;

 private:
  runtime::DialogServices previous_services_;
  runtime::ErrorHandler previous_handler_;
  runtime::ErrorFunction previous_function_ = nullptr;
};
