#include "skype/call_book.h"

#include "skype/notification.h"

#include <algorithm>

namespace {

std::string boundedId(std::string_view id) {
    return std::string(id.substr(0, kMaxCallIdBytes));
}

} // namespace

void rememberCall(CallBook& book, std::string_view id) {
    const std::string bounded = boundedId(id);
    if (std::find(book.ids.begin(), book.ids.end(), bounded) != book.ids.end())
        return;
    if (book.ids.size() >= kMaxRememberedCalls)
        book.ids.erase(book.ids.begin());
    book.ids.push_back(bounded);
}

bool forgetCall(CallBook& book, std::string_view id) {
    const auto found = std::find(book.ids.begin(), book.ids.end(), boundedId(id));
    if (found == book.ids.end())
        return false;
    book.ids.erase(found);
    return true;
}

void keepListedCalls(CallBook& book, std::string_view list) {
    book.ids.erase(std::remove_if(book.ids.begin(), book.ids.end(),
                                  [list](const std::string& id) { return !listsCall(list, id); }),
                   book.ids.end());
}
