#pragma once

#include <string>
#include <vector>

namespace halvora {

// The main window's active-connections list and chat memo, as the chat and the
// list logic see them. Main thread only. Without a window (headless) every call
// is a no-op (NullConnectionsView).
class IConnectionsView {
public:
    virtual ~IConnectionsView() = default;
    // Within one bulk update: the list's rows become 0, then rows.
    virtual void SetRowCount(int rows) = 0;
    virtual void MarkSelected(int row) = 0;
    // The first selected row, or -1.
    virtual int SelectedRow() const = 0;
    // Replaces the memo's lines (the lines ParseForMemo made of a history).
    virtual void SetChatLines(const std::vector<std::string>& lines) = 0;
    virtual void AppendChatLine(const std::string& line) = 0;
    virtual void ClearChat() = 0;
    virtual void RepaintList() = 0;
};

class NullConnectionsView final : public IConnectionsView {
public:
    void SetRowCount(int) override {}
    void MarkSelected(int) override {}
    int SelectedRow() const override { return -1; }
    void SetChatLines(const std::vector<std::string>&) override {}
    void AppendChatLine(const std::string&) override {}
    void ClearChat() override {}
    void RepaintList() override {}
};

}  // namespace halvora
