// A whole 0x0B10 request: a page of 2000 old-style entries translated into German against a
// generated message file of about 10 MB (5000 Event elements, 8 languages each), and its parts:
// the file load of the request's decoder, the decoding of the page, and the page loop without
// decoding (unified entries served from the long-text cache).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "msglog/log_msg_decoder.h"
#include "platform/sync.h"

namespace {

using namespace em;

constexpr int kEvents = 5000;
constexpr int kEntries = 2000;
constexpr uint32_t kGerman = 0x0407;
const char* const kLanguages[] = {"en", "de", "fr", "it", "es", "ja", "zh", "ko"};
const char* const kLocales[] = {"0x409", "0x407", "0x40C", "0x410", "0xC0A", "0x411", "0x804", "0x412"};

uint32_t CodeOf(int k) { return static_cast<uint32_t>(((k / 200) + 1) << 8 | (k % 200)); }

std::string GenerateMessageFile() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<EventMsg>\n  <LanguageTable>\n";
    for (int i = 0; i < 8; ++i)
        xml += std::string("    <Language locale=\"") + kLocales[i] + "\" lang=\"" + kLanguages[i] + "\"/>\n";
    xml += "  </LanguageTable>\n  <Events>\n";
    char code[16];
    for (int k = 0; k < kEvents; ++k) {
        std::snprintf(code, sizeof code, "0x%04X", CodeOf(k));
        xml += std::string("    <Event ErrorCode=\"") + code + "\">\n";
        for (const char* lang : kLanguages) {
            xml += std::string("      <Messages lang=\"") + lang + "\">\n        <ShortMsg>Status of " + code +
                   " changed</ShortMsg>\n        <LongMsg>[" + lang + "] Component %2 in cabinet %1 reported event " +
                   code + " with value %3 and status register 0x%4; see the manual, section " +
                   std::to_string(k % 97) + ", for the next steps.</LongMsg>\n      </Messages>\n";
        }
        xml += "    </Event>\n";
    }
    xml += "  </Events>\n</EventMsg>\n";
    return xml;
}

const char* kScenario = R"({"modules":[{"id":1,"answers":[
    {"oc":"0x0B18","da":0},{"oc":"0x0B20","da":{"raw":[7,4,9,4]}}]}]})";

host::Scenario ParseScenario() {
    host::Scenario s;
    std::string error;
    host::ParseScenario(kScenario, s, error);
    return s;
}

// The message file in a directory of its own, made the current directory while the benchmarks
// run (the decoder looks there after the executable's directory); a started module whose
// cabinet 0 holds 2000 old-style entries with codes spread over the file, half of them with a
// designation string.
class PageFixture {
public:
    PageFixture() : m_host(ParseScenario()) {
        std::random_device rd;
        m_dir = std::filesystem::temp_directory_path() / ("em_page_bench_" + std::to_string(rd()));
        std::filesystem::create_directories(m_dir);
        const std::string xml = GenerateMessageFile();
        m_fileSize = xml.size();
        std::ofstream(m_dir / "ERRMSG.XML", std::ios::binary).write(xml.data(), static_cast<std::streamsize>(xml.size()));
        m_oldDir = std::filesystem::current_path();
        std::filesystem::current_path(m_dir);

        m_module.Start(&m_host, 0x00FE0001);
        m_module.DetectCabinets();
        m_module.MsgLogCache().WaitCacheReady(0, 60000);  // the scan finds nothing

        std::mt19937 rng(7);
        std::vector<std::unique_ptr<CMsgLogEntry>> entries;
        for (int i = 0; i < kEntries; ++i) {
            const uint32_t c = CodeOf(static_cast<int>(rng() % kEvents));
            auto e = std::make_unique<CMsgLogEntry>();
            e->rawSel = {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8), 0, 3, 1, 2, 3, 4, 1, 0,
                         static_cast<uint8_t>(i % 7), 0};
            for (uint32_t w : {static_cast<uint32_t>(i), 0xBEEF0000u + i})
                for (int b = 0; b < 4; ++b) e->rawSel.push_back(static_cast<uint8_t>(w >> (8 * b)));
            e->errorCode = c;
            e->timestamp = 1000 + i;
            if (i % 2) e->stringArgs[0] = u"FAN " + std::u16string(1, static_cast<char16_t>(u'0' + i % 7));
            m_raw.push_back(e->rawSel);
            entries.push_back(std::move(e));
        }
        m_module.MsgLogCache().StoreEntries(m_module.MsgLogCache().GetCabinet(0), entries);
    }
    ~PageFixture() {
        m_module.Stop();
        std::error_code ec;
        std::filesystem::current_path(m_oldDir, ec);
        std::filesystem::remove_all(m_dir, ec);
    }

    CTarnelModule& Module() { return m_module; }
    size_t FileSize() const { return m_fileSize; }
    const std::vector<std::vector<uint8_t>>& Raw() const { return m_raw; }

private:
    host::SubstituteHost m_host;
    CTarnelModule m_module;
    std::filesystem::path m_dir, m_oldDir;
    size_t m_fileSize = 0;
    std::vector<std::vector<uint8_t>> m_raw;
};

PageFixture& Fixture() {
    static PageFixture fixture;
    return fixture;
}

// The whole request through OnRequest: language check, cache wait (already ready), decoder with
// its file load, 2000 entries decoded and appended as records, the DA built.
void BM_PageRequestGerman(benchmark::State& state) {
    PageFixture& f = Fixture();
    size_t bytes = 0;
    for (auto _ : state) {
        CSipRecord r(0x0B10, kGerman, 0, 0, kNoStatus);
        f.Module().OnRequest(&r);
        bytes = r.GetDataLength(0);
        if (r.Value(key::ST) != 0 || bytes == 0) state.SkipWithError("no page");
    }
    state.counters["page_KB"] = static_cast<double>(bytes) / 1024.0;
    state.counters["file_MB"] = static_cast<double>(f.FileSize()) / 1e6;
}
BENCHMARK(BM_PageRequestGerman)->Unit(benchmark::kMillisecond);

// The load: the decoder the request builds: the message file found, read and indexed; the
// language set.
void BM_PageLoadOnly(benchmark::State& state) {
    Fixture();
    for (auto _ : state) {
        CLogMsgDecoder decoder(0);
        benchmark::DoNotOptimize(decoder.SetLanguage(kGerman));
    }
}
BENCHMARK(BM_PageLoadOnly)->Unit(benchmark::kMillisecond);

// The decoding: the 2000 entries of the page with a loaded decoder.
void BM_PageDecodeOnly(benchmark::State& state) {
    PageFixture& f = Fixture();
    CLogMsgDecoder decoder(0);
    const std::u16string language = decoder.SetLanguage(kGerman);
    const std::u16string designation = u"FAN 3";
    for (auto _ : state) {
        std::u16string text;
        size_t total = 0;
        for (size_t i = 0; i < f.Raw().size(); ++i) {
            text.clear();
            decoder.DecodeEntry(text, f.Raw()[i], (i % 2) ? &designation : nullptr, &language);
            total += text.size();
        }
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_PageDecodeOnly)->Unit(benchmark::kMillisecond);

// The page loop without the decoder's work: 2000 unified entries whose text comes from the
// long-text cache (the request still builds its decoder, so the load is included here too).
void BM_PageRequestUnifiedCached(benchmark::State& state) {
    host::SubstituteHost host(ParseScenario());
    CTarnelModule m;
    m.Attach(&host, 0x00FE0001);
    m.MsgLogCache().InitCabinet(0);
    m.MsgLogCache().SetCacheReady(0, true);
    std::vector<std::unique_ptr<CMsgLogEntry>> entries;
    for (int i = 0; i < kEntries; ++i) {
        auto e = std::make_unique<CMsgLogEntry>();
        e->oldStyle = 0;
        e->errorCode = 0x100000u + (i % 50);
        e->stringArgs[1] = u"Board " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26));
        m.TextCaches().longText.Put({e->errorCode, 0, 0},
                                    u"Component %1 reported an event with a long explanation of what happened next");
        entries.push_back(std::move(e));
    }
    m.MsgLogCache().StoreEntries(m.MsgLogCache().GetCabinet(0), entries);
    Fixture();  // the same current directory and message file
    for (auto _ : state) {
        CSipRecord r(0x0B10, 0, 0, 0, kNoStatus);
        m.OnRequest(&r);
        if (r.Value(key::ST) != 0) state.SkipWithError("no page");
    }
}
BENCHMARK(BM_PageRequestUnifiedCached)->Unit(benchmark::kMillisecond);

}  // namespace
