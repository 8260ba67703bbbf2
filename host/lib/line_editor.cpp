#include "host/lib/line_editor.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <readline/history.h>
#include <readline/readline.h>

#include "platform/environment.h"

namespace em::host {

LineEditor::LineEditor(std::string history_file)
    : m_history(std::move(history_file)), m_interactive(platform::StdinIsTerminal()) {
    if (m_interactive && !m_history.empty()) read_history(m_history.c_str());
}

LineEditor::~LineEditor() {
    if (m_interactive && !m_history.empty()) write_history(m_history.c_str());
}

std::optional<std::string> LineEditor::Read(const std::string& prompt) {
    if (!m_interactive) {
        std::string line;
        if (!std::getline(std::cin, line)) return std::nullopt;
        return line;
    }
    char* raw = readline(prompt.c_str());
    if (!raw) return std::nullopt;
    std::string line(raw);
    std::free(raw);
    if (!line.empty()) add_history(line.c_str());
    return line;
}

}  // namespace em::host
