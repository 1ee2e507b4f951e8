// The error dialog and the tone. The dialog waits only when a person can
// answer it (an interactive console or desktop on Windows, a controlling
// terminal on POSIX); otherwise its text goes to standard error and the way
// out is taken at once, so that a scheduled job never hangs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace runtime {

/// Answer codes of the error dialog.
inline constexpr std::uint32_t kAnswerDefault = 1;
inline constexpr std::uint32_t kAnswerRetry = 2;

/// Shows `text` under `caption` with a choice for every nonzero option and
/// returns the chosen option's code. `quit` is never zero.
std::uint32_t ErrorMessageBox(const std::string& text, const std::string& caption, std::uint32_t default_option,
                              std::uint32_t retry_option, std::uint32_t quit_option);

/// A message with an OK button only (MessageBoxA without owner window).
void InfoBox(const std::string& text, const std::string& caption);

/// Sounds a tone of `hertz` for `duration` units of 1/18 second.
void Tone(unsigned hertz, unsigned duration);

/// What the error dialog and the tone do; tests replace them so that no
/// real dialog is ever shown. Empty members restore the platform's own.
struct DialogServices {
  std::function<std::uint32_t(const std::string& text, const std::string& caption, std::uint32_t def,
                              std::uint32_t retry, std::uint32_t quit)>
      ask;
  std::function<void(const std::string& text, const std::string& caption)> inform;
  std::function<void(unsigned hertz, unsigned duration)> tone;
};
/// Replaces the services; returns the previous ones.
DialogServices SetDialogServices(DialogServices services);

namespace detail {
/// The platform's dialog: true when a person could be asked, with the
/// answer in `answer`.
bool PlatformAsk(const std::string& text, const std::string& caption, std::uint32_t def, std::uint32_t retry,
                 std::uint32_t quit, std::uint32_t& answer);
/// True when the message was shown to a person.
bool PlatformInform(const std::string& text, const std::string& caption);
void PlatformTone(unsigned hertz, unsigned duration);
}  // namespace detail

}  // namespace runtime
