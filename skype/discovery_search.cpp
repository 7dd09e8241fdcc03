#include "skype/discovery_search.h"

void noteBroadcast(DiscoverySearch& search) {
    search.answeredSinceBroadcast = false;
}

void noteAnswer(DiscoverySearch& search, bool askingUser) {
    search.answeredSinceBroadcast = true;
    search.askingUser = askingUser;
}

bool tickBroadcasts(DiscoverySearch& search, bool broadcastOnItsWay) {
    // A Skype that asked its user and then kept silent has gone (closed
    // instead of answered): back to the back-off, eager first.
    if (search.askingUser && !broadcastOnItsWay && !search.answeredSinceBroadcast) {
        search.askingUser = false;
        search.ticks = 0;
    }
    ++search.ticks;
    const bool due = search.askingUser || search.ticks <= kEagerDiscoveryTicks ||
                     search.ticks % kPatientDiscoveryTicks == 0;
    if (due && broadcastOnItsWay) {
        search.dueAfterBroadcast = true;
        return false;
    }
    return due;
}

bool broadcastReturned(DiscoverySearch& search) {
    const bool due = search.dueAfterBroadcast;
    search.dueAfterBroadcast = false;
    return due;
}
