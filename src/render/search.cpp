// The SEARCH criterion test. ALL is the one criterion served; every other search key, and
// every argument of a key, is a criterion of its own that no message meets.
#include "render/flag_update.h"

bool TestCriterion(const MessageEntry& entry, const TextList& arguments, int* position) {
    (void)entry;
    const Text* criterion = arguments.At(*position);
    ++*position;
    return criterion != nullptr && criterion->CompareNoCase("ALL") == 0;
}
