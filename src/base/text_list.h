// TextList: a growable array of owned Text items. The arguments of a command line and the two
// folder lists of a MailStore are TextLists. Grows to the needed count plus 64 slots.
#ifndef ORV_BASE_TEXT_LIST_H_
#define ORV_BASE_TEXT_LIST_H_

#include "base/text.h"

class TextList {
  public:
    TextList();
    TextList(const TextList& other);
    TextList& operator=(const TextList& other);
    ~TextList();

    int Count() const { return count_; }
    int Capacity() const { return capacity_; }
    // The item at index, or null when out of range.
    Text* At(int index) const;
    // Appends a copy.
    void Append(const Text& item);
    // Inserts a copy before index (index == Count() appends). False when out of range.
    bool Insert(int index, const Text& item);
    // Removes and deletes the item at index. False when out of range.
    bool Remove(int index);
    // The first item equal to t (case-sensitive), or null; and its index, or -1.
    Text* Find(const Text& t) const;
    int IndexOf(const Text& t) const;
    void Clear();

  private:
    void Grow(int needed);
    Text** items_;
    int count_;
    int capacity_;
};

#endif  // ORV_BASE_TEXT_LIST_H_
