// Fuzz target: the placeholder scanner and the entry decoder on arbitrary formats and entries.
//
// Input: byte 0 selects the variant (bit 0 unified flag, bit 1 designation, bit 2 packed mode,
// bit 3 language, bit 4 force a code the message file holds); byte 1 the length of the format
// in bytes; then the format (one character per byte, bytes from 0xF8 on become characters
// beyond Latin-1); the rest is both the SEL entry and the argument words.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "diag/debug.h"
#include "module/byte_order.h"
#include "msglog/log_msg_decoder.h"
#include "msglog/log_msg_file.h"

namespace {

const char16_t* kMessages = uR"(<EventMsg>
  <LanguageTable><Language locale="0x407" lang="de"/></LanguageTable>
  <Events>
    <Event ErrorCode="0x0400"><Messages lang="en"><LongMsg>Fan %2 (0x%1) failed %3 $%4 %%</LongMsg></Messages>
      <Messages lang="de"><LongMsg>Lüfter %2 (0x%1) ausgefallen</LongMsg></Messages></Event>
    <Event ErrorCode="0x0401"><Messages lang="en"><LongMsg>10%1 0x12 %1 %17 %99999999999 $%1$%2</LongMsg></Messages></Event>
    <Event ErrorCode="0x0402"><Messages lang="en"><LongMsg>%1|%2|%3|%4|%5</LongMsg></Messages></Event>
    <Event ErrorCode="0x040000"><Messages lang="en"><LongMsg>Fan %1: %2 0x%3 $%4</LongMsg></Messages></Event>
    <Event ErrorCode="0x040001"><Messages lang="en"><LongMsg>%1 %2 %3</LongMsg></Messages></Event>
  </Events>
</EventMsg>)";

void Discard(void*, uint32_t, std::u16string_view) {}

struct Decoders {
    Decoders() : old_style(0), unified(1) {
        old_style.MessageFile().Document().SetDocument(kMessages);
        unified.MessageFile().Document().SetDocument(kMessages);
        // Every trace line is composed, so that the trace arguments are exercised as well.
        em::diag::g_Debug.SetCapture(&Discard, nullptr, 5);
    }
    em::CLogMsgDecoder old_style;
    em::CLogMsgDecoder unified;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Decoders decoders;
    if (size < 2) return 0;
    const uint8_t mode = data[0];
    const size_t format_len = std::min<size_t>(data[1], size - 2);
    const uint8_t* format_bytes = data + 2;
    const uint8_t* rest = format_bytes + format_len;
    const size_t rest_len = size - 2 - format_len;

    std::u16string format;
    for (size_t i = 0; i < format_len; ++i) {
        const uint8_t b = format_bytes[i];
        format.push_back(b >= 0xF8 ? static_cast<char16_t>(0xD800 + (b - 0xF8) * 0x400 + b) : static_cast<char16_t>(b));
    }
    std::vector<uint32_t> args;
    for (size_t i = 0; i + 4 <= rest_len; i += 4)
        args.push_back(em::LoadLe32(rest + i));

    const uint32_t unified = mode & 1;
    const std::u16string designation = u"FAN \"1\"";
    const std::u16string* pdesignation = (mode & 2) ? &designation : nullptr;
    const bool packed = (mode & 4) != 0;
    const std::u16string language = (mode & 8) ? u"de" : u"";

    em::CLogMsgDecoder::FormatSelMessage(format, args, pdesignation, packed, unified);

    std::map<uint32_t, std::u16string> strings = {{1, u"one"}, {2, u""}, {10, u"ten"}};
    em::CLogMsgDecoder::SubstituteStringArgs(format, strings);
    std::vector<std::u16string> paragraphs = {format, u"%HD%", u""};
    const std::u16string param = u"%HD%";
    const std::u16string replacement = (mode & 2) ? u"" : u"555-0100";
    em::CLogMsgDecoder::ReplaceMultiStringParam(paragraphs, &param, &replacement, mode % 4);

    std::vector<uint8_t> entry(rest, rest + rest_len);
    if ((mode & 0x10) && entry.size() >= 2) {
        entry[0] &= 0x03;
        entry[1] = static_cast<uint8_t>((entry[1] & 0xC0) | 0x04);
    }
    em::CLogMsgDecoder& decoder = unified ? decoders.unified : decoders.old_style;
    std::u16string out;
    decoder.DecodeEntry(out, entry, pdesignation, (mode & 0x20) ? nullptr : &language);
    return 0;
}
