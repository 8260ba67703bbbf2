// emhost: the substitute host. Loads the module library, drives it with a scenario's simulated
// lower modules and shows what the module does.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/tarnel_module.h"
#include "platform/codepage.h"

using namespace em;
using namespace em::host;

namespace {

void Usage() {
    std::printf(
        "usage: emhost [options] demo              run the built-in demo scenario\n"
        "       emhost [options] run SCENARIO.json run a scenario file\n"
        "options:\n"
        "  --library PATH   module library to load (default: %s)\n",
        EM_DEFAULT_LIBRARY);
}

std::string U8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }

void Section(const char* title) { std::printf("\n== %s ==\n", title); }

int RunScenario(const Scenario& scenario, const std::string& library) {
    std::printf("Scenario \"%s\"%s%s\n", scenario.name.c_str(), scenario.description.empty() ? "" : ": ",
                scenario.description.c_str());
    SubstituteHost host(scenario);
    host.OnEvent([](const HostEvent& e) {
        const char* what = e.kind == HostEvent::Kind::SendRequest      ? "lower modules answered"
                           : e.kind == HostEvent::Kind::DeliverRecord  ? "module delivered"
                           : e.kind == HostEvent::Kind::StartCompleted ? "module start completed"
                                                                       : "module forwarded event";
        std::printf("  [host] %s: %s\n", what, e.text.c_str());
    });

    Section("Loading the module");
    std::string error;
    if (!host.Load(library, error)) {
        std::fprintf(stderr, "emhost: %s\n", error.c_str());
        return 2;
    }
    std::printf("  library   %s\n", library.c_str());
    std::printf("  name      %s\n", U8(host.LibraryModuleName()).c_str());
    if (!host.Create() || !host.Module()) {
        std::fprintf(stderr, "emhost: EM_Create failed\n");
        return 2;
    }
    std::printf("  EM_Create -> module object created\n");

    Section("Module information block");
    std::vector<uint8_t> info(kModuleInfoSize, 0);
    uint32_t size = kModuleInfoSize;
    std::memcpy(info.data(), &size, 4);
    uint32_t r = host.Module()->GetModuleInfo(info.data());
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
    auto u32_at = [&](size_t off) {
        uint32_t v;
        std::memcpy(&v, &info[off], 4);
        return v;
    };
    std::printf("  GetModuleInfo -> %u\n  name        \"%s\"\n  description \"%s\"\n  flags@8 0x%X flags@24 0x%X value@32 %u\n",
                r, text_at(52).c_str(), text_at(252).c_str(), u32_at(8), u32_at(24), u32_at(32));

    Section("Start: cabinets and the count pass");
    host.Module()->SetCabinetNumber(scenario.server_cabinet);
    bool quiet = true;
    host.OnEvent([&quiet](const HostEvent& e) {
        if (quiet && e.kind == HostEvent::Kind::SendRequest) return;  // the count pass is summarised below
        std::printf("  [host] %s: %s\n", e.kind == HostEvent::Kind::StartCompleted ? "module start completed"
                                         : e.kind == HostEvent::Kind::DeliverRecord ? "module delivered"
                                         : e.kind == HostEvent::Kind::ForwardEvent  ? "module forwarded event"
                                                                                     : "lower modules answered",
                    e.kind == HostEvent::Kind::StartCompleted ? "" : e.text.c_str());
    });
    host.Module()->Start(&host, scenario.module_id);
    std::printf("  cabinets: %u (server) + SE", scenario.server_cabinet);
    for (uint32_t c : scenario.se_cabinets) std::printf(" %u", c);
    std::printf("\n");

    Section("OID map (global object index -> lower module, its own index)");
    bool any = false;
    for (const ObservedKind& k : host.ObservedKinds()) {
        if (k.modules.size() < 2) continue;  // one module: its own numbering is the global one
        any = true;
        std::printf("  cabinet %u, objects counted by 0x%04X-0x%02X:\n", k.cabinet, k.count_opcode, k.count_ext);
        uint32_t global = 0;
        for (auto [mi, n] : k.modules) {
            const LowerModule* m = host.ModuleById(mi);
            for (uint32_t i = 0; i < n; ++i, ++global)
                std::printf("    %3u -> %-8s (MI 0x%08X) #%u\n", global, m ? m->name.c_str() : "?", mi, i);
        }
    }
    if (!any) std::printf("  no object kind is served by more than one module: no mapping needed\n");

    Section("Detect cabinets: SEL format, languages, first log scans");
    host.Module()->DetectCabinets();
    quiet = false;

    Section("A request the module does not own");
    CSipRecord req(0x0D00, 0, 0, scenario.server_cabinet, kNoStatus);
    std::printf("  request   %s\n", DescribeRecord(req).c_str());
    uint32_t handled = host.Module()->OnRequest(&req);
    std::printf("  OnRequest -> %u (%s)\n  reply     %s\n", handled, handled ? "handled" : "declined",
                DescribeRecord(req).c_str());

    Section("Stop and unload");
    host.Module()->Stop();
    std::printf("  Stop\n  EM_Delete -> %u\n", host.Delete());
    host.Unload();
    std::printf("  library unloaded\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string library = EM_DEFAULT_LIBRARY;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--library" && i + 1 < argc) library = argv[++i];
        else if (a == "-h" || a == "--help") {
            Usage();
            return 0;
        } else args.push_back(a);
    }
    std::string cmd = args.empty() ? "demo" : args[0];
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
    } else {
        Usage();
        return 1;
    }
    return RunScenario(scenario, library);
}
