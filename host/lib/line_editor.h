// Reads command lines with editing and history when the input is a terminal.
#pragma once

#include <optional>
#include <string>

namespace em::host {

class LineEditor {
public:
    explicit LineEditor(std::string history_file);
    ~LineEditor();
    // The next line, or nothing at the end of the input.
    std::optional<std::string> Read(const std::string& prompt);

private:
    std::string m_history;
    bool m_interactive;
};

}  // namespace em::host
