#pragma once

#include "channel.h"

#include <QDateTime>

namespace simulate {

/// The simulation's start on the wall clock; virtual time counts from here.
inline const QDateTime WallStart = QDateTime(QDate(2026, 1, 5), QTime(9, 0), Qt::UTC);

/// The body of a forked till process: a host that loads the plug-in's front and drives
/// it with the commands `channel` brings, until "quit" or until the simulation kills it.
/// Its clock, its REST client and its journal's crash points all go through the channel,
/// so the parent decides every fault and keeps virtual time. Never returns.
/// `process` names this till among all a run forks: its journal owner handles are named
/// from it.
[[noreturn]] void runTill(Channel channel, int reverseUnknown, quint64 process);

} // namespace simulate
