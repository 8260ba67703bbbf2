// Collects the module's trace lines during a test.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace em::test {

class TraceCapture {
public:
    explicit TraceCapture(unsigned level = 5);
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<std::u16string> Lines() const;
    // Lines converted to UTF-8, for readable assertions.
    std::vector<std::string> Utf8Lines() const;
    bool Contains(const std::string& utf8_fragment) const { return Count(utf8_fragment) > 0; }
    size_t Count(const std::string& utf8_fragment) const;
    void Clear();

private:
    static void Sink(void* ctx, unsigned level, std::u16string_view line);
    mutable std::mutex m_mutex;
    std::vector<std::u16string> m_lines;
};

}  // namespace em::test
