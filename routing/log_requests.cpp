// The module's own message log opcodes: answered from the message log cache and the text caches,
// by asking the server's cabinet, or later by a task on the worker thread.
#include <string>
#include <vector>

#include "diag/debug.h"
#include "module/sip_record.h"
#include "module/opcodes.h"
#include "module/tarnel_module.h"

namespace em {

namespace {

using namespace opcode;

constexpr uint32_t kLanguagesTimeoutMs = 10000;

void TraceWaitLine() { EM_TRACE(3, u"\nEM_TARNEL           : Wait until message log cache is ready ..."); }

// A request the task queue refused (full, or closed by Stop) would never be delivered: it is
// answered at once as not available now, like a cache that is not ready.
void AnswerRefusedTask(CSipRecord& r) {
    EM_TRACE(1, u"\nEM_TARNEL           : ## ERROR! Task queue refused the request (queue full or module stopped) - "
                u"answered as not available now");
    r.SetStatus(status::kTimeout);
}

// Answers a message text request from the text caches; false when the caches do not know the
// code in that language.
bool AnswerFromTextCache(CTextCaches& caches, CSipRecord& r, uint32_t oc, uint32_t code, uint32_t oe) {
    const TextKey key{code, static_cast<uint16_t>(oe), 0};
    const uint32_t oi = r.Value(key::OI);
    std::u16string text;
    Paragraphs list;
    bool found = false;
    switch (oc) {
        case kResolutions:
            EM_TRACE(3, u"\nEM_TARNEL           :   find resolution message(s) in cache...");
            found = caches.resolutions.Get(key, list);
            break;
        case kCauses:
            EM_TRACE(3, u"\nEM_TARNEL           :   find cause message(s) in cache...");
            found = caches.causes.Get(key, list);
            break;
        case kLongText:
            EM_TRACE(3, u"\nEM_TARNEL           :   find long message in cache...");
            found = caches.longText.Get(key, text);
            break;
        case kSummary:
            EM_TRACE(3, u"\nEM_TARNEL           :   find summary message in cache...");
            found = caches.summary.Get(key, text);
            break;
        case kCauseParagraph:
            EM_TRACE(3, u"\nEM_TARNEL           :   find cause message(s) in cache, get paragraph #%d...", oi);
            found = caches.causes.Get(key, list);
            if (found && oi < list.size()) text = list[oi];
            list.clear();
            break;
        case kResolutionParagraph:
            found = caches.resolutions.Get(key, list);
            EM_TRACE(3, u"\nEM_TARNEL           :   find resolution message(s) in cache, get paragraph #%d...", oi);
            if (found && oi < list.size()) text = list[oi];
            list.clear();
            break;
        default:
            break;
    }
    if (!found) return false;

    SipValue& command = r.CurrentCommand();
    if (!text.empty()) {
        r.SetDataString(command, text.c_str());
        r.SetStatus(status::kOk);
        EM_TRACE(3, u"\nEM_TARNEL           :     message = \"%s\"", text);
    } else if (!list.empty()) {
        r.SetDataStringList(command, list);
        r.SetStatus(status::kOk);
        for (size_t i = 0; i < list.size(); ++i)
            EM_TRACE(3, u"\nEM_TARNEL           :     message[%d] = \"%s\"", static_cast<uint32_t>(i), list[i]);
    } else {
        r.SetStatus(status::kNotFound);
        EM_TRACE(3, u"\nEM_TARNEL           :   requested message text(s) not found");
    }
    return true;
}

}  // namespace

bool CTarnelModule::HandleLogRequest(CSipRecord& r) {
    const uint32_t oc = r.Value(key::OC);
    const uint32_t ca = r.Value(key::CA);

    // Waits for the cabinet's cache without holding any lock; false (ST 15) on time-out or for a
    // cabinet the cache table does not know.
    auto wait_for_cache = [&]() {
        if (!m_msgLogCache.WaitCacheReady(ca, CacheWaitMs())) {
            EM_TRACE(1, u"\nEM_TARNEL           : ERROR! Timeout (120 sec) waiting for message log cache");
            r.SetStatus(status::kTimeout);
            return false;
        }
        EM_TRACE(3, u"\nEM_TARNEL           : ... message log cache is ready!");
        return true;
    };

    switch (oc) {
        case kLogMessageRaw:
            if (r.HasData(r.Cur(), 0, false)) {
                if (InsertTask(r, 0, nullptr)) r.SetStatus(status::kPending);
                else AnswerRefusedTask(r);
            } else {
                EM_TRACE(1, u"\nEM_TARNEL           : ERROR! CM_LogMessageRaw - invalid request arguemnts!");
                r.SetStatus(status::kInvalidArguments);
            }
            return true;

        case kMsgLogAvailable: {
            const bool available = MsgLogAvailable();
            r.SetReplyUInt(available ? 1 : 0, status::kOk);
            EM_TRACE(2, u"\nEM_TARNEL           : Message Log %savailable!", available ? u"" : u"not ");
            return true;
        }

        case kCacheEntries:
            TraceWaitLine();
            if (!IsLanguageSupported(r.Value(key::OE) & 0xFFFF)) {
                EM_TRACE(1, u"\nEM_TARNEL           : Language ID 0x%X not supported!", r.Value(key::OE) & 0xFFFF);
                r.SetStatus(status::kNotFound);
            } else if (wait_for_cache() && !GetMsgLogCacheEntries(r)) {
                EM_TRACE(1, u"\nEM_TARNEL           : Empty log cache");
                r.ClearData(status::kOk);
            }
            return true;

        case kLastSequenceNumber:
            TraceWaitLine();
            if (wait_for_cache()) {
                const uint32_t n = m_msgLogCache.GetLastSequenceNumber(ca);
                if (n == 0) r.SetStatus(status::kNotFound);
                else r.SetReplyUInt(n, status::kOk);
            }
            return true;

        case kEntryCount:
            TraceWaitLine();
            if (wait_for_cache()) r.SetReplyUInt(m_msgLogCache.GetEntryCount(ca), status::kOk);
            return true;

        case kSupportedLanguages: {
            CSipRecord lower(kSupportedLanguages, 0, 0, ServerCabinetNumber(), status::kPending);
            PassDown(lower, kLanguagesTimeoutMs);
            if (lower.HasAnswer(0, false)) {
                std::vector<uint8_t> bytes;
                if (lower.GetDataBytes(lower.Cur(), bytes) && bytes.size() >= 2) r.SetReplyRaw(bytes, status::kOk);
            } else if (IsFinalStatus(lower.Value(key::ST))) {
                r.ClearData(status::kOk);
            } else {
                r.SetStatus(status::kNotFound);
            }
            r.SetCFlag(true);
            return true;
        }

        case kResolutions:
        case kCauses:
        case kLongText:
        case kSummary:
        case kCauseParagraph:
        case kResolutionParagraph: {
            if (!r.HasData(r.Cur(), 0, false)) {
                EM_TRACE(1, u"\nEM_TARNEL           : ## ERROR! Invalid log message text request arguments (no error "
                            u"code supplied)!");
                r.SetStatus(status::kInvalidArguments);
            } else {
                uint32_t code = 0;
                if (!r.GetDataUInt(r.Cur(), code)) code = 0;
                const uint32_t oe = r.Value(key::OE);
                EM_TRACE(3, u"\nEM_TARNEL           : Request message text for error code 0x%06X (Lang: 0x%04X) ...",
                         code, oe);
                if (!AnswerFromTextCache(m_textCaches, r, oc, code, oe)) {
                    EM_TRACE(3, u"\nEM_TARNEL           :   message text(s) not found in text cache - issue request to "
                                u"lower modules (insert into task queue)");
                    // The task's copy is answered and delivered later; it carries ST 22 as this
                    // record does.
                    r.SetStatus(status::kPending);
                    if (!InsertTask(r, 0, nullptr)) AnswerRefusedTask(r);
                }
            }
            r.SetCFlag(true);
            return true;
        }

        default:
            return false;
    }
}

}  // namespace em
