-- The lab's record on the school's PostgreSQL server. Run by a superuser in
-- the lab's database (valtrino-lab-setup does it); running it again keeps
-- the record and the history.
--
-- Roles: valtrino_owner owns everything and cannot log in; valtrino_pc, the
-- PCs' service, may only call valtrino.claim and valtrino.current;
-- valtrino_teacher reads the record and the history. Reset and erase are
-- for a superuser (the teacher through "sudo -u postgres").

\set ON_ERROR_STOP on
SET client_min_messages = warning;
BEGIN;

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = 'valtrino_owner') THEN
        CREATE ROLE valtrino_owner NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = 'valtrino_pc') THEN
        CREATE ROLE valtrino_pc LOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = 'valtrino_teacher') THEN
        CREATE ROLE valtrino_teacher NOLOGIN;
    END IF;
END
$$;
ALTER ROLE valtrino_owner NOLOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE;
ALTER ROLE valtrino_pc LOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE NOINHERIT CONNECTION LIMIT 200;
-- A PC cut off in the middle of a claim must not hold the record's row.
ALTER ROLE valtrino_pc SET statement_timeout = '2s';
ALTER ROLE valtrino_pc SET lock_timeout = '1s';
ALTER ROLE valtrino_pc SET idle_in_transaction_session_timeout = '2s';
ALTER ROLE valtrino_pc SET idle_session_timeout = '5min';

-- Nobody but the owner makes anything in the database.
REVOKE ALL ON SCHEMA public FROM PUBLIC;
CREATE SCHEMA IF NOT EXISTS valtrino AUTHORIZATION valtrino_owner;
REVOKE ALL ON SCHEMA valtrino FROM PUBLIC;
GRANT USAGE ON SCHEMA valtrino TO valtrino_pc, valtrino_teacher;
SET LOCAL ROLE valtrino_owner;

-- One row: the lab's record. Score 0 and no name until the first claim.
CREATE TABLE IF NOT EXISTS valtrino.record (
    one boolean PRIMARY KEY DEFAULT true CHECK (one),
    score integer NOT NULL CHECK (score BETWEEN 0 AND 32767),
    name text NOT NULL,
    account text NOT NULL,
    client inet,
    claim uuid,
    at timestamptz NOT NULL DEFAULT pg_catalog.now()
);
INSERT INTO valtrino.record (score, name, account) VALUES (0, '', '') ON CONFLICT DO NOTHING;

-- Every claim, stored or not. Address and time are the server's own.
CREATE TABLE IF NOT EXISTS valtrino.history (
    claim uuid PRIMARY KEY,
    account text NOT NULL,
    score integer NOT NULL,
    name text NOT NULL,
    client inet DEFAULT pg_catalog.inet_client_addr(),
    at timestamptz NOT NULL DEFAULT pg_catalog.now(),
    verdict text NOT NULL CHECK (verdict IN ('stored', 'not-higher'))
);
REVOKE ALL ON valtrino.record, valtrino.history FROM PUBLIC;

-- Append-only: rows are never changed or deleted one by one; only the
-- teacher's erase empties the whole history.
CREATE OR REPLACE FUNCTION valtrino.append_only() RETURNS trigger
    LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $$
BEGIN
    RAISE EXCEPTION 'valtrino.history is append-only';
END
$$;
DROP TRIGGER IF EXISTS append_only ON valtrino.history;
CREATE TRIGGER append_only BEFORE UPDATE OR DELETE ON valtrino.history
    FOR EACH ROW EXECUTE FUNCTION valtrino.append_only();

-- A PC's claim: 'stored' when score is strictly above the record at that
-- instant, else 'not-higher'. A claim id seen before gets its first verdict
-- again and no second row, so a PC may retry after a lost reply.
CREATE OR REPLACE FUNCTION valtrino.claim(claim_id uuid, account text, score integer, name text)
    RETURNS text LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    first text;
    won boolean;
BEGIN
    IF claim_id IS NULL OR account IS NULL OR score IS NULL OR name IS NULL THEN
        RAISE EXCEPTION 'claim: null argument';
    END IF;
    IF score < 0 OR score > 32767 THEN
        RAISE EXCEPTION 'claim: score % out of 0..32767', score;
    END IF;
    IF pg_catalog.length(name) > 32767 OR pg_catalog.length(account) NOT BETWEEN 1 AND 256 THEN
        RAISE EXCEPTION 'claim: name or account too long';
    END IF;
    SELECT h.verdict INTO first FROM valtrino.history h WHERE h.claim = claim_id;
    IF FOUND THEN
        RETURN first;
    END IF;
    BEGIN
        INSERT INTO valtrino.record AS r (one, score, name, account, client, claim, at)
            VALUES (true, claim.score, claim.name, claim.account, pg_catalog.inet_client_addr(), claim_id,
                    pg_catalog.now())
            ON CONFLICT (one) DO UPDATE
                SET score = EXCLUDED.score, name = EXCLUDED.name, account = EXCLUDED.account,
                    client = EXCLUDED.client, claim = EXCLUDED.claim, at = EXCLUDED.at
                WHERE r.score < EXCLUDED.score
            RETURNING true INTO won;
        first := CASE WHEN won THEN 'stored' ELSE 'not-higher' END;
        INSERT INTO valtrino.history (claim, account, score, name, verdict)
            VALUES (claim_id, claim.account, claim.score, claim.name, first);
    EXCEPTION WHEN unique_violation THEN
        -- The same claim, retried while its first try was committing.
        SELECT h.verdict INTO first FROM valtrino.history h WHERE h.claim = claim_id;
    END;
    RETURN first;
END
$$;

-- The lab's record, for the PCs' start-up.
CREATE OR REPLACE FUNCTION valtrino.current(OUT score integer, OUT name text)
    LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
    SELECT r.score, r.name FROM valtrino.record r
$$;

-- The teacher's: the record back to none; the history emptied (it holds
-- pupils' names).
CREATE OR REPLACE FUNCTION valtrino.reset() RETURNS void
    LANGUAGE sql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
    UPDATE valtrino.record SET score = 0, name = '', account = '', client = NULL, claim = NULL, at = pg_catalog.now()
$$;
CREATE OR REPLACE FUNCTION valtrino.erase_history() RETURNS void
    LANGUAGE sql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
    TRUNCATE valtrino.history
$$;

CREATE OR REPLACE VIEW valtrino.lab_record AS
    SELECT score, name, account, client, at FROM valtrino.record;
CREATE OR REPLACE VIEW valtrino.claims AS
    SELECT at, account, name, score, client, verdict, claim FROM valtrino.history ORDER BY at, claim;

REVOKE ALL ON FUNCTION valtrino.append_only(), valtrino.claim(uuid, text, integer, text), valtrino.current(),
    valtrino.reset(), valtrino.erase_history() FROM PUBLIC;
REVOKE ALL ON valtrino.lab_record, valtrino.claims FROM PUBLIC;
GRANT EXECUTE ON FUNCTION valtrino.claim(uuid, text, integer, text), valtrino.current() TO valtrino_pc;
GRANT SELECT ON valtrino.lab_record, valtrino.claims TO valtrino_teacher;

RESET ROLE;
COMMIT;
