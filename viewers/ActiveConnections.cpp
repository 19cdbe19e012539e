#include "viewers/ActiveConnections.h"

#include <mutex>

#include "common/CLog.h"
#include "common/LogText.h"
#include "viewers/CContact.h"
#include "viewers/CContactList.h"

namespace halvora {

ActiveConnections::ActiveConnections(CContactList& contacts, IConnectionsView& view,
                                     std::function<void()> save_contacts, std::function<void()> header_step)
    : contacts_(contacts), view_(view), save_contacts_(std::move(save_contacts)),
      header_step_(std::move(header_step)) {}

void ActiveConnections::UpdateOnLine() {
    try {
        online_rows_.clear();
        int target_row = 0;
        {
            std::lock_guard guard(contacts_);
            const int count = contacts_.Count();
            std::vector<int> rows;
            for (int i = 0; i < count; ++i) {
                if (contacts_.Items(i)->IsOnline()) {
                    rows.push_back(i);
                }
            }
            for (std::size_t r = 0; r < rows.size(); ++r) {
                CContact* c = contacts_.Items(rows[r]);
                if (c == chat_target_) {
                    target_row = static_cast<int>(r);
                }
                if (rows.size() == 1) {
                    chat_target_ = c;
                }
            }
            online_rows_ = std::move(rows);
        }
        const int k = static_cast<int>(online_rows_.size());
        view_.SetRowCount(0);
        view_.SetRowCount(k);
        if (k > 0) {
            ListView2SelectItem(target_row);
            view_.MarkSelected(target_row);
        } else {
            view_.ClearChat();
        }
    } catch (const std::exception& e) {
        LogError(logtext::kLogUpdateOnLine, e.what());
    }
    if (header_step_) {
        header_step_();
    }
}

std::optional<std::string> ActiveConnections::RowAddress(int row) const {
    try {
        if (row < 0 || row >= static_cast<int>(online_rows_.size())) {
            return std::nullopt;
        }
        std::lock_guard guard(contacts_);
        return contacts_.Items(online_rows_[static_cast<std::size_t>(row)])->Address;
    } catch (const std::exception& e) {
        LogError(logtext::kLogListView2Data, e.what());
        return std::nullopt;
    }
}

CContact* ActiveConnections::ContactAtRow(int row) const {
    if (row < 0 || row >= static_cast<int>(online_rows_.size())) {
        return nullptr;
    }
    std::lock_guard guard(contacts_);
    const int index = online_rows_[static_cast<std::size_t>(row)];
    return index < contacts_.Count() ? contacts_.Items(index) : nullptr;
}

void ActiveConnections::ListView2SelectItem(int row) {
    try {
        if (save_contacts_) {
            save_contacts_();
        }
        if (row < 0) {
            return;
        }
        std::lock_guard guard(contacts_);
        // The row is looked up through the online rows: the contact at that row's
        // index in the contacts list.
        if (row < static_cast<int>(online_rows_.size())) {
            CContact* c = contacts_.Items(online_rows_[static_cast<std::size_t>(row)]);
            view_.SetChatLines(ParseForMemo(c->ChatHistory));
            chat_target_ = c;
            chat_target_row_ = row;
        }
    } catch (const std::exception& e) {
        LogError(logtext::kLogListView2SelectItem, e.what());
    }
}

std::vector<std::string> ActiveConnections::ParseForMemo(const std::string& text) {
    std::vector<std::string> lines;
    try {
        std::string s = text;
        while (!s.empty()) {
            const auto r = s.find('\r');
            const auto n = s.find('\n');
            std::string line;
            if (r != std::string::npos && n != std::string::npos) {
                line = s.substr(0, r);
                s = s.substr(n + 1);
            } else if (n != std::string::npos) {
                line = s.substr(0, n);
                s = s.substr(n + 1);
            } else {
                if (!s.empty()) {
                    lines.push_back(s);
                }
                break;
            }
            if (!line.empty()) {
                lines.push_back(line);
            }
        }
    } catch (const std::exception& e) {
        LogError(logtext::kLogParseForMemo, e.what());
    }
    return lines;
}

}  // namespace halvora
