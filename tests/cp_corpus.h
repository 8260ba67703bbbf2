// The byte inputs each code page is converted over, and the text form of the expected results; shared
// with scripts/codepage/cp_expect_gen.cpp, which records the Windows conversion's results for them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace cp_corpus {

// Code pages in which a byte from 0x80 up may start a sequence of two or more bytes, and those that
// switch state inside 7-bit text (escape sequences, shift bytes, base64 runs).
inline constexpr uint32_t kMultiByte[] = {932,   936,   949,   950,   1361,  20261, 20269, 20932,
                                          20936, 51932, 51936, 51949, 51950, 54936, 65001};
inline constexpr uint32_t kStateful[] = {50220, 50221, 50222, 50225, 50227, 50229, 52936, 65000};

// Sequences every code page meets: message-text markup, and the valid, truncated and invalid forms
// of the multibyte encodings (UTF-8, UTF-7, ISO-2022, EUC, GB 18030, double-byte pairs).
inline const char* const kSequences[] = {
    "%1 %2!s! %%", "<Event Id=\"1\">\r\n\t&amp;</Event>",
    "a\xCC", "A\xEC" "A", "\xC1" "a", "\xC8" "e", "\xCA" " ", "e\xD2\xEC",
    "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xED\xA0\x80", "\xED\xB0\x80" "A", "\xC0\x80",
    "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xF0\x80\x80\x80", "\xF4\x90\x80\x80", "\xE2\x82",
    "\xE2\x82" "A", "\xF0\x9F\x98", "\xF0\x9F\x98" "A", "\xF8\x88\x80\x80\x80", "\xFC\x84\x80\x80\x80\x80",
    "\xFE\xFF", "\xEF\xBB\xBF" "A", "\x80\x80" "A", "\xC3\xA9\xA9",
    "+AGEA-", "+AGEAYQ-x", "+-", "+", "+A", "+AG", "+AGE", "+AGEx", "a+ZZZ-b", "+2D3cAA-", "+2D0-",
    "+3AA-", "+AGE.", "+\x80-", "+AGE\xC3\xA9", "~",
    "\x1B$B%U%!\x1B(B" "A", "\x1B$B%U", "\x1B$B%", "\x1B$", "\x1B", "\x1B(J\\~", "\x1B(I1", "\x1B$(D\"/",
    "\x1B$)C\x0E!!\x0F" "A", "\x0E", "A\x0E", "\x0E" "A", "\x0F", "\x1B$)A\x0E!!\x0F", "\x1B$)G\x0E!!",
    "\x1B$*H\x1BN!!", "\x1B$+I\x1BO!!", "~{!!~}A", "~{", "~{!", "~~", "~\n",
    "\x8F\xA2\xAF", "\x8F\xA2", "\x8F", "\x8E\xA2\xA1\xA1", "\x8E\xA2\xA1", "\x8E\xA1", "\x8E\xE0",
    "\x81\x30\x81\x30", "\x81\x30\x81", "\x81\x30", "\x81\x30\x81\x30" "A", "\x84\x31\xA4\x39",
    "\x90\x30\x81\x30", "\xE3\x32\x9A\x35", "\xFE\x39\xFE\x39",
    "\xA2\xE8", "\xA2\xE8" "AB", "A\xA2\xE8", "\x81\x20" "A", "\x83\x40\x83", "\x82\xA0\x82" "A",
    "\x81\x7F\x81", "\xA4\x40\xA4", "\xF9\xFE\xC6\xA1", "\xD9\x41\x5C", "\x88\x61\xD3\xFE\x41",
};

// Prefixes after which the multibyte and stateful code pages meet every byte (and the prefix alone:
// a sequence cut short).
inline const char* const kPrefixes[] = {
    "\x1B", "\x1B$", "\x1B$B", "\x1B(", "\x1B$)C\x0E", "\x1B$)A\x0E", "\x1B$*H\x1BN", "\x0E", "+", "+A",
    "+AG", "~{", "~{!", "\x8F", "\x8F\xA2", "\x8E", "\x8E\xA2", "\x8E\xA2\xA1", "\x81\x30", "\x81\x30\x81",
    "\xE0", "\xE2\x82", "\xED", "\xF0", "\xF0\x9F\x98", "\xF4",
};

// The inputs of one code page, in order: every single byte, the sequences above, then for the
// multibyte pages every lead byte from 0x80 up with every trail byte, and for the multibyte and
// stateful pages every prefix alone and followed by every byte.
inline std::vector<std::string> Inputs(uint32_t cp) {
    const bool multibyte = std::ranges::find(kMultiByte, cp) != std::end(kMultiByte);
    std::vector<std::string> in;
    for (int b = 0; b < 256; ++b) in.emplace_back(1, static_cast<char>(b));
    for (const char* s : kSequences) in.emplace_back(s);
    if (multibyte)
        for (int lead = 0x80; lead < 0x100; ++lead)
            for (int trail = 0; trail < 0x100; ++trail) in.push_back({static_cast<char>(lead), static_cast<char>(trail)});
    if (multibyte || std::ranges::find(kStateful, cp) != std::end(kStateful)) {
        for (const char* p : kPrefixes) {
            in.emplace_back(p);
            for (int b = 0; b < 256; ++b) in.push_back(p + std::string(1, static_cast<char>(b)));
        }
    }
    return in;
}

// Text form of a result table, one line per input in order:
//   "30FB0041"  the UTF-16 units of one result, four hex digits each ("." for an empty result);
//   "+N"        N further inputs, each giving the previous result with its last unit one higher;
//   "=N"        N further inputs, each giving the previous result again.
// A file starts with the line "cp <code page> table <inputs>", or "cp <code page> none" when the
// Windows conversion has no table for the code page (no lines follow).
inline std::string Hex(const std::u16string& s) {
    if (s.empty()) return ".";
    static const char digits[] = "0123456789ABCDEF";
    std::string h;
    for (char16_t c : s)
        for (int shift = 12; shift >= 0; shift -= 4) h.push_back(digits[(c >> shift) & 15]);
    return h;
}

// Reads a result table back; false on a malformed line.
inline bool Decode(const std::string& text, std::vector<std::u16string>& results) {
    results.clear();
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || (line.size() % 4 && line != "." && line[0] != '+' && line[0] != '=')) return false;
        if (line[0] == '+' || line[0] == '=') {
            if (results.empty() || (line[0] == '+' && results.back().empty())) return false;
            for (unsigned long k = std::stoul(line.substr(1)); k > 0; --k) {
                results.push_back(results.back());
                if (line[0] == '+') ++results.back().back();
            }
            continue;
        }
        std::u16string& units = results.emplace_back();
        for (size_t i = 0; line != "." && i < line.size(); i += 4)
            units.push_back(static_cast<char16_t>(std::stoul(line.substr(i, 4), nullptr, 16)));
    }
    return true;
}

}  // namespace cp_corpus
