// The settings of the booth's guards, in the booth's settings file: the
// credit guard and the low-balance notice under "Credit", the answer
// supervision's thresholds under "AnswerSupervision". A value missing, not
// a number or out of its range reads as its default, so a file edited by
// hand never switches a guard off by accident.
#pragma once

#include "app/guards/credit_guard.h"
#include "media/answer_supervision.h"

class QSettings;

inline constexpr int kShortestBalanceRefresh = 15;

struct TGuardSettings {
    TCreditGuardSettings Credit;
    // A balance that pays for fewer minutes than this at the last rate is
    // shown as low after each portal refresh; 0 turns the notice off.
    int LowBalanceMinutes = 10;
    // How often the balance is read from the portal during a call; 0 never.
    // Kept at kShortestBalanceRefresh or more, so a hand-edited file cannot
    // have the booth flood the portal.
    int BalanceRefreshSeconds = 60;
    media::TAnswerSupervisionSettings Answer;
};

TGuardSettings ReadGuardSettings(QSettings& settings);
void WriteGuardSettings(QSettings& settings, const TGuardSettings& values);
