// Records what the Windows multibyte-to-wide conversion (no flags) gives for the conversion test's
// inputs, one file per code page of the reader's character-set table: tests/data/codepage/cp<N>.txt.
//
// Build and run (cross compiler, run on Windows or under a Windows runtime):
//   x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -I. -static -o cp_expect_gen.exe scripts/codepage/cp_expect_gen.cpp
//   cp_expect_gen.exe tests/data/codepage
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "tests/cp_corpus.h"

namespace {

const char16_t* const kCharsetTable[] = {
#include "xml/charset_table.inc"
};

// Every code page named in the character-set table (entries "LLCCCCCname").
std::set<uint32_t> CodePages() {
    std::set<uint32_t> pages;
    for (const char16_t* bucket : kCharsetTable) {
        std::u16string rest(bucket);
        while (rest.size() >= 7) {
            size_t len = (rest[0] - u'0') * 10 + (rest[1] - u'0');
            uint32_t cp = 0;
            for (int i = 2; i < 7; ++i) cp = cp * 10 + (rest[i] - u'0');
            pages.insert(cp);
            rest.erase(0, 7 + len);
        }
    }
    return pages;
}

bool Convert(uint32_t cp, const std::string& bytes, std::u16string& out) {
    out.clear();
    int n = MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return GetLastError() == ERROR_SUCCESS;
    std::vector<wchar_t> buf(static_cast<size_t>(n));
    n = MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), buf.data(), n);
    out.assign(buf.begin(), buf.begin() + n);
    return true;
}

bool NextOf(const std::u16string& prev, const std::u16string& cur) {
    return !prev.empty() && prev.size() == cur.size() && prev.compare(0, prev.size() - 1, cur, 0, cur.size() - 1) == 0 &&
           static_cast<char16_t>(prev.back() + 1) == cur.back();
}

std::string Encode(const std::vector<std::u16string>& results) {
    std::string text;
    for (size_t i = 0; i < results.size();) {
        text += cp_corpus::Hex(results[i]);
        text += '\n';
        size_t j = i + 1;
        while (j < results.size() && results[j] == results[i]) ++j;
        if (j - i > 1) {
            text += "=" + std::to_string(j - i - 1) + "\n";
        } else {
            while (j < results.size() && NextOf(results[j - 1], results[j])) ++j;
            if (j - i > 1) text += "+" + std::to_string(j - i - 1) + "\n";
        }
        i = j;
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: cp_expect_gen <folder>\n");
        return 2;
    }
    int with_table = 0, without = 0;
    for (uint32_t cp : CodePages()) {
        std::string header = "cp " + std::to_string(cp);
        std::string body;
        std::u16string probe;
        SetLastError(ERROR_SUCCESS);
        if (!Convert(cp, "A", probe) || probe.size() != 1) {
            header += " none\n";
            ++without;
        } else {
            const auto inputs = cp_corpus::Inputs(cp);
            std::vector<std::u16string> results(inputs.size());
            for (size_t i = 0; i < inputs.size(); ++i) {
                SetLastError(ERROR_SUCCESS);
                if (!Convert(cp, inputs[i], results[i])) {
                    std::fprintf(stderr, "cp %u: input %zu fails (error %lu)\n", cp, i, GetLastError());
                    return 1;
                }
            }
            header += " table " + std::to_string(inputs.size()) + "\n";
            body = Encode(results);
            ++with_table;
        }
        std::string path = std::string(argv[1]) + "/cp" + std::to_string(cp) + ".txt";
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::fwrite(header.data(), 1, header.size(), f);
        std::fwrite(body.data(), 1, body.size(), f);
        std::fclose(f);
    }
    std::printf("%d code pages with a table, %d without\n", with_table, without);
    return 0;
}
