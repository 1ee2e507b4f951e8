// Each parser and encoder over three input sizes, a factor of 8 apart:
// Google Benchmark fits the times to a complexity and reports it, which
// shows them linear in their input.
#include <benchmark/benchmark.h>

#include <string>

#include "app/text.h"
#include "mailclient/mime/content.h"
#include "mailclient/mime/encoding.h"
#include "mailclient/mime/html_text.h"
#include "settings/profile_text.h"

namespace {

std::string Repeat(const std::string& unit, std::size_t size) {
  std::string s;
  while (s.size() < size) s += unit;
  s.resize(size);
  return s;
}

void BM_Text2Array(benchmark::State& state) {
  const std::string text = Repeat("a@example.com,\"Ops, Team\" <b@example.com>,c\\,d,", state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(Text2Array(text, ",", "\""));
  state.SetComplexityN(state.range(0));
}

void BM_Text2ArrayOneLongQuotedToken(benchmark::State& state) {
  const std::string text = "\"" + Repeat("say \"\"hi\"\" \\\" ", state.range(0)) + "\"";
  for (auto _ : state) benchmark::DoNotOptimize(Text2Array(text, " ", "\""));
  state.SetComplexityN(state.range(0));
}

template <typename Encoder>
void Encode(benchmark::State& state, const std::string& body) {
  for (auto _ : state) {
    Encoder encoder;
    std::string out;
    encoder.Feed(body, out);
    encoder.Finish(out);
    benchmark::DoNotOptimize(out);
  }
  state.SetComplexityN(state.range(0));
}

void BM_DataEncoder(benchmark::State& state) {
  Encode<mailclient::DataEncoder>(state, Repeat(".line one\nline two\r\n\rx", state.range(0)));
}
void BM_QuotedPrintable(benchmark::State& state) {
  Encode<mailclient::QuotedPrintableEncoder>(state, Repeat("Gr\xc3\xbc\xc3\x9f" "e = 10 \xe2\x82\xac \n", state.range(0)));
}
void BM_Base64(benchmark::State& state) {
  Encode<mailclient::Base64Encoder>(state, Repeat(std::string("bin\0ary", 7), state.range(0)));
}

// The first pass over a body or a text attachment, charset included.
void BM_ContentScan(benchmark::State& state) {
  const std::string text = Repeat("Z\xc3\xbcrich;12,5\r\nline two =_ \n", state.range(0));
  for (auto _ : state) {
    mailclient::ContentScan scan;
    for (std::size_t at = 0; at < text.size(); at += 65536) scan.Feed(std::string_view(text).substr(at, 65536));
    scan.Finish();
    benchmark::DoNotOptimize(scan.CharsetByByteOrderMark());
  }
  state.SetComplexityN(state.range(0));
}

void BM_FoldAtBlanks(benchmark::State& state) {
  const std::string line = "Subject: " + Repeat("nightly report of every server ", state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(mailclient::FoldAtBlanks(line));
  state.SetComplexityN(state.range(0));
}

void BM_ProfileReader(benchmark::State& state) {
  const std::string text = Repeat("[Section]\r\nKey = value\r\n; note\r\n", state.range(0)) + "[Settings]\r\nServerName=x\r\n";
  for (auto _ : state) benchmark::DoNotOptimize(settings::FindProfileValue(text, "Settings", "ServerName"));
  state.SetComplexityN(state.range(0));
}

// The text alternative of a typical report: a table of hosts, fed in the
// 64 KiB chunks a body is read in.
void BM_HtmlText(benchmark::State& state) {
  const std::string html = "<html><body><h1>Nightly report</h1><table>" +
                           Repeat("<tr><td class=\"host\">web-17.example.com</td><td>up &amp; running</td>"
                                  "<td><a href=\"https://x.io/r?id=17\">details</a></td></tr>\n",
                                  state.range(0)) +
                           "</table></body></html>";
  for (auto _ : state) {
    mailclient::HtmlText converter;
    std::string text;
    for (std::size_t at = 0; at < html.size(); at += 65536) converter.Feed(std::string_view(html).substr(at, 65536), text);
    converter.Finish(text);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * html.size()));
  state.SetComplexityN(state.range(0));
}

}  // namespace

BENCHMARK(BM_Text2Array)->RangeMultiplier(8)->Range(1 << 14, 1 << 20)->Complexity(benchmark::oN);
BENCHMARK(BM_Text2ArrayOneLongQuotedToken)->RangeMultiplier(8)->Range(1 << 14, 1 << 20)->Complexity(benchmark::oN);
BENCHMARK(BM_DataEncoder)->RangeMultiplier(8)->Range(1 << 14, 1 << 20)->Complexity(benchmark::oN);
BENCHMARK(BM_QuotedPrintable)->RangeMultiplier(8)->Range(1 << 14, 1 << 20)->Complexity(benchmark::oN);
BENCHMARK(BM_Base64)->RangeMultiplier(8)->Range(1 << 14, 1 << 20)->Complexity(benchmark::oN);
BENCHMARK(BM_ContentScan)->RangeMultiplier(8)->Range(1 << 14, 1 << 20)->Complexity(benchmark::oN);
BENCHMARK(BM_FoldAtBlanks)->RangeMultiplier(8)->Range(1 << 14, 1 << 20)->Complexity(benchmark::oN);
BENCHMARK(BM_HtmlText)->RangeMultiplier(8)->Range(1 << 16, 1 << 22)->Complexity(benchmark::oN);
BENCHMARK(BM_ProfileReader)->RangeMultiplier(8)->Range(1 << 14, 1 << 20)->Complexity(benchmark::oN);
