// Text and path utilities of the mail command: cutting a text into tokens
// with quotes and backslash escapes (command lines, recipient lists), the
// executable's full name and the directory part of a file name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

/// Cuts `text` into tokens at `delimiter`. A token that starts with `quote`
/// runs to its closing quote and may hold delimiters; a doubled quote inside
/// stands for one, as does a quote or delimiter escaped with a backslash; a
/// doubled backslash becomes one. An empty `quote` turns quoting off. Each
/// of `delimiter` and `quote` is one character (only the first counts).
/// Runs in time linear in the text.
std::vector<std::string> Text2Array(std::string_view text, std::string_view delimiter,
                                    std::string_view quote);

/// Text2Array that also reports the tokens whose text it does not give back
/// whole: a quoted token followed by more text before the next delimiter
/// (that text is dropped, or with no delimiter after it, its first character
/// is dropped and the rest becomes the next token), and a token ended by a
/// doubled quote and a delimiter (what it held is dropped). Each goes into
/// `passed_over` as it stands in `text`, from its opening quote to the next
/// delimiter.
std::vector<std::string> Text2Array(std::string_view text, std::string_view delimiter,
                                    std::string_view quote, std::vector<std::string>* passed_over);

/// The running executable's full file name (at most 1023 bytes).
std::string GetExeFileName();

/// The part of `file_name` before its last path separator, without the
/// separator; empty when there is none.
std::string GetPathFromFileName(const std::string& file_name);
