#include "host/lib/display.h"

#include <cstdio>
#include <ctime>

#include "host/lib/substitute_host.h"
#include "module/byte_order.h"
#include "platform/codepage.h"

namespace em::host {

std::vector<PageEntry> ParsePage(const std::vector<uint8_t>& b) {
    std::vector<PageEntry> out;
    size_t off = 0;
    while (b.size() - off >= 17) {
        const uint8_t* p = b.data() + off;
        uint32_t len = LoadLe16(p);
        if (len < 17 || len > b.size() - off) break;
        PageEntry e;
        e.entry_class = p[3];
        e.code = LoadLe16(p + 4);
        e.flags = p[6];
        e.time = LoadLe32(p + 8);
        e.sequence = LoadLe32(p + 12);
        const char* text = reinterpret_cast<const char*>(p + 16);
        size_t n = 0;
        while (n < len - 16 && text[n]) ++n;
        e.text.assign(text, n);
        out.push_back(std::move(e));
        off += len;
    }
    return out;
}

std::string FormatTime(uint32_t seconds) {
    if (seconds == 0) return "-";
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return std::to_string(seconds);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

std::string PageTable(const std::vector<PageEntry>& entries) {
    std::string out = "    seq  time (UTC)           class  code    CSS  text\n";
    for (const PageEntry& e : entries) {
        char line[128];
        std::snprintf(line, sizeof line, "  %5u  %-19s  %5u  0x%04X  %-3s  ", e.sequence, FormatTime(e.time).c_str(),
                      e.entry_class, e.code, (e.flags & 1) ? "yes" : "no");
        out += line + e.text + "\n";
    }
    return out;
}

std::string HexDump(const std::vector<uint8_t>& bytes, const std::string& indent) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0) out += (i ? "\n" : "") + indent;
        char b[4];
        std::snprintf(b, sizeof b, "%02X ", bytes[i]);
        out += b;
    }
    return out;
}

std::string DescribeAnswer(const CSipRecord& r) {
    const int32_t n = r.Cur();
    const uint32_t oc = r.Value(key::OC);
    std::string out;
    std::vector<uint8_t> bytes;
    std::vector<std::u16string> texts;
    std::u16string text;
    if (!IsFinalStatus(r.Value(key::ST))) return {};
    if (oc == 0x0B10 && r.GetDataBytes(n, bytes) && !bytes.empty()) {
        auto page = ParsePage(bytes);
        // The cache keeps entries in the order it stored them: a scan stores the unified records,
        // then the error log, then the event log, each sorted by time; events add theirs after
        // them. A page lists the last stored first, so its times need not be in order.
        return std::to_string(page.size()) +
               " entries, last stored first (a scan stores unified records, then the error log, then the event "
               "log, each by time):\n" +
               PageTable(page);
    }
    if ((oc == 0x0B19 || oc == 0xF048) && r.GetDataBytes(n, bytes) && !bytes.empty())
        return std::to_string(bytes.size()) + " raw SEL bytes:\n" + HexDump(bytes, "    ");
    if (r.GetDataStringList(n, texts) && !texts.empty()) {
        for (size_t i = 0; i < texts.size(); ++i)
            out += "    [" + std::to_string(i) + "] " + (texts[i].empty() ? "(empty)" : platform::Utf16ToUtf8(texts[i])) + "\n";
        return out;
    }
    if (r.GetDataString(n, text, 0) && !text.empty()) return "    \"" + platform::Utf16ToUtf8(text) + "\"\n";
    return {};
}

}  // namespace em::host
