#pragma once

#include <cstddef>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/CMultiThreadClass.h"

namespace halvora {

// An ordered list of pointers with its own recursive lock. The list never owns
// what its entries point to.
//
// Every locked operation takes the lock itself; a caller that walks the list
// holds Lock() (or a std::lock_guard on the list) across Count() and Items(),
// which is why the lock is recursive.
template <typename T>
class CMultiThreadList : public CMultiThreadClass {
public:
    CMultiThreadList() = default;
    ~CMultiThreadList() = default;

    int Count() const {
        std::lock_guard guard(*this);
        return static_cast<int>(items_.size());
    }

    // Appends at the end; returns the new entry's index.
    int Add(T* item) {
        std::lock_guard guard(*this);
        items_.push_back(item);
        return static_cast<int>(items_.size()) - 1;
    }

    void Clear() {
        std::lock_guard guard(*this);
        items_.clear();
    }

    // Removes the entry at a zero-based index; an index outside the list throws
    // std::out_of_range with the lock released.
    void Delete(int index) {
        std::lock_guard guard(*this);
        CheckIndex(index);
        items_.erase(items_.begin() + index);
    }

    // Removes the first entry equal to item; returns item if found, else nullptr.
    T* Extract(const T* item) {
        std::lock_guard guard(*this);
        for (auto it = items_.begin(); it != items_.end(); ++it) {
            if (*it == item) {
                T* found = *it;
                items_.erase(it);
                return found;
            }
        }
        return nullptr;
    }

    // Not locked by itself: read only while holding Lock().
    T* Items(int index) const {
        CheckIndex(index);
        return items_[static_cast<std::size_t>(index)];
    }

    // A copy of the entries taken under the lock, for walks that must not hold it.
    std::vector<T*> Snapshot() const {
        std::lock_guard guard(*this);
        return items_;
    }

private:
    void CheckIndex(int index) const {
        if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) {
            throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
        }
    }

    std::vector<T*> items_;
};

}  // namespace halvora
