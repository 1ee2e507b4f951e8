// The text alternative of an HTML body: what a reader sees, the same
// however the HTML is cut, and held state bounded over huge inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "mailclient/mime/html_text.h"

using mailclient::HtmlText;

namespace {

// Expected texts are written with "\n"; the converter ends lines with CR LF.
std::string Lines(std::string_view text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

std::string Convert(std::string_view html, std::size_t chunk, bool utf8 = true, unsigned seed = 0) {
  HtmlText converter(utf8);
  std::string text;
  std::mt19937 random(seed);
  for (std::size_t at = 0; at < html.size();) {
    const std::size_t n = seed ? random() % 9 + 1 : chunk;
    converter.Feed(html.substr(at, n), text);
    EXPECT_LE(converter.Held(), HtmlText::kMaxHeld);
    at += n;
  }
  converter.Finish(text);
  return text;
}

std::string Repeat(std::string_view unit, std::size_t times) {
  std::string s;
  for (std::size_t i = 0; i < times; ++i) s += unit;
  return s;
}

struct Case {
  std::string html;
  std::string text;
};

const std::string kLong(1000, 'w');
const std::string kCut = std::string(998, 'w') + "\nww";
const std::string kWords = "aaaaaaaaa bbbbbbbbb ccccccccc ddddddddd eeeeeeeee fffffffff ggggggggg hhhhhhhhh";

const Case kCases[] = {
    // Blocks, blank lines, line breaks
    {"", ""},
    {"<P>One</p><DIV>two</DIV>three<h1>Four</H1>five", "One\n\ntwo\nthree\n\nFour\n\nfive\n"},
    {"  <p>  a \t\n b  </p>\n\n<p></p><p></p><div> </div><p>c</p>  ", "a b\n\nc\n"},
    {"a<br>b<br/><br />c<br><br><br><br>d", "a\nb\n\nc\n\nd\n"},
    {"<section><article>x</article></section><footer>y</footer>", "x\ny\n"},
    {"a&nbsp;&nbsp;b&nbsp;<br>&nbsp;c", "a  b\n c\n"},
    {"<hr>", "----------------------------------------\n"},
    // Lists
    {"<p>Items:</p><ul><li>one<li>two</ul>after",
     "Items:\n\n* one\n* two\n\nafter\n"},
    {"<ol><li>a<ol><li>b</li><li>c</li></ol></li><li>d<ul><li>e</ul></ol>",
     "1. a\n  1. b\n  2. c\n2. d\n  * e\n"},
    {"<ul><li>aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk llll mmmm nnnn oooo pppp</ul>",
     "* aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk llll mmmm nnnn oooo\n  pppp\n"},
    {"<dl><dt>Term<dd>Meaning</dl>", "Term\n  Meaning\n"},
    {"</ul></ol></li>x<li>y", "x\n* y\n"},
    // Tables
    {"<p>Report</p><table><tr><th>Host</th><th>Status</th></tr>"
     "<tr><td> web\n 1 </td><td>up<br>since<p>Monday</td></tr><tr><td></td><td>z</td></table>end",
     "Report\n\nHost | Status\nweb 1 | up since Monday\n| z\n\nend\n"},
    {"<table><tr><td>a</td><td><table><tr><td>b</td><td>c</td></tr></table></td></tr></table>",
     "a |\n\nb | c\n"},
    // Links and images
    {"See <a href=\"https://x.io/r\">the report</a>.", "See the report <https://x.io/r>.\n"},
    {"<a href='https://x.io'>https://x.io</a> <A HREF=mailto:a@b.c>a@b.c</A> <a href=\"#top\">top</a> "
     "<a href=\"javascript:go()\">go</a> <a href=\"\">e</a> <a name=n>n</a>",
     "https://x.io a@b.c top go e n\n"},
    {"<a href=\"/q?a=1&amp;b=2\" title=\"x > y\"><img src=c.png alt=\"the chart\"></a><img src=d.png>",
     "[the chart] </q?a=1&b=2>\n"},
    // Dropped content
    {"<html><head><title>Subject</title><style>p{color:red}</style><meta charset=utf-8></head>"
     "<body><script>if (a<b) document.write('<p>x</p>')</script>Hi<noscript>no</noscript>"
     "<template><p>t</p></template>!</body></html>",
     "Hi!\n"},
    {"a<!-- <p>hidden</p> -->b<!DOCTYPE html>c<?xml version=\"1.0\"?>d<![CDATA[x]]>e<!-->f", "abcdef\n"},
    {"<head><style>x</style><p>No body tag</p>", "No body tag\n"},
    {"a<!-- never closed <p>b", "a\n"},
    {"<SCRIPT>x</scriptx></ScRiPt >y", "y\n"},
    // Preformatted text
    {"<p>Code:</p><pre>  int x;\r\n\tif (x)  \n\n\n    y();</pre>after",
     "Code:\n\n  int x;\n        if (x)\n\n    y();\n\nafter\n"},
    // Entities
    {"&amp;&lt;&gt;&quot;&apos;&eacute;&Omega;&omega;&rarr;&hellip;&euro;&trade;&bull;&mdash;&yuml;&diams;",
     "&<>\"'\xC3\xA9\xCE\xA9\xCF\x89\xE2\x86\x92\xE2\x80\xA6\xE2\x82\xAC\xE2\x84\xA2\xE2\x80\xA2\xE2\x80\x94"
     "\xC3\xBF\xE2\x99\xA6\n"},
    {"&#39;&#x27;&#X41;&#65 &#0;&#xD800;&#x110000;&#150;&#x80;&#x81;", "''AA \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xE2\x80\x93\xE2\x82\xAC\xC2\x81\n"},
    {"co&shy;op &bogus; &amp &#; & x &#x;", "coop &bogus; &amp &#; & x &#x;\n"},
    // Broken HTML
    {"a < b <3 a<=b </ x> c</>", "a < b <3 a<=b c\n"},
    {"<p class=\"a>b\" id='c>d'>text</p><unknown>kept</unknown><b>bold</i>", "text\n\nkeptbold\n"},
    {"text<p unclosed", "text\n"},
    {"<br", ""},
    // Invalid UTF-8 and long lines
    {"a\xFF" "b\xE2\x82" "c\xC3\xA4", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xC3\xA4\n"},
    {"\xEF\xBB\xBF\n<p>Hi\xEF\xBB\xBF", "Hi\xEF\xBB\xBF\n"},
    {"aaaaaaaaa bbbbbbbbb ccccccccc ddddddddd eeeeeeeee fffffffff ggggggggg hhhhhhhhh "
     "\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4 iiiii",
     "aaaaaaaaa bbbbbbbbb ccccccccc ddddddddd eeeeeeeee fffffffff ggggggggg\n"
     "hhhhhhhhh \xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4 iiiii\n"},
    {"x " + kLong + " y", "x\n" + kCut + " y\n"},
    {"<pre>" + kLong + "</pre><table><tr><td>" + kLong + "</td><td>" + kWords + "</td></tr></table>",
     kLong + "\n\n" + kLong + " | " + kWords + "\n"},
    {"<a href=\"https://x.io/" + std::string(HtmlText::kMaxTarget, 'p') + "\">long</a> target", "long target\n"},
    {"<img alt=\"" + Repeat("\xC3\xA4", 1500) + "\">", 
     "[" + Repeat("\xC3\xA4", 499) + "\n" + Repeat("\xC3\xA4", 499) + "\n\xC3\xA4\xC3\xA4]\n"},
    // Quotes
    {"<blockquote><p>quoted</p><p>twice</p></blockquote>after", "> quoted\n>\n> twice\n\nafter\n"},
    {"a<blockquote>b<blockquote>" + kWords + "</blockquote></blockquote>",
     "a\n\n> b\n>\n>> aaaaaaaaa bbbbbbbbb ccccccccc ddddddddd eeeeeeeee fffffffff ggggggggg\n>> hhhhhhhhh\n"},
    // Every group of the entities, at its ends and in its middle
    {"&iexcl;&times;&divide;&OElig;&Yuml;&circ;&ensp;&rlm;&permil;&rsaquo;&fnof;&Alpha;&Rho;&Sigma;&piv;"
     "&bull;&frasl;&weierp;&alefsym;&larr;&hArr;&forall;&sdot;&lceil;&rang;&loz;&spades;&diams;",
     "\xC2\xA1\xC3\x97\xC3\xB7\xC5\x92\xC5\xB8\xCB\x86\xE2\x80\x82\xE2\x80\x8F\xE2\x80\xB0\xE2\x80\xBA"
     "\xC6\x92\xCE\x91\xCE\xA1\xCE\xA3\xCF\x96\xE2\x80\xA2\xE2\x81\x84\xE2\x84\x98\xE2\x84\xB5"
     "\xE2\x86\x90\xE2\x87\x94\xE2\x88\x80\xE2\x8B\x85\xE2\x8C\x88\xE2\x8C\xAA\xE2\x97\x8A"
     "\xE2\x99\xA0\xE2\x99\xA6\n"},
    // Links again: text that is the target once decoded, no closing tag, script end with attributes
    {"<a href=\"https://x.io/?a&amp;b\">https://x.io/?a&amp;b</a> <a href=x.html>more", "https://x.io/?a&b more <x.html>\n"},
    {"<script type=x>a</script foo=\"b\">c<style>p{}</STYLE\n>d", "cd\n"},
};

}  // namespace

TEST(HtmlText, GivesTheTextAReaderExpects) {
  for (const Case& c : kCases) {
    EXPECT_EQ(Convert(c.html, 65536), Lines(c.text)) << c.html;
  }
}

TEST(HtmlText, GivesTheSameTextHoweverTheHtmlIsCut) {
  for (const Case& c : kCases) {
    const std::string whole = Convert(c.html, 65536);
    EXPECT_EQ(Convert(c.html, 1), whole) << c.html;
    for (unsigned seed = 1; seed <= 5; ++seed) EXPECT_EQ(Convert(c.html, 0, true, seed), whole) << c.html;
  }
}

TEST(HtmlText, ConvertsAnsiBytesOneByOne) {
  // The tests run with windows-1252 for the code page (a C or UTF-8 locale
  // elsewhere); Windows gives even its five unused bytes a character.
  EXPECT_EQ(Convert("caf\xE9 <a href=\"/caf\xE9\">\x80</a> &eacute;", 1, false),
            Lines("caf\xC3\xA9 \xE2\x82\xAC </caf\xC3\xA9> \xC3\xA9\n"));
}

// Each document is about 100 MB, made and fed in chunks of 64 KiB; the
// text is checked line by line as it comes and then dropped.
TEST(HtmlText, HoldsBoundedStateOverHugeDocuments) {
  struct Huge {
    const char* name;
    std::string head, unit, tail;
    std::size_t lines;           // besides those the units make
    std::size_t unit_bytes_per_line;  // 0: the units make none
    std::size_t longest;         // bytes
  };
  constexpr std::size_t kUnits = 100u << 20;
  const std::string row = "<tr><td>host-1</td><td>up</td></tr>\n";
  const Huge cases[] = {
      {"table rows", "<table>", row, "</table>", 0, row.size(), 11},
      {"one tag", "a<div ", "x=\"y\" ", ">b", 2, 0, 1},
      {"one attribute", "<a href=\"", "https://x.io/", "\">link</a>", 1, 0, 4},
      {"one word", "", "wwwwwwww", "", 0, HtmlText::kMaxWord, HtmlText::kMaxWord},
      {"unclosed comment", "a<!--", "<p>x</p>", "", 1, 0, 1},
  };
  for (const Huge& c : cases) {
    HtmlText converter;
    std::string text, chunk;
    std::size_t lines = 0, longest = 0, line = 0, units = 0;
    const auto count = [&] {
      for (char ch : text) {
        if (ch == '\n') {
          ++lines;
          longest = std::max(longest, line - 1);
          line = 0;
        } else {
          ++line;
        }
      }
      text.clear();
    };
    converter.Feed(c.head, text);
    for (std::size_t fed = 0; fed < kUnits;) {
      chunk.clear();
      while (chunk.size() + c.unit.size() <= 65536) chunk += c.unit;
      converter.Feed(chunk, text);
      fed += chunk.size();
      units += chunk.size() / c.unit.size();
      ASSERT_LE(converter.Held(), HtmlText::kMaxHeld) << c.name;
      count();
    }
    converter.Feed(c.tail, text);
    converter.Finish(text);
    count();
    const std::size_t per = c.unit_bytes_per_line;
    EXPECT_EQ(lines, c.lines + (per ? (units * c.unit.size() + per - 1) / per : 0)) << c.name;
    EXPECT_EQ(longest, c.longest) << c.name;
  }
}
