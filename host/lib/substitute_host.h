// The substitute host: loads the module library, offers the host interface and answers the
// module's requests from the simulated lower modules of a scenario.
#pragma once

#include <atomic>
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/lib/scenario.h"
#include "module/extension_module.h"
#include "module/host_interface.h"
#include "module/sip_record.h"
#include "platform/library.h"
#include "platform/sync.h"

namespace em::host {

// The objects of one kind in one cabinet as the count replies numbered them.
struct ObservedKind {
    uint32_t cabinet = 0;
    uint32_t count_opcode = 0;
    uint32_t count_ext = 0;
    std::vector<std::pair<uint32_t, uint32_t>> modules;  // (module id, count), in reply order
};

// What the host saw happen, in order.
struct HostEvent {
    // SendRequest: the record as the lower modules answered it; ReplyUp: the same record after it
    // travelled back up through the module's OnReply, one command after the other.
    enum class Kind { SendRequest, ReplyUp, DeliverRecord, StartCompleted, ForwardEvent } kind;
    std::string text;  // the record, rendered
};

// What SendRequest throws when a scenario makes a lower module fail inside it.
struct LowerModuleFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The lower modules of a scenario: they answer requests from their objects, logs, texts and
// canned answers, and their logs change when scenario events happen. Thread-safe.
class LowerModules {
public:
    explicit LowerModules(const Scenario& scenario);
    // Answers every command of the record in place; a command addressed to all modules (MI
    // 0xFFFFFFFF) is replaced by one command per lower module of its cabinet. A module slower
    // than the time-out answers ST 0x0F (the host does not wait the full delay).
    void Respond(CSipRecord& record, uint32_t timeout_ms);
    // Applies an event to the modules' logs and builds the record the module sends up.
    void Apply(const ScenarioEvent& event, CSipRecord& out);
    // Log entries a scan of the cabinet reads: the unified records of the modules that answer
    // CM_LogMessageArgumentsRead, the error and event logs of the others. exact is false when a
    // canned answer stands in for a log read.
    size_t ScanSize(uint32_t cabinet, bool& exact) const;
    // Name of the module with that id ("?" when unknown).
    std::string NameOf(uint32_t id) const;

    struct Reply {
        uint32_t st = 0;
        Data da;
        uint32_t delay_ms = 0;
        bool fail = false;
    };

private:
    Reply Simulate(LowerModule& m, uint32_t oc, uint32_t oe, uint32_t oi, uint64_t da, bool has_da) EM_REQUIRES(m_mutex);
    uint32_t ObjectAnswer(const LowerModule& m, uint32_t oc, uint32_t oe, uint32_t oi, Data& d) const;

    mutable platform::CriticalSection m_mutex;
    std::vector<LowerModule> m_modules EM_GUARDED_BY(m_mutex);
    uint32_t m_unanswered;
};

class SubstituteHost : public IExtensionHost {
public:
    explicit SubstituteHost(Scenario scenario);
    ~SubstituteHost();

    // Loads the library and resolves its four exports.
    bool Load(const std::string& library_path, std::string& error);
    void Unload();

    // The exports.
    uint32_t Create();
    uint32_t Delete();
    std::u16string LibraryModuleName() const;
    uint32_t SetupAction();

    IExtensionModule* Module() const { return m_module; }
    const Scenario& GetScenario() const { return m_scenario; }

    // IExtensionHost. The lower modules answer in place; then, as in a host's chain of modules,
    // each command of the reply travels back up through the calling module's OnReply.
    uint32_t SendRequest(IExtensionModule* module, CSipRecord* record, uint32_t timeout_ms) override;
    // Makes a scenario event happen: the lower module's log changes and its event record goes up
    // through the module's OnReply. Returns the record as it was sent.
    std::string RaiseEvent(const ScenarioEvent& event);
    // Sends any record up through the module's OnReply, as a lower module's event or reply.
    std::string RaiseRecord(CSipRecord& record);
    LowerModules& Lower() { return m_lower; }
    uint32_t DeliverRecord(IExtensionModule* module, CSipRecord* record) override;
    uint32_t StartCompleted(IExtensionModule* module, uint32_t reserved) override;
    uint32_t GetSECabinets(uint32_t** cabinets, uint8_t* count) override;
    uint32_t ForwardEvent(IExtensionModule* module, CSipRecord* record, uint16_t mi_high, uint16_t mi_low) override;
    uint32_t GetHostType() override;

    // Count opcodes broadcast by the module and what each lower module answered.
    std::vector<ObservedKind> ObservedKinds() const;
    const LowerModule* ModuleById(uint32_t id) const;

    // Sends a request from above through the module. When the module accepts it for later (ST 22),
    // waits up to wait_ms for the record the module delivers for it (matched by a tag the host
    // attaches to the request) and copies that into delivered.
    struct Outcome {
        uint32_t result = 0;      // OnRequest's result
        bool pending = false;     // accepted with ST 22
        bool delivered = false;   // the later answer arrived
    };
    Outcome Submit(CSipRecord& request, CSipRecord& delivered, uint32_t wait_ms);
    // Like a host, numbers a request in CI unless it has a number; the module carries CI into the
    // copies it sends down and into the record it delivers later. Submit does this itself.
    void Number(CSipRecord& request);

    std::vector<HostEvent> Events() const;
    void ClearEvents();
    // Called for every host event as it happens (the tool prints them live).
    void OnEvent(std::function<void(const HostEvent&)> fn) { m_listener = std::move(fn); }
    // Keep and render host events (on by default). Load runs turn it off and watch the records
    // through OnRecord instead. Set both before the module starts.
    void KeepEvents(bool on) { m_keepEvents = on; }
    // Called with every record the module delivers or forwards, on the calling thread.
    void OnRecord(std::function<void(HostEvent::Kind, const CSipRecord&)> fn) { m_observer = std::move(fn); }

private:
    void Record(HostEvent::Kind kind, const CSipRecord& record);
    void PassRepliesUp(IExtensionModule& module, CSipRecord& record);

    Scenario m_scenario;
    LowerModules m_lower;
    platform::Library m_library;
    using CreateFn = uint32_t (*)(IExtensionModule**, void*);
    using DeleteFn = uint32_t (*)();
    using NameFn = const char16_t* (*)();
    using SetupFn = uint32_t (*)(uint32_t, void*);
    CreateFn m_create = nullptr;
    DeleteFn m_delete = nullptr;
    NameFn m_name = nullptr;
    SetupFn m_setup = nullptr;
    IExtensionModule* m_module = nullptr;
    std::vector<uint32_t> m_seCabinets;

    mutable std::mutex m_mutex;
    std::vector<HostEvent> m_events;  // guarded by m_mutex
    std::vector<ObservedKind> m_observed;  // guarded by m_mutex
    std::condition_variable m_delivered;
    uint64_t m_nextTag = 0;                                    // guarded by m_mutex
    std::atomic<uint32_t> m_nextCI{0};
    std::map<std::u16string, std::unique_ptr<CSipRecord>> m_pending;  // guarded by m_mutex
    std::function<void(const HostEvent&)> m_listener;
    std::function<void(HostEvent::Kind, const CSipRecord&)> m_observer;
    bool m_keepEvents = true;
};

// One-line rendering of a record: "CA=0 OC=0x0B10 ... ST=0 DA=..." per command.
std::string DescribeRecord(const CSipRecord& record);
// The record as JSON text (for --json and scripts).
std::string RecordToJson(const CSipRecord& record);

}  // namespace em::host
