// The shop database as the counter reads and writes it: the board of every
// booth, booth sessions, charging a session's calls, voids and the shop's
// close. One QPSQL connection of the counter's role, owned by the thread
// that made the object (the user-interface thread).
//
// Errors are std::runtime_error with the server's text, and
// std::logic_error for a gesture the shop's state does not allow (a booth
// already open, a call charged by somebody else first).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>

#include "app/counter/booth_board.h"
#include "app/counter/booth_session.h"
#include "app/counter/shop_close.h"

inline constexpr char kBoothAlreadyOpenText[] = "La cabina ya está abierta.";
inline constexpr char kBoothNotOpenText[] = "La cabina no está abierta.";
inline constexpr char kChargedMeanwhileText[] = "Una de las llamadas ya fue cobrada; revise la cuenta otra vez.";

class TCounterDb {
public:
    // Connects to the shop database at `url` (postgresql://...); the
    // payments and sessions it writes carry `operatorName`.
    TCounterDb(const QString& url, const QString& operatorName);
    ~TCounterDb();
    TCounterDb(const TCounterDb&) = delete;
    TCounterDb& operator=(const TCounterDb&) = delete;

    QSqlDatabase& Db() { return Db_; }
    const QString& Operator() const { return Operator_; }

    // Every booth with its session and its calls still to be charged, by name.
    std::vector<TBoothRow> Booths();

    // "Abrir cabina": throws kBoothAlreadyOpenText when it is open.
    TBoothSession OpenSession(const QString& booth, std::optional<TMoney> limit);
    // "Cerrar cabina": ends the open session; throws kBoothNotOpenText.
    void CloseSession(const QString& booth);
    // The booth's ended calls nobody charged yet, oldest first (the
    // checkout's bill: every unpaid call of the booth, so a call left from
    // an earlier customer is not forgotten either).
    std::vector<TShopCall> UnpaidCalls(const QString& booth);
    // Charges the calls at the counter in one transaction: all or none. A
    // call charged meanwhile (at the booth, at another counter) refuses the
    // whole with kChargedMeanwhileText. `received` is the cash handed over
    // for the whole bill; each call keeps its own price as received.
    void Charge(const QString& booth, const std::vector<std::int64_t>& localIds);

    // The shop's close over calls started in [from, to) and payments taken
    // in it, with the opening cash of the operators' shifts open then.
    TShopClose Close(const QDateTime& from, const QDateTime& to);
    std::vector<TShopCall> Calls(const QDateTime& from, const QDateTime& to);
    // Takes a payment back (after the administrator's PIN); false when the
    // call was not paid.
    bool VoidPayment(const QString& booth, std::int64_t localId);

private:
    QString ConnectionName_;
    QSqlDatabase Db_;
    QString Operator_;
};

// Reads the rows of shop.calls in the journal's shape; the query's columns
// are those of kShopCallColumns.
extern const char kShopCallColumns[];
