#pragma once

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>

#include <exception>

#include "core/relay.h"
#include "model/preferences.h"

namespace orlune {

// How long a failing relay stays hidden.
inline constexpr qint64 kQuarantineSeconds = 1'800;

// Hidden relays: relay id → end of hiding, stored as seconds since 1970. Entries that have
// ended by `now` are not loaded; a stored value of the wrong shape reads as empty.
QHash<QString, QDateTime> readQuarantine(const Preferences& preferences, const QDateTime& now);
void writeQuarantine(Preferences& preferences, const QHash<QString, QDateTime>& quarantine);
// Two processes' hidden relays as one: the later end wins for each relay; ended entries drop.
QHash<QString, QDateTime> mergeQuarantine(QHash<QString, QDateTime> a, const QHash<QString, QDateTime>& b,
                                          const QDateTime& now);

// The same ends `milliseconds` later (earlier when negative).
QHash<QString, QDateTime> shiftedQuarantine(QHash<QString, QDateTime> quarantine, qint64 milliseconds);
// Below this, a difference between the wall clock and the real time elapsed is the clocks' drift,
// not a change of the wall clock.
inline constexpr qint64 kWallClockJumpMilliseconds = 1'000;

// Favourites: a list of relay ids (order not significant).
QSet<QString> readFavorites(const Preferences& preferences);
void writeFavorites(Preferences& preferences, const QSet<QString>& favorites);

// Last known records of the favourites: a JSON array of relay records. Unreadable data reads as
// empty (and is left as it is until the next write); a later record wins over an earlier one.
QHash<QString, Relay> readFavoriteSnapshots(const Preferences& preferences);
void writeFavoriteSnapshots(Preferences& preferences, const QHash<QString, Relay>& snapshots);

// Whether a failed attempt should hide the relay that caused it: only failures the relay answers
// for (it could not be reached or authenticated, or its tunnel did not verify). Failures of this
// computer, its network, the local service or its socket do not; a cancelled attempt does not
// either.
bool shouldQuarantine(const std::exception_ptr& error);

}  // namespace orlune
