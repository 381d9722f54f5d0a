// TextList: an array of owned Text pointers that grows in steps of 64 slots beyond the need.
// Items are always stored as assigned copies, so each one has a buffer and compares as itself.
#include "base/text_list.h"

#include <cstring>

namespace {

constexpr int kSlack = 64;

Text* CopyOf(const Text& item) {
    Text* copy = new Text;
    copy->Assign(item);
    return copy;
}

}  // namespace

TextList::TextList() : items_(nullptr), count_(0), capacity_(0) {}

TextList::TextList(const TextList& other) : items_(nullptr), count_(0), capacity_(0) {
    *this = other;
}

TextList& TextList::operator=(const TextList& other) {
    if (this == &other)
        return *this;
    Clear();
    Grow(other.count_);
    for (int i = 0; i < other.count_; ++i)
        items_[i] = CopyOf(*other.items_[i]);
    count_ = other.count_;
    return *this;
}

TextList::~TextList() {
    Clear();
    delete[] items_;
}

void TextList::Grow(int needed) {
    if (needed <= capacity_)
        return;
    Text** grown = new Text*[needed + kSlack];
    if (count_ > 0)
        std::memcpy(grown, items_, sizeof(Text*) * count_);
    delete[] items_;
    items_ = grown;
    capacity_ = needed + kSlack;
}

Text* TextList::At(int index) const {
    if (index < 0 || index >= count_)
        return nullptr;
    return items_[index];
}

void TextList::Append(const Text& item) {
    Grow(count_ + 1);
    items_[count_++] = CopyOf(item);
}

bool TextList::Insert(int index, const Text& item) {
    if (index < 0 || index > count_)
        return false;
    Grow(count_ + 1);
    std::memmove(items_ + index + 1, items_ + index, sizeof(Text*) * (count_ - index));
    items_[index] = CopyOf(item);
    ++count_;
    return true;
}

bool TextList::Remove(int index) {
    if (index < 0 || index >= count_)
        return false;
    delete items_[index];
    std::memmove(items_ + index, items_ + index + 1, sizeof(Text*) * (count_ - index - 1));
    --count_;
    return true;
}

Text* TextList::Find(const Text& t) const {
    return At(IndexOf(t));
}

int TextList::IndexOf(const Text& t) const {
    for (int i = 0; i < count_; ++i) {
        if (*items_[i] == t)
            return i;
    }
    return -1;
}

void TextList::Clear() {
    for (int i = 0; i < count_; ++i)
        delete items_[i];
    count_ = 0;
}
