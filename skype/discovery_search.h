// When the search for Skype broadcasts its Discover message: the back-off.
// Plain logic, no windows.h; the link counts the timer's ticks through it.
#pragma once

// While nothing answers: every tick of the player's 5-second timer for the
// first minute, then every sixth tick (30 s), so that a user whose Skype never
// answers costs the desktop little. A Skype that keeps answering that it asks
// its user is asked again at every tick.
constexpr unsigned kEagerDiscoveryTicks = 12;
constexpr unsigned kPatientDiscoveryTicks = 6;

struct DiscoverySearch {
    unsigned ticks = 0;      // since the search began, or since Skype fell silent
    bool askingUser = false; // Skype's last answer: it asks its user about us
    bool answeredSinceBroadcast = true;
    bool dueAfterBroadcast = false; // a tick was due while one was on its way
};

// A Discover broadcast leaves now.
void noteBroadcast(DiscoverySearch& search);
// Skype answered; `askingUser`: with PendingAuthorization.
void noteAnswer(DiscoverySearch& search, bool askingUser);
// Counts a tick of the timer; whether it broadcasts. None does while a
// broadcast is on its way (Skype may be answering it): a tick due then waits
// for its return.
bool tickBroadcasts(DiscoverySearch& search, bool broadcastOnItsWay);
// The broadcast on its way returned; whether a tick waits to broadcast.
bool broadcastReturned(DiscoverySearch& search);
