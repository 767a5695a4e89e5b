// The booth's side of the replication inside its SQLite journal: every
// change to a call or a void is noted in the table shop_outbox by the same
// statement that makes it (a trigger), so the note and the change are one
// transaction and a power cut loses neither. The replicator reads the notes
// in order, sends the rows as they stand and deletes the notes it sent.
//
// The triggers are TEMP, on the writer's connection only: a booth without a
// shop pays nothing, and what the replicator itself writes into the
// journal (the counter's payments coming back) is never sent back again.
#pragma once

#include <cstdint>
#include <vector>

#include <QString>
#include <QVariantList>

class TJournalDb;

// Installs the triggers on the writer's connection (idempotent).
void AttachShopOutbox(TJournalDb& writer);

// One row to send: a call (the journal's columns, kCallColumns' order) or a
// void (call id, voided at, paid at, amount received).
struct TOutboxItem {
    enum class TKind { Call, Void };
    TKind Kind = TKind::Call;
    std::int64_t RowId = 0;
    std::int64_t Seq = 0;  // the newest note of this row in the batch
    QVariantList Values;
};

struct TOutboxBatch {
    std::int64_t LastSeq = 0;       // every note up to here is covered
    std::vector<TOutboxItem> Items;  // one per row, by their newest note
    bool IsEmpty() const { return Items.empty(); }
};

// The call columns sent, in the order of TOutboxItem::Values.
inline constexpr const char* kCallColumns[] = {
    "started_at", "answered_at", "ended_at", "updated_at", "number", "dial_string", "destination", "rate",
    "rate_origin", "seconds", "charged_minutes", "provider_cost", "customer_price", "state", "sip_status",
    "end_reason", "cut_reason", "answer_flags", "quality_mos", "quality_jitter_ms", "quality_loss_percent",
    "paid_at", "amount_received", "session_id"};
enum TCallColumn {
    kStartedAt, kAnsweredAt, kEndedAt, kUpdatedAt, kNumber, kDialString, kDestination, kRate, kRateOrigin,
    kSeconds, kChargedMinutes, kProviderCost, kCustomerPrice, kState, kSipStatus, kEndReason, kCutReason,
    kAnswerFlags, kQualityMos, kQualityJitter, kQualityLoss, kPaidAt, kAmountReceived, kSessionId,
    kCallColumnCount
};

// The oldest notes (at most `limit`), merged per row, with the rows as they
// stand in one read snapshot: the rows are exactly as the last note covered
// leaves them. Throws std::runtime_error on a journal error.
TOutboxBatch ReadOutboxBatch(TJournalDb& db, int limit);

// Forgets the notes sent.
void DeleteSent(TJournalDb& db, std::int64_t lastSeq);

// Notes every call and booth void of the journal, so a booth linked to a
// shop (or to another one) sends its whole history; the link is remembered
// and the counter's changes are taken again from the start. Does nothing
// when `link` is the one remembered.
void LinkToShop(TJournalDb& db, const QString& link);
