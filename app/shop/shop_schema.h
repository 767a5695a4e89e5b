// The shop's database on PostgreSQL: one schema "shop" holding every
// booth's calls, the payments and sessions the counter takes, and the
// booths' live state for the counter's console. Its version is the one row
// of shop.schema_version; each numbered step brings it one version up, as
// the booth's own SQLite journal does.
//
// Times are timestamptz; amounts are bigint ten-thousandths of the currency
// unit, as the program keeps money.
//
// Who may do what is the database's to enforce, with row-level security:
//  - shop_booth (the group of every booth's login) inserts and updates only
//    its own booth's calls and live state, reads its own sessions and
//    payments, and takes a payment only through shop.pay_at_booth() (and
//    takes back one it took through shop.void_at_booth());
//  - shop_counter reads everything and writes payments, voids, sessions,
//    operators and shifts.
//    A void goes through shop.void_payment(), which moves the payment to the
//    voided ones whole and takes the change lock first, as every payment
//    insert does.
// shop.unpaid_calls lists the ended calls with a price and no payment.
// Every change to booths, calls, sessions, payments and voided payments is
// announced with NOTIFY shop_changes, '<booth name>'. Payments, voids and
// sessions carry "changed", a shop-wide number given in commit order, so a
// booth pulls what the counter did since the last number it saw.
#pragma once

#include <QSqlDatabase>

// The version this program writes.
int ShopSchemaVersion();

// The version the database holds (0 when it has no shop schema yet).
int ReadShopSchemaVersion(QSqlDatabase& db);

// Creates the group roles when missing, then the schema or the steps it
// lacks, in one transaction: a failure leaves the database as it was.
// `upTo` stops at an earlier version (tests migrate from each one).
// Throws std::runtime_error "No se puede preparar la base de la tienda: ..."
// (with the server's text); a database of a newer program is refused.
void MigrateShop(QSqlDatabase& db, int upTo = ShopSchemaVersion());
