#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "common/CMultiThreadList.h"
#include "viewers/CContact.h"

namespace halvora {

// The list of all contacts (the main window's Contacts). It owns its contacts:
// none is removed while the server runs, so a contact pointer taken from it
// stays valid until DestroyAll at shutdown, after the server has closed.
class CContactList : public CMultiThreadList<CContact> {
public:
    CContactList() = default;
    ~CContactList();

    // Appends a contact and takes ownership; returns the stored pointer.
    CContact* Adopt(std::unique_ptr<CContact> contact);

    // The first contact whose Address equals address byte for byte, or null.
    // Takes the list's lock for the walk.
    CContact* FindByAddress(std::string_view address) const;

    // Destroys every contact, front first, under the lock.
    void DestroyAll();

private:
    std::vector<std::unique_ptr<CContact>> owned_;  // guarded by the list's lock
};

}  // namespace halvora
