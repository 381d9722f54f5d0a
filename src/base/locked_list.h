// LockedList: a growable array of element pointers with its own critical section and an owning
// flag. Used for the user table, each folder's message index and the MIME lists.
//
// Changes (append, insert, insert after, replace, remove, clear, resize, destroy) hold the
// lock; reads (count, at, first, last) do not, so a reader on another thread must know that no
// change runs at the same time, or hold the lock itself with Lock/Unlock. When an insert finds
// the array full, a new zeroed array of count + 65 slots replaces it (count + count / 2 for a
// list past 130 elements). Clear and the destructor
// delete every element; Remove and Replace delete the element they drop only when the list is
// owning.
#ifndef ORV_BASE_LOCKED_LIST_H_
#define ORV_BASE_LOCKED_LIST_H_

#include <cstring>

#include "platform/threads.h"

template <typename T>
class LockedList {
  public:
    explicit LockedList(bool owning = true) : owning_(owning) {}
    ~LockedList() { Clear(); }
    LockedList(const LockedList&) = delete;
    LockedList& operator=(const LockedList&) = delete;

    int Count() const { return count_; }
    int Capacity() const { return capacity_; }
    bool IsOwning() const { return owning_; }
    // The element at index, or null when out of range.
    T* At(int index) const { return (index >= 0 && index < count_) ? items_[index] : nullptr; }
    T* First() const { return At(0); }
    T* Last() const { return At(count_ - 1); }

    void Append(T* item) {
        platform::CriticalSectionLock hold(lock_);
        InsertLocked(count_, item);
    }
    // Inserts before index (index == Count() appends). False when out of range.
    bool Insert(int index, T* item) {
        platform::CriticalSectionLock hold(lock_);
        if (index < 0 || index > count_)
            return false;
        InsertLocked(index, item);
        return true;
    }
    // Inserts after index. False when out of range.
    bool InsertAfter(int index, T* item) {
        platform::CriticalSectionLock hold(lock_);
        if (index < 0 || index >= count_)
            return false;
        InsertLocked(index + 1, item);
        return true;
    }
    // Puts item at index in place of the element there. False when out of range.
    bool Replace(int index, T* item) {
        platform::CriticalSectionLock hold(lock_);
        if (index < 0 || index >= count_)
            return false;
        T* old = items_[index];
        items_[index] = item;
        if (owning_ && old != item)
            delete old;
        return true;
    }
    // Takes the element at index out of the list. False when out of range.
    bool Remove(int index) {
        platform::CriticalSectionLock hold(lock_);
        if (index < 0 || index >= count_)
            return false;
        T* old = items_[index];
        std::memmove(items_ + index, items_ + index + 1, sizeof(T*) * (count_ - index - 1));
        items_[--count_] = nullptr;
        if (owning_)
            delete old;
        return true;
    }
    // Deletes every element and frees the array.
    void Clear() {
        platform::CriticalSectionLock hold(lock_);
        for (int i = 0; i < count_; ++i)
            delete items_[i];
        delete[] items_;
        items_ = nullptr;
        count_ = 0;
        capacity_ = 0;
    }
    // Makes room for at least n slots (never shrinks).
    void Resize(int n) {
        platform::CriticalSectionLock hold(lock_);
        if (n > capacity_)
            Reallocate(n);
    }

    void Lock() { lock_.Enter(); }
    void Unlock() { lock_.Leave(); }

  private:
    void InsertLocked(int index, T* item) {
        if (count_ >= capacity_)
            // count + 65 slots, or half as many again for a long list (a folder of 100,000
            // messages), so filling a list stays linear.
            Reallocate(count_ + (count_ / 2 > 65 ? count_ / 2 : 65));
        std::memmove(items_ + index + 1, items_ + index, sizeof(T*) * (count_ - index));
        items_[index] = item;
        ++count_;
    }
    void Reallocate(int slots) {
        T** grown = new T*[slots]();
        if (count_ > 0)
            std::memcpy(grown, items_, sizeof(T*) * count_);
        delete[] items_;
        items_ = grown;
        capacity_ = slots;
    }

    platform::CriticalSection lock_;
    T** items_ = nullptr;
    int count_ = 0;
    int capacity_ = 0;
    bool owning_;
};

#endif  // ORV_BASE_LOCKED_LIST_H_
