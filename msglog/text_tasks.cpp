// The worker-thread tasks for single log messages: message texts that missed the text caches, and
// the raw SEL record behind a cached log entry. Both answer the task's record and hand it up.
#include <string>
#include <vector>

#include "diag/debug.h"
#include "module/sip_record.h"
#include "module/opcodes.h"
#include "module/tarnel_module.h"
#include "msglog/log_msg_decoder.h"

namespace em {

namespace {

using namespace opcode;

constexpr uint8_t kPlatformBios = 1;
constexpr uint8_t kPlatformIpmi = 2;
constexpr uint8_t kPlatformSmbios = 3;

constexpr char16_t kHelpDeskParam[] = u"%HD%";

bool IsListRequest(uint32_t oc) { return oc == kResolutions || oc == kCauses; }

}  // namespace

void CTarnelModule::RunTextTask(CSipRecord& request) {
    const uint32_t oc = request.Value(key::OC);
    const uint32_t oi = request.Value(key::OI);
    const uint32_t oe = request.Value(key::OE);
    uint32_t code = 0;
    if (!request.GetDataUInt(request.Cur(), code)) code = 0;
    // Paragraph requests fetch the whole list, which is what the caches keep.
    uint32_t sent_oc = oc, sent_oi = oi;
    if (oc == kCauseParagraph) sent_oc = kCauses, sent_oi = 0;
    if (oc == kResolutionParagraph) sent_oc = kResolutions, sent_oi = 0;
    EM_TRACE(3, u"\nEM_TARNEL           : request message text for error code 0x%06X langId %d...", code, oe);

    CSipRecord lower(sent_oc, oe, sent_oi, request.Value(key::CA), status::kOk);
    lower.SetDataUInt(lower.CurrentCommand(), code);
    PassDown(lower, kLookupTimeoutMs);

    std::u16string text;
    Paragraphs list;
    if (lower.HasAnswer(0, false)) {
        if (IsListRequest(sent_oc)) {
            if (!lower.GetDataStringList(lower.Cur(), list)) list.clear();
            EM_TRACE(4, u"\nEM_TARNEL           :   %d messages:", static_cast<uint32_t>(list.size()));
            for (size_t i = 0; i < list.size(); ++i)
                EM_TRACE(3, u"\nEM_TARNEL           :     message [%d] = \"%s\"", static_cast<uint32_t>(i), list[i]);
        } else {
            if (!lower.GetDataString(lower.Cur(), text, 0)) text.clear();
            EM_TRACE(3, u"\nEM_TARNEL           :   message = \"%s\"", text);
        }
    }

    const TextKey key{code, static_cast<uint16_t>(oe), 0};
    switch (sent_oc) {
        case kResolutions: {
            if (!list.empty()) {
                const std::u16string param = kHelpDeskParam;
                const std::u16string help_desk = HelpDeskMessage();
                CLogMsgDecoder::ReplaceMultiStringParam(list, &param, &help_desk, 0);
            }
            EM_TRACE(3, u"\nEM_TARNEL           :   put \"resolutions\" message(s) into cache");
            m_textCaches.resolutions.Put(key, list);
            break;
        }
        case kCauses:
            EM_TRACE(3, u"\nEM_TARNEL           :   put \"causes\" message(s) into cache");
            m_textCaches.causes.Put(key, list);
            break;
        case kLongText:
            EM_TRACE(3, u"\nEM_TARNEL           :   put \"long text\" message into cache");
            m_textCaches.longText.Put(key, text);
            break;
        case kSummary:
            EM_TRACE(3, u"\nEM_TARNEL           :   put \"summary\" message into cache");
            m_textCaches.summary.Put(key, text);
            break;
        default:
            break;
    }

    SipValue& command = request.CurrentCommand();
    if (lower.Value(key::ST) == status::kNoResolutions) {
        request.SetStatus(status::kNoResolutions);
        EM_TRACE(1, u"\nEM_TARNEL           : ## INFO: Message log resolutions are not supported on this system!");
    } else if (!text.empty()) {
        request.SetDataString(command, text.c_str());
        request.SetStatus(status::kOk);
        EM_TRACE(4, u"\nEM_TARNEL           :    -> reply simply message");
    } else if (list.empty()) {
        request.SetStatus(status::kNotFound);
        EM_TRACE(3, u"\nEM_TARNEL           :   requested log message(s) not found for this error code");
    } else if (IsListRequest(oc)) {
        request.SetDataStringList(command, list);
        request.SetStatus(status::kOk);
        EM_TRACE(4, u"\nEM_TARNEL           :    -> reply complete multistring message");
    } else if (oi < list.size()) {
        request.SetDataString(command, list[oi].c_str());
        request.SetStatus(status::kOk);
        EM_TRACE(4, u"\nEM_TARNEL           :    -> reply message [%d]", oi);
    } else {
        request.SetStatus(status::kParagraphBeyondEnd);
        EM_TRACE(3, u"\nEM_TARNEL           :    -> paragraph number %d too high (no more message strings)", oi);
    }

    request.SetCFlag(true);
    if (m_pHost) m_pHost->DeliverRecord(this, &request);
}

void CTarnelModule::RunRawSelTask(CSipRecord& request) {
    const uint32_t ca = request.Value(key::CA);
    uint32_t sequence = 0;
    if (!request.GetDataUInt(request.Cur(), sequence)) sequence = 0;
    EM_TRACE(3, u"\nEM_TARNEL           : Searching log item wih sequence number %d for cabinet Id %d...", sequence, ca);

    CMsgLogEntry entry;
    uint32_t sent_oc = 0, sent_da = 0;
    if (!m_msgLogCache.FindEntryBySequence(ca, sequence, entry)) {
        EM_TRACE(3, u"\nEM_TARNEL           : ... log item with sequence number %d for cabinet NOT found", sequence);
    } else {
        EM_TRACE(3, u"\nEM_TARNEL           : ... found log item for sequence number %d for cabinet Id %d: Record ID = %d",
                 sequence, ca, entry.selRecordId);
        const uint32_t mi = request.Value(key::MI);
        if (entry.selRecordId == 0 || entry.selRecordId == CMsgLogEntry::kNoSelRecordId) {
            EM_TRACE(1, u"\nEM_TARNEL           : ## ERROR! Invalid SEL record ID 0x%X!", entry.selRecordId);
        } else if (entry.platformId == kPlatformBios) {
            EM_TRACE(1, u"\nEM_TARNEL           : ## ERROR! Read SEL raw data not supported for BIOS platform (ID %d)!",
                     static_cast<uint32_t>(kPlatformBios));
        } else if (entry.platformId == kPlatformIpmi) {
            EM_TRACE(3,
                     u"\nEM_TARNEL           : Request raw data for IPMI SEL record 0x%x (%d) from MID 0x%04X-0x%04X ",
                     sequence & 0xFFFF, sequence & 0xFFFF, mi >> 16, mi & 0xFFFF);
            sent_oc = kIpmiRawSel;
            sent_da = entry.selRecordId & 0xFFFF;
        } else if (entry.platformId == kPlatformSmbios) {
            EM_TRACE(3,
                     u"\nEM_TARNEL           : Request raw data for SMBIOS SEL record 0x%x (%d) from MID 0x%04X-0x%04X ",
                     sequence, sequence & 0xFFFF, mi >> 16, mi & 0xFFFF);
            sent_oc = kSmbiosRawSel;
            sent_da = entry.selRecordId;
        } else {
            EM_TRACE(1, u"\nEM_TARNEL           : ## ERROR! Invalid platform ID 0x%X!",
                     static_cast<uint32_t>(entry.platformId));
        }
    }

    if (sent_oc == 0) {
        request.SetStatus(status::kNotFound);
    } else {
        CSipRecord lower(sent_oc, 0, 0, ca, status::kOk);
        lower.SetDataUInt(lower.CurrentCommand(), sent_da);
        lower.SetModuleId(entry.moduleId);
        PassDown(lower, kLookupTimeoutMs);
        const uint32_t st = lower.Value(key::ST);
        if (!IsFinalStatus(st)) {
            request.SetStatus(st);
        } else {
            std::vector<uint8_t> bytes;
            if (!lower.GetDataBytes(lower.Cur(), bytes)) bytes.clear();
            request.SetReplyRaw(bytes, status::kOk);
        }
    }
    if (m_pHost) m_pHost->DeliverRecord(this, &request);
}

}  // namespace em
