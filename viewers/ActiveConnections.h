#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "viewers/IConnectionsView.h"

namespace halvora {

class CContact;
class CContactList;

// The list of online contacts and the operator's chat target (main thread
// only). Rows follow the order of the contacts list; a row maps to the index of
// its contact there, which stays valid because contacts are only appended.
class ActiveConnections {
public:
    ActiveConnections(CContactList& contacts, IConnectionsView& view, std::function<void()> save_contacts,
                      std::function<void()> header_step);

    // Rebuilds the rows from the contacts now online, keeps or moves the chat
    // target, and ends with one header step so a viewer that just connected gets
    // the audio headers at once.
    void UpdateOnLine();
    // ListView2Data: the address shown in a row, if the row exists.
    std::optional<std::string> RowAddress(int row) const;
    // ListView2SelectItem: saves the contacts, then makes the row's contact the
    // chat target and shows its history.
    void ListView2SelectItem(int row);

    // The contact index of each row; empty when no contact is online.
    const std::vector<int>& OnlineRows() const { return online_rows_; }
    CContact* ChatTarget() const { return chat_target_; }
    int ChatTargetRow() const { return chat_target_row_; }
    // The contact shown in a row, or null.
    CContact* ContactAtRow(int row) const;

    // Splits a chat history into the memo's lines: at line feeds, a carriage
    // return before a line feed dropped with it, empty lines skipped.
    static std::vector<std::string> ParseForMemo(const std::string& text);

private:
    CContactList& contacts_;
    IConnectionsView& view_;
    std::function<void()> save_contacts_;
    std::function<void()> header_step_;
    std::vector<int> online_rows_;
    CContact* chat_target_ = nullptr;
    int chat_target_row_ = -1;
};

}  // namespace halvora
