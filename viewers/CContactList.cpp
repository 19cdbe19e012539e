#include "viewers/CContactList.h"

#include <mutex>

namespace halvora {

CContactList::~CContactList() { DestroyAll(); }

CContact* CContactList::Adopt(std::unique_ptr<CContact> contact) {
    std::lock_guard guard(*this);
    CContact* raw = contact.get();
    owned_.push_back(std::move(contact));
    Add(raw);
    return raw;
}

CContact* CContactList::FindByAddress(std::string_view address) const {
    std::lock_guard guard(*this);
    const int count = Count();
    for (int i = 0; i < count; ++i) {
        CContact* c = Items(i);
        if (c->Address == address) {
            return c;
        }
    }
    return nullptr;
}

void CContactList::DestroyAll() {
    std::lock_guard guard(*this);
    while (Count() > 0) {
        CContact* front = Items(0);
        Delete(0);
        for (auto it = owned_.begin(); it != owned_.end(); ++it) {
            if (it->get() == front) {
                owned_.erase(it);
                break;
            }
        }
    }
    owned_.clear();
}

}  // namespace halvora
