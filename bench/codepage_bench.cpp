// Code-page conversion of a message-file-sized text (about 10 MB) to UTF-16.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/codepage.h"

namespace {

constexpr size_t kSize = 10u << 20;

// Message-file lines in windows-1252 (Latin letters with accents) or Shift_JIS (kana and kanji
// between ASCII markup), repeated to about 10 MB.
std::string MakeText(uint32_t cp) {
    const char* line =
        cp == 932 ? "  <Event Id=\"0x%1\"><LongMsg>\x83\x4C\x83\x83\x83\x72\x83\x6C\x83\x62\x83\x67 %2 \x82\xCC"
                    "\x83\x74\x83\x40\x83\x93 %1 \x82\xAA\x8C\xCC\x8F\xE1\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42"
                    "</LongMsg></Event>\r\n"
                  : "  <Event Id=\"0x%1\"><LongMsg>L\xFC" "fter %1 im Schrank %2 ist ausgefallen. Le ventilateur "
                    "de l'armoire est en panne, v\xE9rifiez le flux d'air \x96 \x80 %3.</LongMsg></Event>\r\n";
    std::string text;
    text.reserve(kSize + 256);
    while (text.size() < kSize) text += line;
    return text;
}

void BM_CodePageToUtf16(benchmark::State& state) {
    const auto cp = static_cast<uint32_t>(state.range(0));
    const std::string text = MakeText(cp);
    std::u16string out;
    for (auto _ : state) {
        em::platform::MultiByteToWide(cp, text, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CodePageToUtf16)->Arg(1252)->Arg(932)->Unit(benchmark::kMillisecond);

}  // namespace
