// emhost: the substitute host. Loads the module library, drives it with a scenario's simulated
// lower modules and shows what the module does.
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/lib/display.h"
#include "host/lib/line_editor.h"
#include "host/lib/request_line.h"
#include "host/lib/scenario.h"
#include "host/lib/stress.h"
#include "host/lib/substitute_host.h"
#include "module/tarnel_module.h"
#include "platform/codepage.h"
#include "platform/environment.h"
#include "platform/sysinfo.h"

using namespace em;
using namespace em::host;

namespace {

// The module library beside the executable (an installed tool, or the build folder), else the
// one the tool was built with.
std::string DefaultLibrary() {
    std::u16string exe;
    if (platform::GetExecutablePath(exe)) {
        std::string beside = platform::Utf16ToUtf8(exe.substr(0, exe.find_last_of(u"/\\") + 1)) + EM_LIBRARY_FILE_NAME;
        if (std::FILE* f = std::fopen(beside.c_str(), "rb")) {
            std::fclose(f);
            return beside;
        }
    }
    return EM_DEFAULT_LIBRARY;
}

struct Options {
    std::string library = DefaultLibrary();
    bool json = false;
    int trace = -1;  // console trace level of the module; -1: as the registry says
    bool shell = false;
};

void Usage() {
    std::printf(
        "usage: emhost [options] demo               run the built-in demo scenario\n"
        "       emhost [options] run SCENARIO.json  run a scenario file\n"
        "       emhost [options] shell [SCENARIO.json]\n"
        "                                           start the module and type requests at a prompt\n"
        "       emhost [options] stress [--threads N] [--requests N] [--duration SECONDS]\n"
        "                               [--restart-same] [SCENARIO.json]\n"
        "                                           load and faults together, invariants checked\n"
        "                                           (defaults: 8 threads, 100000 requests, 120 s, the demo;\n"
        "                                           restarts make a new module object unless --restart-same)\n"
        "options:\n"
        "  --library PATH   module library to load (default: %s beside emhost)\n"
        "  --json           print records as JSON\n"
        "  --trace LEVEL    module trace lines (1 errors .. 5 everything) on the console\n",
        EM_LIBRARY_FILE_NAME);
}

std::string U8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }

void Section(const char* title) { std::printf("\n== %s ==\n", title); }

class Run {
public:
    Run(const Scenario& s, const Options& o) : m_scenario(s), m_opt(o), m_host(s) {}

    int Main() {
        std::printf("Scenario \"%s\"%s%s\n", m_scenario.name.c_str(), m_scenario.description.empty() ? "" : ": ",
                    m_scenario.description.c_str());
        if (!Load()) return 2;
        ShowInfoBlock();
        Guarded("Start", [&] { StartModule(); });
        ShowOidMap();
        Guarded("DetectCabinets", [&] { Detect(); });
        if (m_opt.shell) Shell();
        else RunRequests();
        Finish();
        return 0;
    }

    // The host's side of a call into the module: an exception that leaves the module is
    // reported, and the run goes on.
    template <class F>
    void Guarded(const char* what, F f) {
        try {
            f();
        } catch (const std::exception& e) {
            std::printf("    !! %s: an exception left the module: %s\n", what, e.what());
        } catch (...) {
            std::printf("    !! %s: an exception left the module\n", what);
        }
    }

    void Shell() {
        Section("Shell: type a request, 'help' for the syntax, 'quit' to leave");
        LineEditor editor(HistoryFile());
        while (auto line = editor.Read("emhost> ")) {
            std::string l = *line;
            while (!l.empty() && (l.back() == ' ' || l.back() == '\r')) l.pop_back();
            size_t b = l.find_first_not_of(' ');
            if (b == std::string::npos) continue;
            l = l.substr(b);
            if (l == "quit" || l == "exit") break;
            if (l == "help") {
                ShellHelp();
            } else if (l == "map") {
                ShowOidMap();
            } else if (l == "events") {
                for (size_t i = 0; i < m_scenario.events.size(); ++i)
                    std::printf("  %zu: %s %s\n", i, EventKindText(m_scenario.events[i]), m_scenario.events[i].note.c_str());
            } else if (l.rfind("event ", 0) == 0) {
                size_t n = std::strtoul(l.c_str() + 6, nullptr, 10);
                if (n < m_scenario.events.size()) RaiseEvent(m_scenario.events[n]);
                else std::printf("  no event %zu ('events' lists them)\n", n);
            } else if (l.rfind("raise ", 0) == 0) {
                RaiseLine(l.substr(6));
            } else if (l == "json on" || l == "json off") {
                m_opt.json = l == "json on";
            } else {
                Request(l);
            }
        }
    }

    void ShellHelp() {
        std::printf(
            "  A request: OPCODE [ca=N] [oe=N] [oi=N] [mi=N] [ci=N] [st=N] [da=N | da=\"text\" | raw=01,02]\n"
            "  OPCODE is a number (0x0B10) or one of these names:\n");
        for (const auto& n : OpcodeNames()) std::printf("    %-22s 0x%04X  %s\n", n.name, n.opcode, n.meaning);
        std::printf(
            "  Other commands: map (the OID map), events / event N (raise a scenario event),\n"
            "  raise REQUEST (send that record up through OnReply as a lower module's event; ST 255\n"
            "  unless st= is given, mi= names the module), json on|off, help, quit.\n"
            "  Example: GetMsgLogCacheEntries ca=0 oe=0x407 oi=0\n");
    }

    static std::string HistoryFile() {
        const char* home = std::getenv("HOME");
        return home ? std::string(home) + "/.emhost_history" : std::string();
    }

private:
    std::string Show(const CSipRecord& r) { return m_opt.json ? RecordToJson(r) : DescribeRecord(r); }

    void Listen() {
        m_host.OnEvent([this](const HostEvent& e) {
            if (!m_live) return;
            switch (e.kind) {
                case HostEvent::Kind::SendRequest:
                    if (m_showDown) std::printf("    [down] lower modules answered: %s\n", Indent(e.text).c_str());
                    break;
                case HostEvent::Kind::ReplyUp:
                    if (m_showDown) std::printf("    [up]   after the module's OnReply: %s\n", Indent(e.text).c_str());
                    break;
                case HostEvent::Kind::DeliverRecord: std::printf("    [up]   module delivered: %s\n", Indent(e.text).c_str()); break;
                case HostEvent::Kind::ForwardEvent: std::printf("    [up]   module forwarded event: %s\n", Indent(e.text).c_str()); break;
                case HostEvent::Kind::StartCompleted: std::printf("    [up]   module reports start completed\n"); break;
            }
        });
    }

    static std::string Indent(const std::string& s) {
        std::string out;
        for (char c : s) {
            out.push_back(c);
            if (c == '\n') out += "                                          ";
        }
        return out;
    }

    bool Load() {
        Section("Loading the module");
        std::string error;
        if (!m_host.Load(m_opt.library, error)) {
            std::fprintf(stderr, "emhost: %s\n", error.c_str());
            return false;
        }
        std::printf("  library   %s\n  name      %s\n", m_opt.library.c_str(), U8(m_host.LibraryModuleName()).c_str());
        if (!m_host.Create() || !m_host.Module()) {
            std::fprintf(stderr, "emhost: EM_Create failed\n");
            return false;
        }
        std::printf("  EM_Create -> module object created\n");
        Listen();
        return true;
    }

    void ShowInfoBlock() {
        Section("Module information block");
        std::vector<uint8_t> info(kModuleInfoSize, 0);
        uint32_t size = kModuleInfoSize;
        std::memcpy(info.data(), &size, 4);
        uint32_t r = m_host.Module()->GetModuleInfo(info.data());
        auto text_at = [&](size_t off) {
            std::u16string s;
            for (size_t i = 0; i < 100; ++i) {
                char16_t c;
                std::memcpy(&c, &info[off + 2 * i], 2);
                if (!c) break;
                s.push_back(c);
            }
            return U8(s);
        };
        std::printf("  GetModuleInfo -> %u: name \"%s\", description \"%s\"\n", r, text_at(52).c_str(),
                    text_at(252).c_str());
    }

    void StartModule() {
        Section("Start: cabinets, count pass, log caches, help-desk text");
        m_host.Module()->SetCabinetNumber(m_scenario.server_cabinet);
        m_live = true;
        m_showDown = false;  // the count pass is summarised as the OID map below
        m_host.Module()->Start(&m_host, m_scenario.module_id);
        std::printf("  cabinets: %u (the server's)", m_scenario.server_cabinet);
        for (uint32_t c : m_scenario.se_cabinets) std::printf(", %u (SE)", c);
        std::printf("\n");
    }

    void ShowOidMap() {
        Section("OID map: global object index -> lower module and its own index");
        bool any = false;
        for (const ObservedKind& k : m_host.ObservedKinds()) {
            if (k.modules.size() < 2) continue;  // one module: its own numbering is the global one
            any = true;
            std::printf("  cabinet %u, objects counted by opcode 0x%04X-0x%02X:\n", k.cabinet, k.count_opcode, k.count_ext);
            uint32_t global = 0;
            for (auto [mi, n] : k.modules) {
                std::string name = m_host.Lower().NameOf(mi);
                for (uint32_t i = 0; i < n; ++i, ++global)
                    std::printf("    %3u -> %-8s (MI 0x%08X) object %u\n", global, name.c_str(), mi, i);
            }
        }
        if (!any) std::printf("  no object kind is served by more than one module: nothing to map\n");
    }

    void Detect() {
        Section("Detect cabinets: SEL format, languages, first log scans (worker thread)");
        m_showDown = true;
        m_host.Module()->DetectCabinets();
        // A count request waits for the cabinet's "Cache Ready": the server's scan is done after it.
        // The SE cabinets' scans go on in the background (a request for one waits for its scan).
        CSipRecord count(0x0B13, 0, 0, m_scenario.server_cabinet, kNoStatus), none;
        m_showDown = false;
        Guarded("OnRequest", [&] { m_host.Submit(count, none, kDeliveryWaitMs); });
        uint32_t n = 0;
        count.GetDataUInt(count.Cur(), n);
        std::printf("  cabinet %u (the server's): %u log entries cached\n", m_scenario.server_cabinet, n);
        if (!m_scenario.se_cabinets.empty())
            std::printf("  SE cabinets: their scans run on the worker thread, one after the other\n");
        m_showDown = true;
    }

    static constexpr uint32_t kDeliveryWaitMs = 15000;

    void RunRequests() {
        if (m_scenario.requests.empty() && m_scenario.events.empty()) return;
        Section("Requests from above, events from below");
        size_t next_event = 0;
        std::vector<std::string> lines = m_scenario.requests;
        bool saw_marker = false;
        for (const auto& l : lines) saw_marker |= l.rfind("@event", 0) == 0;
        if (!saw_marker) lines.push_back("@events");
        for (const std::string& line : lines) {
            if (line == "@events") {
                while (next_event < m_scenario.events.size()) RaiseEvent(m_scenario.events[next_event++]);
                continue;
            }
            if (line.rfind("@event", 0) == 0) {
                if (next_event < m_scenario.events.size()) RaiseEvent(m_scenario.events[next_event++]);
                continue;
            }
            if (line.rfind("#", 0) == 0) {
                std::printf("\n  %s\n", line.c_str());
                continue;
            }
            Request(line);
        }
    }

    void Request(const std::string& line) {
        CSipRecord req;
        std::string error;
        std::printf("\n  > %s\n", line.c_str());
        if (!ParseRequestLine(line, req, error)) {
            std::printf("    cannot send: %s\n", error.c_str());
            return;
        }
        m_host.Number(req);
        std::string name = NameOfOpcode(req.Value(key::OC));
        if (!name.empty()) std::printf("    (%s)\n", name.c_str());
        std::printf("    request  %s\n", Show(req).c_str());
        CSipRecord delivered;
        auto start = std::chrono::steady_clock::now();
        SubstituteHost::Outcome o;
        bool threw = true;
        Guarded("OnRequest", [&] {
            o = m_host.Submit(req, delivered, kDeliveryWaitMs);
            threw = false;
        });
        if (threw) return;
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        std::printf("    OnRequest -> %u (%s)%s\n", o.result, o.result ? "handled" : "declined: ST 1, the host passes it on",
                    o.pending ? ", accepted for later (ST 22)" : "");
        const CSipRecord& answer = o.delivered ? delivered : req;
        if (o.pending && !o.delivered) std::printf("    no delivery within the wait\n");
        if (o.delivered) std::printf("    delivered after %lld ms\n", static_cast<long long>(ms));
        std::printf("    reply    %s\n", Show(answer).c_str());
        if (!m_opt.json) std::printf("%s", DescribeAnswer(answer).c_str());
    }

    static const char* EventKindText(const ScenarioEvent& e) {
        switch (e.kind) {
            case ScenarioEvent::Kind::LogClear: return "log cleared";
            case ScenarioEvent::Kind::NewEntries: return "new log entries";
            case ScenarioEvent::Kind::Record: return "a record";
        }
        return "?";
    }

    void RaiseLine(const std::string& line) {
        CSipRecord rec;
        std::string error;
        if (!ParseRequestLine(line, rec, error)) {
            std::printf("    cannot raise: %s\n", error.c_str());
            return;
        }
        if (rec.Value(key::ST) == status::kPending) rec.SetStatus(status::kEvent);
        std::printf("\n  ! record from module %s\n", m_host.Lower().NameOf(rec.Value(key::MI)).c_str());
        Guarded("OnReply", [&] {
            std::string sent = m_host.RaiseRecord(rec);
            std::printf("    sent up through OnReply: %s\n    after OnReply:           %s\n", Indent(sent).c_str(),
                        Indent(Show(rec)).c_str());
        });
    }

    void RaiseEvent(const ScenarioEvent& e) {
        std::printf("\n  ! event from module %s: %s%s\n", m_host.Lower().NameOf(e.module).c_str(), EventKindText(e),
                    e.note.empty() ? "" : (" - " + e.note).c_str());
        Guarded("OnReply", [&] {
            CSipRecord rec;
            m_host.Lower().Apply(e, rec);
            std::string sent = m_host.RaiseRecord(rec);
            std::printf("    sent up through OnReply: %s\n", Indent(sent).c_str());
            std::string after = DescribeRecord(rec);
            if (after != sent) std::printf("    after OnReply:           %s\n", Indent(after).c_str());
        });
    }

    void Finish() {
        Section("Stop and unload");
        m_host.Module()->Stop();
        std::printf("  Stop -> worker thread ended\n  EM_Delete -> %u\n", m_host.Delete());
        m_live = false;
        m_host.Unload();
        std::printf("  library unloaded\n");
    }

    const Scenario& m_scenario;
    Options m_opt;
    SubstituteHost m_host;
    bool m_live = false;
    bool m_showDown = true;
};

int Stress(const Options& opt, const std::vector<std::string>& args) {
    StressOptions so;
    so.library = opt.library;
    std::string file;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto number = [&](uint64_t& out) {
            if (i + 1 >= args.size()) return false;
            char* end = nullptr;
            out = std::strtoull(args[++i].c_str(), &end, 10);
            return end && *end == '\0' && out > 0;
        };
        uint64_t n = 0;
        if (a == "--threads" && number(n) && n <= 256) so.threads = static_cast<uint32_t>(n);
        else if (a == "--requests" && number(n)) so.requests = n;
        else if (a == "--duration" && number(n) && n <= 86400) so.duration_s = static_cast<uint32_t>(n);
        else if (a == "--restart-same") so.reload = false;
        else if ((a == "--scenario" && i + 1 < args.size()) || (a.rfind("--", 0) != 0 && file.empty()))
            file = a == "--scenario" ? args[++i] : a;
        else {
            Usage();
            return 1;
        }
    }
    Scenario scenario;
    std::string error;
    if (!(file.empty() ? ParseScenario(DefaultScenarioJson(), scenario, error) : LoadScenarioFile(file, scenario, error))) {
        std::fprintf(stderr, "emhost: %s\n", error.c_str());
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return RunStress(scenario, so, stdout);
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--library" && i + 1 < argc) opt.library = argv[++i];
        else if (a == "--json") opt.json = true;
        else if (a == "--trace" && i + 1 < argc) opt.trace = std::atoi(argv[++i]);
        else if (a == "-h" || a == "--help") {
            Usage();
            return 0;
        } else args.push_back(a);
    }
    std::string cmd = args.empty() ? "demo" : args[0];
    if (cmd == "stress") return Stress(opt, args);
    Scenario scenario;
    std::string error;
    if (cmd == "demo") {
        if (!ParseScenario(DefaultScenarioJson(), scenario, error)) {
            std::fprintf(stderr, "emhost: built-in scenario: %s\n", error.c_str());
            return 2;
        }
    } else if (cmd == "run" && args.size() >= 2) {
        if (!LoadScenarioFile(args[1], scenario, error)) {
            std::fprintf(stderr, "emhost: %s\n", error.c_str());
            return 2;
        }
    } else if (cmd == "shell") {
        opt.shell = true;
        bool ok = args.size() >= 2 ? LoadScenarioFile(args[1], scenario, error)
                                   : ParseScenario(DefaultScenarioJson(), scenario, error);
        if (!ok) {
            std::fprintf(stderr, "emhost: %s\n", error.c_str());
            return 2;
        }
    } else {
        Usage();
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Tracing for this run only: a registry file of our own, read when the library loads.
    std::string reg;
    if (opt.trace >= 0) {
        reg = platform::CreateTempFile("emhost-trace-", ".reg");
        if (FILE* f = reg.empty() ? nullptr : std::fopen(reg.c_str(), "w")) {
            std::fprintf(f,
                         "Windows Registry Editor Version 5.00\n\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Debug\\EM_TARNEL]\n"
                         "\"ConDebugLevel\"=dword:%08x\n",
                         opt.trace);
            std::fclose(f);
            platform::SetEnvironmentVariable("EM_TARNEL_REGISTRY", reg);
        }
    }
    int rc = Run(scenario, opt).Main();
    if (!reg.empty()) platform::RemoveFile(reg);
    return rc;
}
