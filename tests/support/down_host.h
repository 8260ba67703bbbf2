// A substitute host that also keeps every request as the module sent it down, before the lower
// modules answer it, and can be told to fail when the module hands a record up.
#pragma once

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/lib/substitute_host.h"

namespace em::test {

class DownHost : public host::SubstituteHost {
public:
    using SubstituteHost::SubstituteHost;

    uint32_t SendRequest(IExtensionModule* module, CSipRecord* record, uint32_t timeout_ms) override {
        if (record) {
            std::lock_guard<std::mutex> g(m_downMutex);
            m_down.push_back(host::DescribeRecord(*record));
            m_timeouts.push_back(timeout_ms);
        }
        return SubstituteHost::SendRequest(module, record, timeout_ms);
    }
    uint32_t DeliverRecord(IExtensionModule* module, CSipRecord* record) override {
        const uint32_t r = SubstituteHost::DeliverRecord(module, record);
        if (failDelivery) throw std::runtime_error("host failed to deliver");
        return r;
    }
    uint32_t ForwardEvent(IExtensionModule* module, CSipRecord* record, uint16_t hi, uint16_t lo) override {
        {
            std::lock_guard<std::mutex> g(m_downMutex);
            m_forwarded.push_back((uint32_t{hi} << 16) | lo);
        }
        return SubstituteHost::ForwardEvent(module, record, hi, lo);
    }

    // The requests sent down so far, each rendered like "CA=0 OC=0x0B16 MI=0xFFFFFFFF"; the
    // time-outs they went down with; the module ids (high and low half joined) events went up with.
    std::vector<std::string> Down() const { return Copy(m_down); }
    std::vector<uint32_t> Timeouts() const { return Copy(m_timeouts); }
    std::vector<uint32_t> ForwardedIds() const { return Copy(m_forwarded); }
    // Those whose rendering contains every fragment.
    std::vector<std::string> Down(std::initializer_list<std::string> fragments) const {
        std::vector<std::string> out;
        for (const std::string& d : Down())
            if (std::all_of(fragments.begin(), fragments.end(), [&](auto& f) { return d.find(f) != std::string::npos; }))
                out.push_back(d);
        return out;
    }
    // The records handed up with DeliverRecord whose rendering contains fragment.
    std::vector<std::string> Delivered(const std::string& fragment) const {
        std::vector<std::string> out;
        for (const host::HostEvent& e : Events())
            if (e.kind == host::HostEvent::Kind::DeliverRecord && e.text.find(fragment) != std::string::npos)
                out.push_back(e.text);
        return out;
    }

    bool failDelivery = false;

private:
    template <class T>
    T Copy(const T& v) const {
        std::lock_guard<std::mutex> g(m_downMutex);
        return v;
    }
    mutable std::mutex m_downMutex;
    std::vector<std::string> m_down;
    std::vector<uint32_t> m_timeouts, m_forwarded;
};

}  // namespace em::test
