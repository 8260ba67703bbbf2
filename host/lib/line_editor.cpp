#include "host/lib/line_editor.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#if defined(EM_HAVE_READLINE)
#include <readline/history.h>
#include <readline/readline.h>
#endif

#include "platform/environment.h"

namespace em::host {

#if defined(EM_HAVE_READLINE)
LineEditor::LineEditor(std::string history_file)
    : m_history(std::move(history_file)), m_interactive(platform::StdinIsTerminal()) {
    if (m_interactive && !m_history.empty()) read_history(m_history.c_str());
}

LineEditor::~LineEditor() {
    if (m_interactive && !m_history.empty()) write_history(m_history.c_str());
}
#else
// Without the line editing library: plain lines, the prompt written when the input is a terminal.
LineEditor::LineEditor(std::string history_file)
    : m_history(std::move(history_file)), m_interactive(platform::StdinIsTerminal()) {}

LineEditor::~LineEditor() = default;
#endif

std::optional<std::string> LineEditor::Read(const std::string& prompt) {
    if (!m_interactive) {
        std::string line;
        if (!std::getline(std::cin, line)) return std::nullopt;
        if (!line.empty() && line.back() == '\r') line.pop_back();  // a script written on Windows
        return line;
    }
#if defined(EM_HAVE_READLINE)
    char* raw = readline(prompt.c_str());
    if (!raw) return std::nullopt;
    std::string line(raw);
    std::free(raw);
    if (!line.empty()) add_history(line.c_str());
    return line;
#else
    std::cout << prompt << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
#endif
}

}  // namespace em::host
