// XML reader: loading message-file-shaped documents of about 10 MB and looking messages up.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "xml/xml_document.h"

#ifdef EM_HAVE_PUGIXML
#include <pugixml.hpp>
#endif

namespace {

using em::xml::CXmlDocument;

constexpr int kEvents = 5300;  // about 10 MB
const char* const kLangs[] = {"en", "de", "fr", "ja", "es"};

// UTF-8 message file: EventMsg / LanguageTable / Events / Event* / Messages* / LongMsg, ShortMsg.
std::string MakeMessageFile() {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<EventMsg>\r\n <LanguageTable>\r\n";
    const char* const locales[] = {"0x409", "0x407", "0x40C", "0x411", "0x40A"};
    for (int l = 0; l < 5; ++l)
        s += std::string("  <Language locale=\"") + locales[l] + "\" lang=\"" + kLangs[l] + "\"/>\r\n";
    s += " </LanguageTable>\r\n <Events>\r\n";
    const char* const texts[] = {
        "The fan %1 in cabinet %2 failed. Replace the fan &amp; check the air flow &lt;sensor %3&gt;.",
        "L\xC3\xBC" "fter %1 im Schrank %2 ist ausgefallen. Tauschen Sie den L\xC3\xBC" "fter aus und pr\xC3\xBC" "fen Sie den Luftstrom.",
        "Le ventilateur %1 de l'armoire %2 est en panne. Remplacez le ventilateur et v\xC3\xA9rifiez le flux d'air.",
        "\xE3\x82\xAD\xE3\x83\xA3\xE3\x83\x93\xE3\x83\x8D\xE3\x83\x83\xE3\x83\x88 %2 \xE3\x81\xAE\xE3\x83\x95\xE3\x82\xA1\xE3\x83\xB3 %1 \xE3\x81\x8C\xE6\x95\x85\xE9\x9A\x9C\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F\xE3\x80\x82",
        "El ventilador %1 del armario %2 ha fallado. Sustituya el ventilador y compruebe el flujo de aire.",
    };
    char code[16];
    for (int e = 0; e < kEvents; ++e) {
        std::snprintf(code, sizeof(code), "0x%04X", e * 3 + 0x100);
        s += std::string("  <Event ErrorCode=\"") + code + "\" Severity=\"" + std::to_string(e % 4) + "\">\r\n";
        for (int l = 0; l < 5; ++l) {
            s += std::string("   <Messages lang=\"") + kLangs[l] + "\">\r\n";
            std::string short_text = std::string(texts[l]).substr(0, 40);
            while (!short_text.empty() && (static_cast<unsigned char>(short_text.back()) & 0xC0) == 0x80)
                short_text.pop_back();  // back to the start of the cut character
            if (!short_text.empty() && static_cast<unsigned char>(short_text.back()) >= 0xC0) short_text.pop_back();
            s += std::string("    <ShortMsg>") + code + " " + short_text + "</ShortMsg>\r\n";
            s += std::string("    <LongMsg>") + texts[l] + " (" + code + ")</LongMsg>\r\n";
            s += std::string("    <LongMsg><![CDATA[") + texts[l] + "]]></LongMsg>\r\n";
            s += "   </Messages>\r\n";
        }
        s += "  </Event>\r\n";
    }
    s += " </Events>\r\n</EventMsg>\r\n";
    return s;
}

// The shape of a real message file: twelve languages, short texts, a few more small elements per
// message (many small elements, few bytes each), LF line ends.
std::string MakeShortTextFile() {
    const char* const langs[] = {"en", "de", "fr", "it", "es", "pt", "nl", "pl", "ru", "ja", "zh", "ko"};
    const char* const texts[] = {
        "Fan %1 failed",
        "L\xC3\xBC" "fter %1 ausgefallen",
        "Ventilateur %1 en panne",
        "Ventola %1 guasta",
        "Ventilador %1 averiado",
        "Ventoinha %1 avariada",
        "Ventilator %1 defect",
        "Wentylator %1 uszkodzony",
        "\xD0\x92\xD0\xB5\xD0\xBD\xD1\x82\xD0\xB8\xD0\xBB\xD1\x8F\xD1\x82\xD0\xBE\xD1\x80 %1",
        "\xE3\x83\x95\xE3\x82\xA1\xE3\x83\xB3 %1 \xE6\x95\x85\xE9\x9A\x9C",
        "\xE9\xA3\x8E\xE6\x89\x87 %1 \xE6\x95\x85\xE9\x9A\x9C",
        "\xED\x8C\xAC %1 \xEA\xB3\xA0\xEC\x9E\xA5",
    };
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<EventMsg>\n <LanguageTable>\n";
    for (const char* lang : langs) s += std::string("  <Language lang=\"") + lang + "\"/>\n";
    s += " </LanguageTable>\n <Events>\n";
    char code[16];
    for (int e = 0; s.size() < 10000000; ++e) {
        std::snprintf(code, sizeof(code), "0x%04X", e + 0x100);
        s += std::string("  <Event ErrorCode=\"") + code + "\" Severity=\"" + std::to_string(e % 4) + "\">\n";
        for (int l = 0; l < 12; ++l) {
            s += std::string("   <Messages lang=\"") + langs[l] + "\">\n";
            s += std::string("    <ShortMsg>") + texts[l] + "</ShortMsg>\n";
            s += std::string("    <LongMsg>") + texts[l] + " (" + code + ")</LongMsg>\n";
            s += std::string("    <Cause>") + (e % 3 ? "Wear" : "Dust") + "</Cause>\n";
            s += std::string("    <Resolution>") + texts[l] + "</Resolution>\n";
            s += "   </Messages>\n";
        }
        s += "  </Event>\n";
    }
    s += " </Events>\n</EventMsg>\n";
    return s;
}

std::string WriteTempFile(const char* name, const std::string& data) {
    std::string p = (std::filesystem::temp_directory_path() / name).string();
    if (std::FILE* f = std::fopen(p.c_str(), "wb")) {
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
    return p;
}

const std::string& MessageFilePath() {
    static const std::string path = WriteTempFile("em_xml_bench_messages.xml", MakeMessageFile());
    return path;
}

const std::string& ShortTextFilePath() {
    static const std::string path = WriteTempFile("em_xml_bench_short_texts.xml", MakeShortTextFile());
    return path;
}

// Document 0: the benchmark document; 1: many small elements.
const std::string& DocumentPath(int64_t which) { return which == 0 ? MessageFilePath() : ShortTextFilePath(); }

size_t FileSize() { return std::filesystem::file_size(MessageFilePath()); }

// What no loader can go below: the file read from the page cache into a new buffer the way
// LoadFile reads it, and one pass over its bytes.
size_t ReadAndTouch(const std::u16string& path) {
    em::platform::File file;
    uint64_t size = 0;
    if (!file.Open(path, em::platform::File::Mode::Read) || !file.Size(&size)) return 0;
    std::unique_ptr<char[]> bytes(new char[size]);
    size_t got = 0;
    while (got < size) {
        const size_t r = file.Read(bytes.get() + got, size - got);
        if (r == 0) break;
        got += r;
    }
    uint64_t sum = 0;  // eight bytes at a time
    for (size_t i = 0; i + 8 <= got; i += 8) {
        uint64_t w;
        std::memcpy(&w, bytes.get() + i, 8);
        sum ^= w;
    }
    return static_cast<size_t>(sum);
}

void BM_XmlLoadFile(benchmark::State& state) {
    const std::u16string path = em::platform::Utf8ToUtf16(MessageFilePath());
    for (auto _ : state) {
        CXmlDocument doc;
        bool ok = doc.LoadFile(path);
        if (!ok) state.SkipWithError("LoadFile failed");
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize()));
}
BENCHMARK(BM_XmlLoadFile)->Unit(benchmark::kMillisecond);

// The message file lookup: event by code, messages by language, the first LongMsg.
std::u16string FindMessage(CXmlDocument& doc, std::u16string_view code, std::u16string_view lang) {
    std::u16string text;
    doc.ResetPosition();
    if (doc.FindElement(u"EventMsg") && doc.IntoElement()) {
        if (doc.FindElement(u"Events") && doc.IntoElement()) {
            bool found = false;
            while (!found && doc.FindElement(u"Event")) found = doc.GetAttribute(u"ErrorCode") == code;
            if (found && doc.IntoElement()) {
                found = false;
                while (!found && doc.FindElement(u"Messages")) found = doc.GetAttribute(u"lang") == lang;
                if (found && doc.IntoElement()) {
                    if (doc.FindElement(u"LongMsg")) text = doc.GetData();
                    doc.OutOfElement();
                }
                doc.OutOfElement();
            }
            doc.OutOfElement();
        }
        doc.OutOfElement();
    }
    return text;
}

void BM_XmlFindMessage(benchmark::State& state) {
    CXmlDocument doc;
    doc.LoadFile(em::platform::Utf8ToUtf16(MessageFilePath()));
    std::mt19937 rng(1);
    char code[16];
    for (auto _ : state) {
        std::snprintf(code, sizeof(code), "0x%04X", static_cast<int>(rng() % kEvents) * 3 + 0x100);
        std::u16string text = FindMessage(doc, em::platform::Utf8ToUtf16(code), u"ja");
        if (text.empty()) state.SkipWithError("message not found");
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_XmlFindMessage)->Unit(benchmark::kMicrosecond);

#ifdef EM_HAVE_PUGIXML
void BM_PugiLoadFile(benchmark::State& state) {
    for (auto _ : state) {
        pugi::xml_document doc;
        if (!doc.load_file(MessageFilePath().c_str())) state.SkipWithError("load_file failed");
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize()));
}
BENCHMARK(BM_PugiLoadFile)->Unit(benchmark::kMillisecond);

// Both loaders in the same iterations, alternating, with the floor (ReadAndTouch) beside them:
// ratio = ours / pugixml, best of each, by wall clock and by processor time (std::clock: this
// process only, so other load on the machine counts less). Argument: the document (see
// DocumentPath).
void BM_XmlLoadFileVsPugi(benchmark::State& state) {
    const std::string& path = DocumentPath(state.range(0));
    const std::u16string path16 = em::platform::Utf8ToUtf16(path);
    using Clock = std::chrono::steady_clock;
    double ours = 1e30, pugi = 1e30, floor = 1e30, ours_cpu = 1e30, pugi_cpu = 1e30;
    auto cpu_ms = [](std::clock_t a, std::clock_t b) { return 1000.0 * static_cast<double>(b - a) / CLOCKS_PER_SEC; };
    auto wall_ms = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    for (auto _ : state) {
        auto t0 = Clock::now();
        std::clock_t c0 = std::clock();
        {
            CXmlDocument doc;
            doc.LoadFile(path16);
            benchmark::DoNotOptimize(doc);
        }
        auto t1 = Clock::now();
        std::clock_t c1 = std::clock();
        {
            pugi::xml_document doc;
            doc.load_file(path.c_str());
            benchmark::DoNotOptimize(doc);
        }
        auto t2 = Clock::now();
        std::clock_t c2 = std::clock();
        benchmark::DoNotOptimize(ReadAndTouch(path16));
        auto t3 = Clock::now();
        ours = std::min(ours, wall_ms(t0, t1));
        pugi = std::min(pugi, wall_ms(t1, t2));
        floor = std::min(floor, wall_ms(t2, t3));
        ours_cpu = std::min(ours_cpu, cpu_ms(c0, c1));
        pugi_cpu = std::min(pugi_cpu, cpu_ms(c1, c2));
    }
    const double mb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    state.counters["ours_ms"] = ours;
    state.counters["pugi_ms"] = pugi;
    state.counters["floor_ms"] = floor;
    state.counters["ratio"] = ours / pugi;
    state.counters["ours_cpu_ms"] = ours_cpu;
    state.counters["pugi_cpu_ms"] = pugi_cpu;
    state.counters["ratio_cpu"] = ours_cpu / pugi_cpu;
    state.counters["ours_MBps"] = mb / (ours / 1000.0);
    state.counters["pugi_MBps"] = mb / (pugi / 1000.0);
}
BENCHMARK(BM_XmlLoadFileVsPugi)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(60);
#endif

}  // namespace
