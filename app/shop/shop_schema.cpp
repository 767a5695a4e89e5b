#include "app/shop/shop_schema.h"

#include <iterator>
#include <stdexcept>

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace {

// A released step is never edited: changes go in a new step at the end.
const QStringList kSteps[] = {
    // 1: booths, sessions, calls, payments and voids, operators and shifts,
    // with their roles' rights and the announcements.
    {
        QStringLiteral("CREATE SEQUENCE shop.change_seq"),
        QStringLiteral(
            "CREATE TABLE shop.booths ("
            " name text PRIMARY KEY CHECK (name <> ''),"
            " db_role name NOT NULL UNIQUE,"
            " state text NOT NULL DEFAULT 'Libre'"
            "  CHECK (state IN ('Libre', 'Cerrada', 'Marcando', 'Timbrando', 'En curso')),"
            " call_local_id bigint,"
            " call_number text,"
            " call_destination text,"
            " call_started timestamptz,"
            " call_answered timestamptz,"
            " call_cost bigint NOT NULL DEFAULT 0,"
            " call_price bigint NOT NULL DEFAULT 0,"
            " last_seen timestamptz)"),
        QStringLiteral("CREATE TABLE shop.operators ("
                       " name text PRIMARY KEY CHECK (name <> ''),"
                       " active boolean NOT NULL DEFAULT true,"
                       " created_at timestamptz NOT NULL DEFAULT now())"),
        QStringLiteral("CREATE TABLE shop.sessions ("
                       " id bigserial PRIMARY KEY,"
                       " booth text NOT NULL REFERENCES shop.booths (name) ON UPDATE CASCADE,"
                       " opened_at timestamptz NOT NULL DEFAULT now(),"
                       " closed_at timestamptz,"
                       " limit_amount bigint CHECK (limit_amount > 0),"
                       " opened_by text,"
                       " closed_by text,"
                       " changed bigint NOT NULL DEFAULT 0,"
                       " CHECK (closed_at IS NULL OR closed_at >= opened_at))"),
        QStringLiteral("CREATE UNIQUE INDEX sessions_one_open ON shop.sessions (booth) WHERE closed_at IS NULL"),
        QStringLiteral("CREATE INDEX sessions_changed ON shop.sessions (booth, changed)"),
        // change_seq is the booth's own outbox number of the row's last
        // change: an older change arriving late never overwrites a newer one.
        QStringLiteral(
            "CREATE TABLE shop.calls ("
            " booth text NOT NULL REFERENCES shop.booths (name) ON UPDATE CASCADE,"
            " local_id bigint NOT NULL,"
            " change_seq bigint NOT NULL,"
            " session_id bigint REFERENCES shop.sessions (id),"
            " started_at timestamptz NOT NULL,"
            " answered_at timestamptz,"
            " ended_at timestamptz,"
            " updated_at timestamptz NOT NULL,"
            " number text NOT NULL,"
            " dial_string text NOT NULL,"
            " destination text NOT NULL DEFAULT '',"
            " rate bigint NOT NULL DEFAULT 0,"
            " rate_origin text CHECK (rate_origin IN ('portal', 'operador', 'reserva')),"
            " seconds integer NOT NULL DEFAULT 0,"
            " charged_minutes bigint NOT NULL DEFAULT 0,"
            " provider_cost bigint NOT NULL DEFAULT 0,"
            " customer_price bigint NOT NULL DEFAULT 0,"
            " state text NOT NULL CHECK (state IN ('abierta', 'terminada', 'interrumpida')),"
            " sip_status integer,"
            " end_reason text NOT NULL DEFAULT '',"
            " cut_reason text,"
            " answer_flags text,"
            " quality_mos real,"
            " quality_jitter_ms real,"
            " quality_loss_percent real,"
            " PRIMARY KEY (booth, local_id))"),
        QStringLiteral("CREATE INDEX calls_started ON shop.calls (started_at)"),
        QStringLiteral("CREATE INDEX calls_session ON shop.calls (session_id) WHERE session_id IS NOT NULL"),
        QStringLiteral("CREATE INDEX calls_open ON shop.calls (booth) WHERE state = 'abierta'"),
        // One payment per call at a time: the counter and the booth racing
        // to charge the same call meet here.
        QStringLiteral("CREATE TABLE shop.payments ("
                       " id bigserial PRIMARY KEY,"
                       " booth text NOT NULL,"
                       " call_local_id bigint NOT NULL,"
                       " paid_at timestamptz NOT NULL,"
                       " amount_received bigint,"
                       " place text NOT NULL CHECK (place IN ('cabina', 'mostrador')),"
                       " operator text,"
                       " changed bigint NOT NULL DEFAULT 0,"
                       " UNIQUE (booth, call_local_id),"
                       " FOREIGN KEY (booth, call_local_id) REFERENCES shop.calls (booth, local_id)"
                       "  ON UPDATE CASCADE)"),
        QStringLiteral("CREATE INDEX payments_paid ON shop.payments (paid_at)"),
        QStringLiteral("CREATE INDEX payments_changed ON shop.payments (booth, changed)"),
        QStringLiteral("CREATE TABLE shop.voided_payments ("
                       " id bigserial PRIMARY KEY,"
                       " booth text NOT NULL,"
                       " call_local_id bigint NOT NULL,"
                       " voided_at timestamptz NOT NULL,"
                       " paid_at timestamptz NOT NULL,"
                       " amount_received bigint,"
                       " place text NOT NULL,"
                       " operator text,"
                       " voided_by text,"
                       " changed bigint NOT NULL DEFAULT 0,"
                       " FOREIGN KEY (booth, call_local_id) REFERENCES shop.calls (booth, local_id)"
                       "  ON UPDATE CASCADE)"),
        QStringLiteral("CREATE INDEX voided_changed ON shop.voided_payments (booth, changed)"),
        QStringLiteral("CREATE INDEX voided_at ON shop.voided_payments (voided_at)"),
        QStringLiteral("CREATE TABLE shop.shifts ("
                       " id bigserial PRIMARY KEY,"
                       " operator text REFERENCES shop.operators (name),"
                       " opened_at timestamptz NOT NULL DEFAULT now(),"
                       " opening_cash bigint NOT NULL DEFAULT 0,"
                       " closed_at timestamptz,"
                       " cash_expected bigint,"
                       " cash_counted bigint)"),
        QStringLiteral("CREATE UNIQUE INDEX shifts_one_open ON shop.shifts ((true)) WHERE closed_at IS NULL"),

        // The booth of the logged-in role, for the row policies.
        QStringLiteral("CREATE FUNCTION shop.my_booth() RETURNS text LANGUAGE sql STABLE"
                       " AS $$ SELECT name FROM shop.booths WHERE db_role = current_user $$"),
        QStringLiteral(
            "CREATE FUNCTION shop.announce() RETURNS trigger LANGUAGE plpgsql AS $$"
            " BEGIN"
            "  PERFORM pg_notify('shop_changes', COALESCE(to_jsonb(NEW), to_jsonb(OLD)) ->> TG_ARGV[0]);"
            "  RETURN NULL;"
            " END $$"),
        // The number is taken under a lock held to the commit, so numbers
        // become visible in order: a booth that has seen N has seen all below.
        QStringLiteral("CREATE FUNCTION shop.stamp_change() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER"
                       " SET search_path = shop, pg_temp AS $$"
                       " BEGIN"
                       "  PERFORM pg_advisory_xact_lock(727001);"
                       "  NEW.changed := nextval('shop.change_seq');"
                       "  RETURN NEW;"
                       " END $$"),
        QStringLiteral("CREATE TRIGGER booths_announce AFTER INSERT OR UPDATE OR DELETE ON shop.booths"
                       " FOR EACH ROW EXECUTE FUNCTION shop.announce('name')"),
        QStringLiteral("CREATE TRIGGER calls_announce AFTER INSERT OR UPDATE OR DELETE ON shop.calls"
                       " FOR EACH ROW EXECUTE FUNCTION shop.announce('booth')"),
        QStringLiteral("CREATE TRIGGER sessions_announce AFTER INSERT OR UPDATE OR DELETE ON shop.sessions"
                       " FOR EACH ROW EXECUTE FUNCTION shop.announce('booth')"),
        QStringLiteral("CREATE TRIGGER payments_announce AFTER INSERT OR UPDATE OR DELETE ON shop.payments"
                       " FOR EACH ROW EXECUTE FUNCTION shop.announce('booth')"),
        QStringLiteral("CREATE TRIGGER voided_announce AFTER INSERT OR UPDATE OR DELETE ON shop.voided_payments"
                       " FOR EACH ROW EXECUTE FUNCTION shop.announce('booth')"),
        QStringLiteral("CREATE TRIGGER sessions_stamp BEFORE INSERT OR UPDATE ON shop.sessions"
                       " FOR EACH ROW EXECUTE FUNCTION shop.stamp_change()"),
        QStringLiteral("CREATE TRIGGER payments_stamp BEFORE INSERT OR UPDATE ON shop.payments"
                       " FOR EACH ROW EXECUTE FUNCTION shop.stamp_change()"),
        QStringLiteral("CREATE TRIGGER voided_stamp BEFORE INSERT OR UPDATE ON shop.voided_payments"
                       " FOR EACH ROW EXECUTE FUNCTION shop.stamp_change()"),

        // A payment taken at the booth: only for the caller's own ended call,
        // and only when nobody charged it first. False when it was.
        QStringLiteral(
            "CREATE FUNCTION shop.pay_at_booth(p_local_id bigint, p_paid_at timestamptz,"
            " p_amount_received bigint) RETURNS boolean LANGUAGE plpgsql SECURITY DEFINER"
            " SET search_path = shop, pg_temp AS $$"
            " DECLARE b text; taken bigint;"
            " BEGIN"
            "  SELECT name INTO b FROM shop.booths WHERE db_role = session_user;"
            "  IF b IS NULL THEN"
            "   RAISE EXCEPTION 'el rol % no es el de ninguna cabina', session_user USING ERRCODE = '42501';"
            "  END IF;"
            "  IF NOT EXISTS (SELECT 1 FROM shop.calls WHERE booth = b AND local_id = p_local_id"
            "                 AND state <> 'abierta') THEN"
            "   RAISE EXCEPTION 'la llamada % de % no está terminada en la tienda', p_local_id, b"
            "    USING ERRCODE = '23503';"
            "  END IF;"
            "  INSERT INTO shop.payments (booth, call_local_id, paid_at, amount_received, place)"
            "   VALUES (b, p_local_id, p_paid_at, p_amount_received, 'cabina')"
            "   ON CONFLICT (booth, call_local_id) DO NOTHING RETURNING id INTO taken;"
            "  RETURN taken IS NOT NULL;"
            " END $$"),
        // The booth takes back only a payment it took itself, the one it
        // names by its time; the counter's payments are the counter's.
        QStringLiteral(
            "CREATE FUNCTION shop.void_at_booth(p_local_id bigint, p_voided_at timestamptz,"
            " p_paid_at timestamptz) RETURNS boolean LANGUAGE plpgsql SECURITY DEFINER"
            " SET search_path = shop, pg_temp AS $$"
            " DECLARE b text; p shop.payments;"
            " BEGIN"
            "  SELECT name INTO b FROM shop.booths WHERE db_role = session_user;"
            "  IF b IS NULL THEN"
            "   RAISE EXCEPTION 'el rol % no es el de ninguna cabina', session_user USING ERRCODE = '42501';"
            "  END IF;"
            "  DELETE FROM shop.payments WHERE booth = b AND call_local_id = p_local_id AND place = 'cabina'"
            "   AND paid_at = p_paid_at RETURNING * INTO p;"
            "  IF p.id IS NULL THEN RETURN false; END IF;"
            "  INSERT INTO shop.voided_payments (booth, call_local_id, voided_at, paid_at, amount_received,"
            "   place, operator, voided_by)"
            "   VALUES (b, p_local_id, p_voided_at, p.paid_at, p.amount_received, p.place, p.operator, b);"
            "  RETURN true;"
            " END $$"),
        // The counter's void: the payment moves to the voided ones whole.
        QStringLiteral(
            "CREATE FUNCTION shop.void_payment(p_booth text, p_local_id bigint, p_voided_at timestamptz,"
            " p_voided_by text) RETURNS boolean LANGUAGE plpgsql AS $$"
            " DECLARE p shop.payments;"
            " BEGIN"
            "  DELETE FROM shop.payments WHERE booth = p_booth AND call_local_id = p_local_id RETURNING * INTO p;"
            "  IF p.id IS NULL THEN RETURN false; END IF;"
            "  INSERT INTO shop.voided_payments (booth, call_local_id, voided_at, paid_at, amount_received,"
            "   place, operator, voided_by)"
            "   VALUES (p_booth, p_local_id, p_voided_at, p.paid_at, p.amount_received, p.place, p.operator,"
            "    p_voided_by);"
            "  RETURN true;"
            " END $$"),
        QStringLiteral("REVOKE ALL ON FUNCTION shop.pay_at_booth(bigint, timestamptz, bigint),"
                       " shop.void_at_booth(bigint, timestamptz, timestamptz),"
                       " shop.void_payment(text, bigint, timestamptz, text) FROM PUBLIC"),
        QStringLiteral("GRANT EXECUTE ON FUNCTION shop.pay_at_booth(bigint, timestamptz, bigint),"
                       " shop.void_at_booth(bigint, timestamptz, timestamptz) TO shop_booth"),
        QStringLiteral("GRANT EXECUTE ON FUNCTION shop.void_payment(text, bigint, timestamptz, text)"
                       " TO shop_counter"),

        QStringLiteral("GRANT USAGE ON SCHEMA shop TO shop_booth, shop_counter"),
        QStringLiteral("GRANT SELECT ON shop.schema_version TO shop_booth"),
        QStringLiteral("GRANT SELECT, INSERT, UPDATE ON shop.calls TO shop_booth"),
        QStringLiteral("GRANT SELECT ON shop.booths, shop.sessions, shop.payments, shop.voided_payments"
                       " TO shop_booth"),
        QStringLiteral("GRANT UPDATE (state, call_local_id, call_number, call_destination, call_started,"
                       " call_answered, call_cost, call_price, last_seen) ON shop.booths TO shop_booth"),
        QStringLiteral("GRANT SELECT ON ALL TABLES IN SCHEMA shop TO shop_counter"),
        QStringLiteral("GRANT INSERT, UPDATE, DELETE ON shop.sessions, shop.payments, shop.voided_payments,"
                       " shop.operators, shop.shifts TO shop_counter"),
        QStringLiteral("GRANT UPDATE ON shop.booths TO shop_counter"),
        QStringLiteral("GRANT USAGE ON ALL SEQUENCES IN SCHEMA shop TO shop_counter"),

        QStringLiteral("ALTER TABLE shop.booths ENABLE ROW LEVEL SECURITY"),
        QStringLiteral("ALTER TABLE shop.calls ENABLE ROW LEVEL SECURITY"),
        QStringLiteral("ALTER TABLE shop.sessions ENABLE ROW LEVEL SECURITY"),
        QStringLiteral("ALTER TABLE shop.payments ENABLE ROW LEVEL SECURITY"),
        QStringLiteral("ALTER TABLE shop.voided_payments ENABLE ROW LEVEL SECURITY"),
        QStringLiteral("CREATE POLICY booth_own ON shop.booths TO shop_booth"
                       " USING (db_role = current_user) WITH CHECK (db_role = current_user)"),
        QStringLiteral("CREATE POLICY counter_all ON shop.booths TO shop_counter USING (true) WITH CHECK (true)"),
        QStringLiteral("CREATE POLICY booth_own ON shop.calls TO shop_booth"
                       " USING (booth = shop.my_booth()) WITH CHECK (booth = shop.my_booth())"),
        QStringLiteral("CREATE POLICY counter_read ON shop.calls FOR SELECT TO shop_counter USING (true)"),
        QStringLiteral("CREATE POLICY booth_read ON shop.sessions FOR SELECT TO shop_booth"
                       " USING (booth = shop.my_booth())"),
        QStringLiteral("CREATE POLICY counter_all ON shop.sessions TO shop_counter USING (true) WITH CHECK (true)"),
        QStringLiteral("CREATE POLICY booth_read ON shop.payments FOR SELECT TO shop_booth"
                       " USING (booth = shop.my_booth())"),
        QStringLiteral("CREATE POLICY counter_all ON shop.payments TO shop_counter USING (true) WITH CHECK (true)"),
        QStringLiteral("CREATE POLICY booth_read ON shop.voided_payments FOR SELECT TO shop_booth"
                       " USING (booth = shop.my_booth())"),
        QStringLiteral("CREATE POLICY counter_all ON shop.voided_payments TO shop_counter"
                       " USING (true) WITH CHECK (true)"),
    },
    // 2: what the console lists under each booth and checkout charges: the
    // ended calls with a price and no payment, read with the reader's own
    // rights (a booth sees its own); a booth's calls by time; and the price
    // charged kept on the payment itself, as it stood when the money was
    // taken, so the close sums payments alone.
    {
        QStringLiteral("ALTER TABLE shop.payments ADD COLUMN price bigint"),
        QStringLiteral("ALTER TABLE shop.voided_payments ADD COLUMN price bigint"),
        QStringLiteral("UPDATE shop.payments p SET price = c.customer_price FROM shop.calls c"
                       " WHERE c.booth = p.booth AND c.local_id = p.call_local_id"),
        QStringLiteral("CREATE FUNCTION shop.price_payment() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER"
                       " SET search_path = shop, pg_temp AS $$"
                       " BEGIN"
                       "  IF NEW.price IS NULL THEN"
                       "   SELECT customer_price INTO NEW.price FROM shop.calls"
                       "    WHERE booth = NEW.booth AND local_id = NEW.call_local_id;"
                       "  END IF;"
                       "  RETURN NEW;"
                       " END $$"),
        QStringLiteral("CREATE TRIGGER payments_price BEFORE INSERT ON shop.payments"
                       " FOR EACH ROW EXECUTE FUNCTION shop.price_payment()"),
        QStringLiteral("CREATE TRIGGER voided_price BEFORE INSERT ON shop.voided_payments"
                       " FOR EACH ROW EXECUTE FUNCTION shop.price_payment()"),
        // A void takes the change lock before it touches the payment, as an
        // insert does (its number's trigger runs first): a void and a
        // payment of the same call never wait on each other in a circle.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION shop.void_at_booth(p_local_id bigint, p_voided_at timestamptz,"
            " p_paid_at timestamptz) RETURNS boolean LANGUAGE plpgsql SECURITY DEFINER"
            " SET search_path = shop, pg_temp AS $$"
            " DECLARE b text; p shop.payments;"
            " BEGIN"
            "  PERFORM pg_advisory_xact_lock(727001);"
            "  SELECT name INTO b FROM shop.booths WHERE db_role = session_user;"
            "  IF b IS NULL THEN"
            "   RAISE EXCEPTION 'el rol % no es el de ninguna cabina', session_user USING ERRCODE = '42501';"
            "  END IF;"
            "  DELETE FROM shop.payments WHERE booth = b AND call_local_id = p_local_id AND place = 'cabina'"
            "   AND paid_at = p_paid_at RETURNING * INTO p;"
            "  IF p.id IS NULL THEN RETURN false; END IF;"
            "  INSERT INTO shop.voided_payments (booth, call_local_id, voided_at, paid_at, amount_received,"
            "   place, operator, voided_by)"
            "   VALUES (b, p_local_id, p_voided_at, p.paid_at, p.amount_received, p.place, p.operator, b);"
            "  RETURN true;"
            " END $$"),
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION shop.void_payment(p_booth text, p_local_id bigint, p_voided_at timestamptz,"
            " p_voided_by text) RETURNS boolean LANGUAGE plpgsql AS $$"
            " DECLARE p shop.payments;"
            " BEGIN"
            "  PERFORM pg_advisory_xact_lock(727001);"
            "  DELETE FROM shop.payments WHERE booth = p_booth AND call_local_id = p_local_id RETURNING * INTO p;"
            "  IF p.id IS NULL THEN RETURN false; END IF;"
            "  INSERT INTO shop.voided_payments (booth, call_local_id, voided_at, paid_at, amount_received,"
            "   place, operator, voided_by)"
            "   VALUES (p_booth, p_local_id, p_voided_at, p.paid_at, p.amount_received, p.place, p.operator,"
            "    p_voided_by);"
            "  RETURN true;"
            " END $$"),

        QStringLiteral("CREATE INDEX calls_booth_started ON shop.calls (booth, started_at)"),
        QStringLiteral("CREATE VIEW shop.unpaid_calls WITH (security_invoker = true) AS"
                       " SELECT c.* FROM shop.calls c"
                       " WHERE c.state <> 'abierta' AND c.customer_price > 0 AND NOT EXISTS"
                       "  (SELECT 1 FROM shop.payments p WHERE p.booth = c.booth AND p.call_local_id = c.local_id)"),
        QStringLiteral("GRANT SELECT ON shop.unpaid_calls TO shop_booth, shop_counter"),
    },
};

constexpr int kVersion = static_cast<int>(std::size(kSteps));

[[noreturn]] void Fail(const QString& what) {
    throw std::runtime_error(("No se puede preparar la base de la tienda: " + what).toStdString());
}

void Exec(QSqlDatabase& db, const QString& statement) {
    QSqlQuery query(db);
    if (!query.exec(statement)) Fail(query.lastError().text() + QStringLiteral(" (") + statement.left(80) + ')');
}

// Group roles belong to the whole server, not one database: a second shop
// database on the same server finds them there.
void CreateGroupRoles(QSqlDatabase& db) {
    for (const char* role : {"shop_booth", "shop_counter"})
        Exec(db, QStringLiteral("DO $$ BEGIN"
                                " IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = '%1') THEN"
                                "  CREATE ROLE %1 NOLOGIN;"
                                " END IF; END $$")
                     .arg(QLatin1String(role)));
}

}  // namespace

int ShopSchemaVersion() { return kVersion; }

int ReadShopSchemaVersion(QSqlDatabase& db) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT to_regclass('shop.schema_version') IS NOT NULL")) || !query.next())
        Fail(query.lastError().text());
    if (!query.value(0).toBool()) return 0;
    if (!query.exec(QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM shop.schema_version")) || !query.next())
        Fail(query.lastError().text());
    return query.value(0).toInt();
}

void MigrateShop(QSqlDatabase& db, int upTo) {
    if (!db.transaction()) Fail(db.lastError().text());
    try {
        // Two programs migrating at once take turns; the second finds the
        // work done.
        Exec(db, QStringLiteral("SELECT pg_advisory_xact_lock(727000)"));
        CreateGroupRoles(db);
        Exec(db, QStringLiteral("CREATE SCHEMA IF NOT EXISTS shop"));
        Exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS shop.schema_version (version integer NOT NULL)"));
        const int found = ReadShopSchemaVersion(db);
        if (found > kVersion)
            Fail(QStringLiteral("la base es de una versión más nueva del programa (%1)").arg(found));
        for (int version = found + 1; version <= upTo; ++version)
            for (const QString& statement : kSteps[version - 1]) Exec(db, statement);
        if (upTo > found) {
            Exec(db, QStringLiteral("DELETE FROM shop.schema_version"));
            Exec(db, QStringLiteral("INSERT INTO shop.schema_version (version) VALUES (%1)").arg(upTo));
        }
        if (!db.commit()) Fail(db.lastError().text());
    } catch (...) {
        db.rollback();
        throw;
    }
}
