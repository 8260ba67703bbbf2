// The log message decoder against a large message file: a generated ERRMSG.XML of about 10 MB
// (5000 Event elements, 8 languages each) and a page of 2000 old-style entries decoded in German.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "msglog/log_msg_decoder.h"
#include "msglog/log_msg_file.h"
#include "xml/xml_document.h"

namespace {

constexpr int kEvents = 5000;
constexpr int kEntries = 2000;
const char* const kLanguages[] = {"ja", "zh", "ko", "fr", "es", "it", "de", "en"};

uint32_t CodeOf(int k) { return static_cast<uint32_t>(((k / 200) + 1) << 8 | (k % 200)); }

// The generated message file in a directory of its own, removed at exit.
class MessageFileFixture {
public:
    MessageFileFixture() {
        std::random_device rd;
        m_dir = std::filesystem::temp_directory_path() / ("em_msg_bench_" + std::to_string(rd()));
        std::filesystem::create_directories(m_dir);
        std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<EventMsg>\n  <LanguageTable>\n"
                          "    <Language locale=\"0x411\" lang=\"ja\"/>\n    <Language locale=\"0x804\" lang=\"zh\"/>\n"
                          "    <Language locale=\"0x412\" lang=\"ko\"/>\n    <Language locale=\"0x40C\" lang=\"fr\"/>\n"
                          "    <Language locale=\"0xC0A\" lang=\"es\"/>\n    <Language locale=\"0x410\" lang=\"it\"/>\n"
                          "    <Language locale=\"0x407\" lang=\"de\"/>\n    <Language locale=\"0x409\" lang=\"en\"/>\n"
                          "  </LanguageTable>\n  <Events>\n";
        char code[16];
        for (int k = 0; k < kEvents; ++k) {
            std::snprintf(code, sizeof(code), "0x%04X", CodeOf(k));
            xml += "    <Event ErrorCode=\"";
            xml += code;
            xml += "\">\n";
            for (const char* lang : kLanguages) {
                xml += "      <Messages lang=\"";
                xml += lang;
                xml += "\">\n        <ShortMsg>Status of ";
                xml += code;
                xml += " changed</ShortMsg>\n        <LongMsg>[";
                xml += lang;
                xml += "] Component %2 in cabinet %1 reported event ";
                xml += code;
                xml += " with value %3 and status register 0x%4; see the manual, section ";
                xml += std::to_string(k % 97);
                xml += ", for the next steps.</LongMsg>\n      </Messages>\n";
            }
            xml += "    </Event>\n";
        }
        xml += "  </Events>\n</EventMsg>\n";
        m_size = xml.size();
        std::ofstream(m_dir / "ERRMSG.XML", std::ios::binary).write(xml.data(), static_cast<std::streamsize>(xml.size()));

        // The page: codes spread over the whole file, half of the entries with a designation.
        std::mt19937 rng(7);
        for (int i = 0; i < kEntries; ++i) {
            const uint32_t c = CodeOf(static_cast<int>(rng() % kEvents));
            std::vector<uint8_t> e = {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8), 0, 3,
                                      1, 2, 3, 4, 1, 0, static_cast<uint8_t>(i % 7), 0};
            for (uint32_t w : {static_cast<uint32_t>(i), 0xBEEF0000u + i})
                for (int b = 0; b < 4; ++b) e.push_back(static_cast<uint8_t>(w >> (8 * b)));
            m_entries.push_back(std::move(e));
        }
    }
    ~MessageFileFixture() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    // A decoder that found the file in the current directory.
    std::unique_ptr<em::CLogMsgDecoder> MakeDecoder() const {
        const std::filesystem::path old = std::filesystem::current_path();
        std::filesystem::current_path(m_dir);
        auto decoder = std::make_unique<em::CLogMsgDecoder>(0);
        std::filesystem::current_path(old);
        return decoder;
    }
    size_t DecodePage(em::CLogMsgDecoder& decoder, const std::u16string& language) const {
        const std::u16string designation = u"FAN 2";
        std::u16string out;
        for (size_t i = 0; i < m_entries.size(); ++i)
            decoder.DecodeEntry(out, m_entries[i], (i % 2) ? &designation : nullptr, &language);
        return out.size();
    }

    size_t Size() const { return m_size; }
    const std::vector<std::vector<uint8_t>>& Entries() const { return m_entries; }

private:
    std::filesystem::path m_dir;
    size_t m_size = 0;
    std::vector<std::vector<uint8_t>> m_entries;
};

const MessageFileFixture& Fixture() {
    static MessageFileFixture fixture;
    return fixture;
}

// Loading and indexing the file, as one request does when it builds its decoder.
void BM_MsgFileLoad10MB(benchmark::State& state) {
    const auto& f = Fixture();
    for (auto _ : state) {
        auto decoder = f.MakeDecoder();
        benchmark::DoNotOptimize(decoder.get());
    }
    state.counters["file_MB"] = static_cast<double>(f.Size()) / 1e6;
}
BENCHMARK(BM_MsgFileLoad10MB)->Unit(benchmark::kMillisecond);

// One whole request: load, language, 2000 entries in German (the error-code index is built by
// the first lookup).
void BM_DecodePage2000German_Request(benchmark::State& state) {
    const auto& f = Fixture();
    size_t chars = 0;
    for (auto _ : state) {
        auto decoder = f.MakeDecoder();
        const std::u16string de = decoder->SetLanguage(0x407);
        chars = f.DecodePage(*decoder, de);
    }
    state.counters["chars"] = static_cast<double>(chars);
}
BENCHMARK(BM_DecodePage2000German_Request)->Unit(benchmark::kMillisecond);

// 2000 entries on a decoder whose index is already built.
void BM_DecodePage2000German_Warm(benchmark::State& state) {
    const auto& f = Fixture();
    auto decoder = f.MakeDecoder();
    const std::u16string de = decoder->SetLanguage(0x407);
    f.DecodePage(*decoder, de);
    for (auto _ : state) benchmark::DoNotOptimize(f.DecodePage(*decoder, de));
}
BENCHMARK(BM_DecodePage2000German_Warm)->Unit(benchmark::kMillisecond);

// For comparison: one lookup by walking the Event elements from the first, as a search without
// the index would (per lookup; the codes of the page in order).
void BM_WalkLookupWithoutIndex(benchmark::State& state) {
    const auto& f = Fixture();
    auto decoder = f.MakeDecoder();
    em::xml::CXmlDocument& doc = decoder->MessageFile().Document();
    size_t i = 0;
    for (auto _ : state) {
        const auto& e = f.Entries()[i++ % f.Entries().size()];
        char16_t code[8];
        const char16_t* hex = u"0123456789ABCDEF";
        code[0] = u'0', code[1] = u'x', code[2] = hex[e[1] >> 4], code[3] = hex[e[1] & 15], code[4] = hex[e[0] >> 4],
        code[5] = hex[e[0] & 15], code[6] = 0;
        doc.ResetPosition();
        doc.FindElement(u"EventMsg"), doc.IntoElement(), doc.FindElement(u"Events"), doc.IntoElement();
        while (doc.FindElement(u"Event") && doc.GetAttribute(u"ErrorCode") != code) {
        }
        benchmark::DoNotOptimize(doc.GetNodeType());
    }
}
BENCHMARK(BM_WalkLookupWithoutIndex)->Unit(benchmark::kMicrosecond);

}  // namespace
