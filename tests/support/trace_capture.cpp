#include "tests/support/trace_capture.h"

#include <algorithm>
#include <cstdlib>

#include "diag/debug.h"
#include "platform/codepage.h"
#include "platform/environment.h"

namespace em::test {

#if defined(_WIN32)
namespace {
// Tests name the home directory as on POSIX (%HOME%); Windows calls it USERPROFILE.
const bool g_homeNamed = [] {
    const char* profile = std::getenv("USERPROFILE");
    if (!std::getenv("HOME") && profile) platform::SetEnvironmentVariable("HOME", profile);
    return true;
}();
}  // namespace
#endif

TraceCapture::TraceCapture(unsigned level) { diag::g_Debug.SetCapture(&TraceCapture::Sink, this, level); }

TraceCapture::~TraceCapture() { diag::g_Debug.SetCapture(nullptr, nullptr, 0); }

void TraceCapture::Sink(void* ctx, unsigned, std::u16string_view line) {
    auto* self = static_cast<TraceCapture*>(ctx);
    std::lock_guard<std::mutex> g(self->m_mutex);
    self->m_lines.emplace_back(line);
}

std::vector<std::u16string> TraceCapture::Lines() const {
    std::lock_guard<std::mutex> g(m_mutex);
    return m_lines;
}

std::vector<std::string> TraceCapture::Utf8Lines() const {
    std::vector<std::string> out;
    for (const auto& l : Lines()) out.push_back(platform::Utf16ToUtf8(l));
    return out;
}

size_t TraceCapture::Count(const std::string& fragment) const {
    const auto lines = Utf8Lines();
    return std::ranges::count_if(lines, [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
}

void TraceCapture::Clear() {
    std::lock_guard<std::mutex> g(m_mutex);
    m_lines.clear();
}

}  // namespace em::test
