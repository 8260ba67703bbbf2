#include "host/lib/stress.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "host/lib/display.h"
#include "host/lib/request_line.h"
#include "host/lib/substitute_host.h"
#include "module/sip_record.h"
#include "platform/codepage.h"
#include "platform/sysinfo.h"

namespace em::host {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kPage = 0x0B10;
constexpr uint32_t kNewEntries = 0x0B11;
constexpr uint32_t kMaxCachedEntries = 2000;  // the cache keeps the newest this many per cabinet
constexpr uint32_t kDeclinedOpcode = 0x0D00;  // no module's opcode: declined with ST 1

// A request the threads send, with what its answer must show.
struct Line {
    std::string text;
    bool declined = false;           // the module must leave it to others (result 0, ST 1)
    bool translated = false;         // the answer must name this object, in the global numbering
    uint32_t global = 0;
    uint32_t module = 0;
    std::u16string object;
};

// Host threads enter one at a time while requests flow; a checkpoint closes it and waits until
// every request in flight is answered (or delivered), so that the module can be stopped and
// scans checked against a log that nobody changes meanwhile. A closed gate wins over entrants.
class Gate {
public:
    bool Enter(const std::atomic<bool>& stop) {
        std::unique_lock<std::mutex> g(m_mutex);
        m_cv.wait(g, [&] { return !m_closed || stop.load(); });
        if (stop.load()) return false;
        ++m_inside;
        return true;
    }
    void Leave() {
        std::lock_guard<std::mutex> g(m_mutex);
        if (--m_inside == 0) m_cv.notify_all();
    }
    void Close() {
        std::unique_lock<std::mutex> g(m_mutex);
        m_closed = true;
        m_cv.wait(g, [&] { return m_inside == 0; });
    }
    void Open() {
        std::lock_guard<std::mutex> g(m_mutex);
        m_closed = false;
        m_cv.notify_all();
    }
    void Wake() {
        std::lock_guard<std::mutex> g(m_mutex);
        m_cv.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_closed = false;
    uint32_t m_inside = 0;
};

std::string Hex(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%X", v);
    return b;
}

class Stress {
public:
    Stress(const Scenario& s, const StressOptions& o, std::FILE* out)
        : m_scenario(s), m_opt(o), m_out(out), m_host(s) {}

    int Run() {
        std::string error;
        if (!m_host.Load(m_opt.library, error) || !m_host.Create() || !m_host.Module()) {
            std::fprintf(m_out, "emhost stress: cannot load the module: %s\n", error.empty() ? "EM_Create failed" : error.c_str());
            return 2;
        }
        m_host.KeepEvents(false);
        m_host.OnRecord([this](HostEvent::Kind kind, const CSipRecord& r) { Watch(kind, r); });
        m_cabinets.push_back(m_scenario.server_cabinet);
        for (uint32_t c : m_scenario.se_cabinets)
            if (std::find(m_cabinets.begin(), m_cabinets.end(), c) == m_cabinets.end()) m_cabinets.push_back(c);
        std::fprintf(m_out, "Stress on scenario \"%s\": %u host threads, up to %llu requests or %u s\n",
                     m_scenario.name.c_str(), m_opt.threads, static_cast<unsigned long long>(m_opt.requests),
                     m_opt.duration_s);
        StartModule();
        BuildLines();

        const auto start = Clock::now();
        m_deadline = start + std::chrono::seconds(m_opt.duration_s);
        std::thread sampler([this] { SampleMemory(); });
        std::vector<std::thread> threads;
        for (uint32_t t = 0; t < m_opt.threads; ++t) threads.emplace_back([this, t] { Send(t); });
        Chaos();
        for (auto& t : threads) t.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        // A last check with everything quiet, then the end of the module's life.
        Checkpoint(false);
        m_host.Module()->Stop();
        m_host.Delete();
        m_host.Unload();
        m_sampling = false;
        sampler.join();
        return Report(seconds);
    }

private:
    void StartModule() {
        IExtensionModule* m = m_host.Module();
        m->SetCabinetNumber(m_scenario.server_cabinet);
        m->Start(&m_host, m_scenario.module_id);
        m->DetectCabinets();
    }

    // ---- the requests --------------------------------------------------------------------------------

    void BuildLines() {
        auto add = [&](std::string text) {
            Line l;
            l.text = std::move(text);
            m_lines.push_back(std::move(l));
        };
        // Translated: every object of every kind that several modules share, by its global index.
        std::set<std::pair<uint32_t, uint32_t>> seen;
        for (const ObservedKind& k : m_host.ObservedKinds()) {
            if (k.modules.size() < 2 || !seen.insert({k.cabinet, k.count_opcode << 8 | k.count_ext}).second) continue;
            const KnownKind* known = nullptr;
            for (const KnownKind& kk : KnownObjectKinds())
                if (kk.count_opcode == k.count_opcode && kk.count_ext == k.count_ext) known = &kk;
            add("Count ca=" + std::to_string(k.cabinet));
            if (!known || known->targets.empty()) continue;
            uint32_t global = 0;
            for (auto [mi, n] : k.modules) {
                const LowerModule* lm = m_host.ModuleById(mi);
                for (uint32_t i = 0; i < n; ++i, ++global) {
                    Line l;
                    l.text = Hex(known->targets[global % known->targets.size()]) + " ca=" + std::to_string(k.cabinet) +
                             " oi=" + std::to_string(global);
                    l.translated = lm != nullptr;
                    l.global = global;
                    l.module = mi;
                    if (lm) l.object = platform::Utf8ToUtf16(lm->name + " object " + std::to_string(i));
                    m_lines.push_back(std::move(l));
                }
            }
        }
        const std::string server = " ca=" + std::to_string(m_scenario.server_cabinet);
        // Broadcast and merged.
        for (const char* oe : {"0x11", "0x30", "0x31", "0x32"}) add(std::string("ReadConfig") + server + " oe=" + oe);
        add("WriteConfig" + server + " oe=0x40 da=1");
        add("BroadcastWrite" + server);
        add("LogEntry" + server);
        add("LogEntry" + server + " oi=1");
        add("LogEntryData" + server);
        // Every message log opcode of the module, for every cabinet.
        for (uint32_t c : m_cabinets) {
            const std::string ca = " ca=" + std::to_string(c);
            for (const char* l : {"MsgLogAvailable", "LastSequenceNumber", "EntryCount"}) add(l + ca);
            add("GetMsgLogCacheEntries" + ca + " oe=0x409 oi=0");
            add("GetMsgLogCacheEntries" + ca + " oe=0 oi=0");
            for (uint32_t seq = 1; seq <= 4; ++seq) add("Raw" + ca + " da=" + std::to_string(seq));
        }
        add("Languages" + server);
        add("LogClear" + server);
        add("Raw" + server);  // no sequence number: refused at once
        // Message texts of every code a module knows, and of one that nobody knows.
        std::set<uint32_t> codes = {0x7F0001};
        for (const LowerModule& m : m_scenario.modules)
            for (const auto& [code, langs] : m.texts) codes.insert(code);
        for (uint32_t code : codes)
            for (const char* oe : {"0x409", "0x407"})
                for (const char* op : {"Summary", "LongText", "Causes", "Resolutions", "Cause oi=0", "Resolution oi=1"})
                    add(std::string(op) + server + " oe=" + oe + " da=" + Hex(code));
        Line declined;
        declined.text = Hex(kDeclinedOpcode) + server;
        declined.declined = true;
        m_lines.push_back(declined);
    }

    void Send(uint32_t thread) {
        std::mt19937 rng(0x5eed + thread);
        std::uniform_int_distribution<size_t> pick(0, m_lines.size() - 1);
        std::map<uint32_t, uint32_t> last_seen;  // cabinet -> last sequence number this thread saw
        uint64_t life = m_life.load();
        while (m_gate.Enter(m_stop)) {
            if (life != m_life.load()) {
                last_seen.clear();  // a new module object numbers anew
                life = m_life.load();
            }
            if (m_sent.fetch_add(1) >= m_opt.requests) {
                m_gate.Leave();
                Finish();
                break;
            }
            const Line& line = m_lines[pick(rng)];
            SendOne(line, &last_seen);
            m_gate.Leave();
            if (Clock::now() >= m_deadline) Finish();
        }
    }

    // One request through the module and the checks on its answer; true when all held. last_seen
    // (cabinet -> last sequence number seen by the calling thread) may be null.
    bool SendOne(const Line& line, std::map<uint32_t, uint32_t>* last_seen, CSipRecord* answer_out = nullptr) {
        CSipRecord r, delivered;
        std::string error;
        if (!ParseRequestLine(line.text, r, error)) return Broken("request \"" + line.text + "\" does not parse: " + error);
        SubstituteHost::Outcome o;
        try {
            o = m_host.Submit(r, delivered, m_opt.delivery_wait_ms);
        } catch (const LowerModuleFailure&) {
            // The scenario's own fault: the host's SendRequest threw, and the module let it pass.
            m_hostFailures.fetch_add(1, std::memory_order_relaxed);
            return true;
        } catch (...) {
            return Broken("\"" + line.text + "\": an exception left the module");
        }
        m_answered.fetch_add(1, std::memory_order_relaxed);
        const CSipRecord& a = o.delivered ? delivered : r;
        const uint32_t st = a.Value(key::ST);
        CountStatus(o.result == 0 ? -1 : static_cast<int>(st), o.pending && o.delivered);
        if (answer_out) answer_out->CopyFrom(a);
        if (o.pending && !o.delivered) {
            m_leftPending.fetch_add(1);
            return Broken("\"" + line.text + "\" was accepted for later (ST 22) and never delivered");
        }
        if (st == status::kPending) {
            m_leftPending.fetch_add(1);
            return Broken("\"" + line.text + "\" came back with ST 22 and result " + std::to_string(o.result));
        }
        if ((line.declined && o.result != 0) || (o.result == 0 && st != status::kNotHandled))
            return Broken("\"" + line.text + "\": OnRequest " + std::to_string(o.result) + " with ST " + std::to_string(st));
        if (line.translated && st == status::kOk) {
            std::u16string text;
            a.GetDataString(a.Cur(), text, 0);
            if (a.Value(key::OI) != line.global || a.Value(key::MI) != line.module || text != line.object)
                return Broken("\"" + line.text + "\" answered as " + DescribeRecord(a) + " (expected object \"" +
                              platform::Utf16ToUtf8(line.object) + "\" at global index " + std::to_string(line.global) + ")");
        }
        const uint32_t oc = a.Value(key::OC), ca = a.Value(key::CA);
        if (oc == 0x0B12 && st == status::kOk && last_seen) {
            uint32_t n = 0;
            a.GetDataUInt(a.Cur(), n);
            uint32_t& seen = (*last_seen)[ca];
            if (n < seen)
                return Broken("cabinet " + std::to_string(ca) + ": last sequence number went back from " +
                              std::to_string(seen) + " to " + std::to_string(n));
            seen = n;
        }
        if (oc == kPage && st == status::kOk) return CheckPage(a, ca, nullptr);
        return true;
    }

    // A page lists the entries it holds from the last stored down, numbered without a gap.
    bool CheckPage(const CSipRecord& a, uint32_t ca, std::vector<PageEntry>* out) {
        std::vector<uint8_t> bytes;
        a.GetDataBytes(a.Cur(), bytes);
        std::vector<PageEntry> page = ParsePage(bytes);
        for (size_t i = 1; i < page.size(); ++i)
            if (page[i].sequence + 1 != page[i - 1].sequence)
                return Broken("cabinet " + std::to_string(ca) + ": a page jumps from sequence number " +
                              std::to_string(page[i - 1].sequence) + " to " + std::to_string(page[i].sequence));
        if (out) *out = std::move(page);
        return true;
    }

    void CountStatus(int st, bool pending) {
        std::lock_guard<std::mutex> g(m_statsMutex);
        ++m_byStatus[st];
        if (pending) ++m_delivered;
    }

    // ---- what the module sends up -------------------------------------------------------------

    void Watch(HostEvent::Kind kind, const CSipRecord& r) {
        if (kind == HostEvent::Kind::ForwardEvent) m_forwarded.fetch_add(1, std::memory_order_relaxed);
        if (kind == HostEvent::Kind::SendRequest && r.Value(key::OC) == 0x0B16) {
            std::lock_guard<std::mutex> g(m_seqMutex);
            ++m_scanReads[r.Value(key::CA)];  // a scan asked the cabinet's modules for their logs
            return;
        }
        if (kind != HostEvent::Kind::DeliverRecord || r.Value(key::OC) != kNewEntries) return;
        const uint32_t ca = r.Value(key::CA);
        uint32_t first = 0;
        r.GetDataUInt(r.Cur(), first);
        std::lock_guard<std::mutex> g(m_seqMutex);
        ++m_announced;
        uint32_t& last = m_lastAnnounced[ca];
        if (first <= last) {
            Broken("cabinet " + std::to_string(ca) + ": new entries announced from sequence number " +
                   std::to_string(first) + " after " + std::to_string(last));
        }
        last = std::max(last, first);
    }

    // ---- events, scans, restarts ------------------------------------------------------------------

    void Chaos() {
        std::vector<ScenarioEvent> events = m_scenario.events;
        if (events.empty()) {
            // Without events of its own the scenario still gets some: each module with an old-style
            // log reports one new entry, then has its log cleared.
            for (const LowerModule& m : m_scenario.modules) {
                if (!m.has_log) continue;
                ScenarioEvent e;
                e.module = m.id;
                e.cabinet = m.cabinet;
                e.entries.push_back(OldStyleEntry{0x0401, 1796460000, static_cast<uint16_t>(m.cabinet), 0, 2, {1500, 20}, {}});
                events.push_back(e);
                e.kind = ScenarioEvent::Kind::LogClear;
                e.entries.clear();
                events.push_back(e);
            }
        }
        size_t next = 0;
        auto last_checkpoint = Clock::now();
        bool scanned = false;
        while (!m_stop) {
            if (!events.empty()) {
                const ScenarioEvent& e = events[next++ % events.size()];
                try {
                    m_host.RaiseEvent(e);
                } catch (...) {
                    Broken("an exception left OnReply");
                }
                ++m_raised[static_cast<int>(e.kind)];
            }
            const auto now = Clock::now();
            if (!scanned && now - last_checkpoint > std::chrono::milliseconds(m_opt.checkpoint_ms / 2)) {
                // A scan while the requests go on.
                m_host.Module()->DetectCabinets();
                ++m_scansUnderLoad;
                scanned = true;
            }
            if (now - last_checkpoint > std::chrono::milliseconds(m_opt.checkpoint_ms)) {
                Checkpoint(true);
                last_checkpoint = Clock::now();
                scanned = false;
            }
            if (now >= m_deadline) Finish();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    // With no request in flight: every other time stop and start the module, then scan every
    // cabinet and check that the scan stored each entry the lower modules hold and that a page
    // shows every stored entry.
    void Checkpoint(bool hold_requests) {
        if (hold_requests) m_gate.Close();
        ++m_checkpoints;
        if (hold_requests && m_checkpoints % 2 == 0) Restart();
        // Whatever the worker has queued (a scan started under load, a new module's first scans)
        // is done after this.
        Barrier();
        struct Before {
            uint32_t count, last;
        };
        std::map<uint32_t, Before> before;
        std::map<uint32_t, uint64_t> reads_before;
        {
            std::lock_guard<std::mutex> g(m_seqMutex);
            reads_before = m_scanReads;
        }
        // Only a cabinet that was scanned has a cache that is ready; asking another would wait.
        for (uint32_t c : m_cabinets)
            if (reads_before[c] != 0) before[c] = {Number("EntryCount", c), Number("LastSequenceNumber", c)};
        m_host.Module()->DetectCabinets();
        Barrier();
        for (uint32_t c : m_cabinets) {
            {
                std::lock_guard<std::mutex> g(m_seqMutex);
                if (m_scanReads[c] == reads_before[c]) {
                    Broken("cabinet " + std::to_string(c) + ": DetectCabinets queued no scan that ran");
                    continue;
                }
            }
            if (!before.count(c)) continue;  // its first scan: nothing to compare with
            bool exact = true;
            const size_t held = m_host.Lower().ScanSize(c, exact);
            const uint32_t count = Number("EntryCount", c), last = Number("LastSequenceNumber", c);
            const uint32_t stored = last - before[c].last;
            ++m_scanChecks;
            if (exact && stored != held) {
                Broken("cabinet " + std::to_string(c) + ": the scan stored " + std::to_string(stored) + " of the " +
                       std::to_string(held) + " entries the lower modules hold");
                continue;
            }
            if (count != std::min<uint64_t>(uint64_t{before[c].count} + stored, kMaxCachedEntries)) {
                Broken("cabinet " + std::to_string(c) + ": " + std::to_string(before[c].count) + " entries plus " +
                       std::to_string(stored) + " scanned make " + std::to_string(count));
                continue;
            }
            Line page;
            page.text = "GetMsgLogCacheEntries ca=" + std::to_string(c) + " oe=0 oi=0";
            CSipRecord a;
            std::vector<PageEntry> entries;
            if (!SendOne(page, nullptr, &a)) continue;
            if (a.Value(key::ST) != status::kOk || !CheckPage(a, c, &entries)) continue;
            if (entries.size() != count || (count && entries.front().sequence != last))
                Broken("cabinet " + std::to_string(c) + ": a page after the scan lists " + std::to_string(entries.size()) +
                       " entries up to " + (entries.empty() ? std::string("none") : std::to_string(entries.front().sequence)) +
                       "; the cache holds " + std::to_string(count) + " up to " + std::to_string(last));
        }
        if (hold_requests) m_gate.Open();
    }

    void Restart() {
        ++m_restarts;
        IExtensionModule* m = m_host.Module();
        m->Stop();
        if (m_opt.reload) {
            m_host.Delete();
            if (!m_host.Create() || !m_host.Module()) {
                Broken("EM_Create failed on a restart");
                Finish();
                return;
            }
            // A new module numbers its cache anew and has scanned nothing yet.
            std::lock_guard<std::mutex> g(m_seqMutex);
            m_lastAnnounced.clear();
            m_scanReads.clear();
            m_life.fetch_add(1);
        }
        StartModule();
    }

    // The worker runs its tasks in order: when a text task queued now is delivered, every task
    // queued before it (the scans) is done.
    void Barrier() {
        Line barrier;
        barrier.text = "Summary ca=" + std::to_string(m_scenario.server_cabinet) + " oe=0x409 da=" +
                       Hex(0x7E0000 + (++m_barriers & 0xFFFF));
        SendOne(barrier, nullptr);
    }

    // A number the module answers for a cabinet (0 when it answers without one).
    uint32_t Number(const char* opcode, uint32_t cabinet) {
        Line l;
        l.text = std::string(opcode) + " ca=" + std::to_string(cabinet);
        CSipRecord a;
        uint32_t n = 0;
        if (SendOne(l, nullptr, &a)) a.GetDataUInt(a.Cur(), n);
        return n;
    }

    void Finish() {
        m_stop = true;
        m_gate.Wake();
    }

    void SampleMemory() {
        while (m_sampling) {
            platform::MemoryCounters c;
            if (platform::GetProcessMemoryCounters(&c)) m_peakRss = std::max<uint64_t>(m_peakRss, c.working_set);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    bool Broken(const std::string& what) {
        std::lock_guard<std::mutex> g(m_brokenMutex);
        ++m_broken;
        auto it = std::find_if(m_brokenText.begin(), m_brokenText.end(), [&](const auto& b) { return b.first == what; });
        if (it != m_brokenText.end()) ++it->second;
        else if (m_brokenText.size() < 20) m_brokenText.emplace_back(what, 1);
        return false;
    }

    int Report(double seconds) {
        const uint64_t answered = m_answered.load();
        std::fprintf(m_out, "\n== Stress results ==\n");
        std::fprintf(m_out, "  requests       %llu in %.1f s: %.0f requests/s (%u host threads)\n",
                     static_cast<unsigned long long>(answered), seconds, seconds > 0 ? answered / seconds : 0.0,
                     m_opt.threads);
        std::fprintf(m_out, "  answers by status:");
        {
            std::lock_guard<std::mutex> g(m_statsMutex);
            for (auto [st, n] : m_byStatus) {
                if (st < 0) std::fprintf(m_out, " declined %llu,", static_cast<unsigned long long>(n));
                else std::fprintf(m_out, " ST %d: %llu,", st, static_cast<unsigned long long>(n));
            }
            std::fprintf(m_out, "\n  accepted for later (ST 22) and delivered: %llu; left at ST 22: %llu\n",
                         static_cast<unsigned long long>(m_delivered), static_cast<unsigned long long>(m_leftPending.load()));
        }
        if (m_hostFailures.load())
            std::fprintf(m_out, "  the scenario's SendRequest threw %llu times; the module passed it on\n",
                         static_cast<unsigned long long>(m_hostFailures.load()));
        std::fprintf(m_out, "  events raised: %llu new entries, %llu log clears, %llu other records; forwarded %llu\n",
                     static_cast<unsigned long long>(m_raised[0]), static_cast<unsigned long long>(m_raised[1]),
                     static_cast<unsigned long long>(m_raised[2]), static_cast<unsigned long long>(m_forwarded.load()));
        {
            std::lock_guard<std::mutex> g(m_seqMutex);
            std::fprintf(m_out, "  new entries announced (0x0B11): %llu, sequence numbers increasing per cabinet\n",
                         static_cast<unsigned long long>(m_announced));
        }
        std::fprintf(m_out, "  scans: %llu under load, %llu checked after a quiet scan (%llu cabinets)\n",
                     static_cast<unsigned long long>(m_scansUnderLoad), static_cast<unsigned long long>(m_checkpoints),
                     static_cast<unsigned long long>(m_scanChecks));
        std::fprintf(m_out, "  restarts       %llu (%s)\n", static_cast<unsigned long long>(m_restarts),
                     m_opt.reload ? "Stop, EM_Delete, EM_Create, Start" : "Stop and Start of the same object");
        std::fprintf(m_out, "  peak RSS       %.1f MB\n", m_peakRss / (1024.0 * 1024.0));
        std::lock_guard<std::mutex> g(m_brokenMutex);
        if (m_broken == 0) {
            std::fprintf(m_out, "  invariants     all held\n");
            return 0;
        }
        std::fprintf(m_out, "  invariants     %llu broken, the first ones:\n", static_cast<unsigned long long>(m_broken));
        for (const auto& [text, n] : m_brokenText)
            std::fprintf(m_out, "    - %s%s\n", text.c_str(), n > 1 ? (" (" + std::to_string(n) + " times)").c_str() : "");
        return 1;
    }

    const Scenario& m_scenario;
    StressOptions m_opt;
    std::FILE* m_out;
    SubstituteHost m_host;
    std::vector<uint32_t> m_cabinets;
    std::vector<Line> m_lines;
    Gate m_gate;
    Clock::time_point m_deadline;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_sampling{true};
    std::atomic<uint64_t> m_sent{0}, m_answered{0}, m_leftPending{0}, m_forwarded{0}, m_hostFailures{0};
    std::atomic<uint64_t> m_peakRss{0};

    std::mutex m_statsMutex;
    std::map<int, uint64_t> m_byStatus;  // -1: declined
    uint64_t m_delivered = 0;

    std::mutex m_seqMutex;
    std::map<uint32_t, uint32_t> m_lastAnnounced;
    std::map<uint32_t, uint64_t> m_scanReads;  // cabinet -> log reads of scans
    std::atomic<uint64_t> m_life{0};           // module objects made after the first
    uint64_t m_announced = 0;

    std::mutex m_brokenMutex;
    uint64_t m_broken = 0;
    std::vector<std::pair<std::string, uint64_t>> m_brokenText;  // the first distinct ones, how often

    // Touched by the chaos thread only (and read after it ended).
    uint64_t m_raised[3] = {0, 0, 0};
    uint64_t m_checkpoints = 0, m_restarts = 0, m_scanChecks = 0, m_scansUnderLoad = 0, m_barriers = 0;
};

}  // namespace

int RunStress(const Scenario& scenario, const StressOptions& options, std::FILE* out) {
    return Stress(scenario, options, out).Run();
}

}  // namespace em::host
